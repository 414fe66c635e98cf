#include "skin/data/skin_data.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace clip::skin {

const std::vector<std::string>& default_skin3rd() {
  static const std::vector<std::string> lines = {
    "TTBDock=Panel",
    "TTBToolbar=Panel",
    "TImageEnMView=scrollbar",
    "TImageEnView=scrollbar",
    "TRzButton=button",
    "TRzCheckGroup=CheckGroup",
    "TRzRadioGroup=Radiogroup",
    "TRzRadioButton=Radiobutton",
    "TRzCheckBox=Checkbox",
    "TRzButtonEdit=Edit",
    "TRzDBRadioGroup=Radiogroup",
    "TRzDBRadioButton=Radiobutton",
    "TRzDBCheckBox=Checkbox",
    "TDBCheckboxEh=Checkbox",
    "TDBCheckboxEh=Checkbox",
    "TLMDCHECKBOX=Checkbox",
    "TLMDDBCHECKBOX=Checkbox",
    "TLMDRadiobutton=Radiobutton",
    "TLMDGROUPBOX=Panel",
    "TLMDSIMPLEPANEL=Panel",
    "TLMDDBCalendar=Panel",
    "TLMDButtonPanel=Panel",
    "TLMDLMDCalculator=Panel",
    "TLMDHeaderPanel=Panel",
    "TLMDTechnicalLine=Panel",
    "TLMDLMDClock=Panel",
    "TLMDTrackbar=trackbar",
    "TLMDListCombobox=combobox",
    "TLMDCheckListCombobox=combobox",
    "TLMDHeaderListCombobox=combobox",
    "TLMDImageCombobox=combobox",
    "TLMDColorCombobox=combobox",
    "TLMDFontCombobox=combobox",
    "TLMDFontSizeCombobox=combobox",
    "TLMDFontSizeCombobox=combobox",
    "TLMDPrinterCombobox=combobox",
    "TLMDDriveCombobox=combobox",
    "TLMDCalculatorComboBox=combobox",
    "TLMDTrackBarComboBox=combobox",
    "TLMDCalendarComboBox=combobox",
    "TLMDRADIOGROUP=radiogroup",
    "TLMDCheckGroup=CheckGroup",
    "TLMDDBRADIOGROUP=radiogroup",
    "TLMDDBCheckGroup=CheckGroup",
    "TLMDEDIT=Edit",
    "TLMDMASKEDIT=Edit",
    "TLMDBROWSEEDIT=Edit",
    "TLMDEXTSPINEDIT=Edit",
    "TLMDCALENDAREDIT=Edit",
    "TLMDFILEOPENEDIT=Edit",
    "TLMDFILESAVEEDIT=Edit",
    "TLMDCOLOREDIT=Edit",
    "TLMDDBEDIT=Edit",
    "TLMDDBMASKEDIT=Edit",
    "TLMDDBEXTSPINEDIT=Edit",
    "TLMDDBSPINEDIT=Edit",
    "TLMDDBEDITDBLookup=Edit",
    "TLMDEDITDBLookup=Edit",
    "TDBLookupCombobox=Combobox",
    "TWWDBCombobox=Combobox",
    "TWWDBLookupCombo=Combobox",
    "TWWDBCombobox=Combobox",
    "TWWKeyCombo=Combobox",
    "TWWTempKeyCombo=combobox",
    "TWWDBDateTimePicker=Combobox",
    "TWWRADIOGROUP=radiogroup",
    "TDXDBPICKEDIT=Combobox",
    "TDXDBCALCEDIT=Combobox",
    "TDXDBIMAGEEDIT=Combobox",
    "TDXDBPOPUPEDIT=Combobox",
    "TDXDBEXTLOOKUPEDIT=Combobox",
    "TDXDBLOOKUPEDIT=Combobox",
    "TDXDBDATEEDIT=Combobox",
    "TDXDATEEDIT=Combobox",
    "TDXPICKEDIT=Combobox",
    "TDXPOPUPEDIT=Combobox",
    "TDXDBCURRENCYEDIT=Edit",
    "TDXDBEDIT=Edit",
    "TDXDBMASKEDIT=Edit",
    "TDXDBHYPERLINKEDIT=Edit",
    "TDXEDIT=Edit",
    "TDXMASKEDIT=Edit",
    "TWWDBEDIT=Edit",
    "TDXBUTTONEDIT=Edit",
    "TDXCURRENCYEDIT=Edit",
    "TDXHYPERLINKEDIT=Edit",
    "TOVCPICTUREFIELD=Edit",
    "TOVCDBPICTUREFIELD=Edit",
    "TOVCSLIDEREDIT=Edit",
    "TOVCDBSLIDEREDIT=Edit",
    "TOVCSIMPLEFIELD=Edit",
    "TOVCDBSIMPLEFIELD=Edit",
    "TO32DBFLEXEDIT=Edit",
    "TOVCNUMERICFIELD=Edit",
    "TOVCDBNUMERICFIELD=Edit"};
  return lines;
}

TSkinData::TSkinData() = default;

TSkinData::~TSkinData() {
  if (on_destroyed) on_destroyed(*this);
}

void TSkinData::apply_main_window_settings() {
  Active = true;
  DisableTag = 99;
  SkinControls = TSkinControlTypes::all().remove(xcProgress).remove(xcStatusBar).remove(xcFastReport);
  Skin3rd = default_skin3rd();
  SkinFormtype = TSkinFormType::sfMainform;
  Version = "1.0.0";
  MenuUpdate = true;
}

std::optional<std::string> TSkinData::skin3rd_kind(std::string_view class_name) const {
  std::string prefix = ascii_lower(class_name) + "=";
  for (const std::string& line : Skin3rd) {
    const std::string lower = ascii_lower(line);
    if (lower.compare(0, prefix.size(), prefix) == 0) return lower.substr(lower.find('=') + 1, 50);
  }
  return std::nullopt;
}

bool TSkinData::read_skin_stream_property(std::span<const uint8_t> property) {
  not_ready_ = true;
  stream_.clear();
  if (property.size() < 4) return false;
  const uint32_t count = uint32_t(property[0]) | uint32_t(property[1]) << 8 | uint32_t(property[2]) << 16 |
                         uint32_t(property[3]) << 24;
  if (count > property.size() - 4) return false;
  if (count == 0) return false;
  stream_.assign(property.begin() + 4, property.begin() + 4 + count);
  return LoadSkin();
}

std::vector<uint8_t> TSkinData::write_skin_stream_property() const {
  const uint32_t n = uint32_t(stream_.size());
  std::vector<uint8_t> out(4 + stream_.size());
  for (int i = 0; i < 4; ++i) out[size_t(i)] = uint8_t(n >> (8 * i));
  std::copy(stream_.begin(), stream_.end(), out.begin() + 4);
  return out;
}

bool TSkinData::SetSkinFile(const std::string& path) {
  not_ready_ = true;
  skin_file_ = path;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  stream_ = std::move(bytes);
  return LoadSkin();
}

bool TSkinData::LoadSkin() {
  not_ready_ = true;
  auto loaded = load_skin_stream(stream_, notifier);
  if (!loaded) return false;
  elements_ = std::move(loaded.value());
  not_ready_ = false;
  return true;
}

}  // namespace clip::skin
