#include "skin/data/skin_loader.h"

namespace clip::skin {

Result<SkinElements> build_from_archive(const TSkinReader& reader) {
  const auto description = reader.FindEntryContaining(".ini");
  if (!description) return Error{ErrorKind::bad_data, "skin archive holds no description"};
  const IniDocument ini(std::string_view(reinterpret_cast<const char*>(description->data.data()),
                                         description->data.size()));
  const EntryBitmapLoader loader = [&reader](std::string_view name) -> Pixels24 {
    const auto entry = reader.FindEntry(name);
    if (!entry || entry->empty()) return {};
    auto image = load_bmp(*entry);
    return image ? std::move(image.value()) : Pixels24();
  };
  return build_skin_elements(ini, loader);
}

Result<SkinElements> load_skin_stream(std::span<const uint8_t> skin_stream, const SkinNotifier& notify) {
  TSkinReader reader;
  const Status opened = reader.OpenArchive(skin_stream);
  if (!opened) {
    if (opened.error().kind == ErrorKind::old_version && notify) notify(kOldSkinMessage);
    return opened.error();
  }
  return build_from_archive(reader);
}

}  // namespace clip::skin
