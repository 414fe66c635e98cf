// A form hosting every kind of control the skin has companions for, in the
// states worth looking at: enabled and disabled, checked and indeterminate,
// an edit with an up-down control inside, drop-down and list combo boxes,
// progress bars empty, half and full, a track bar, up-down controls stacked
// and side by side, tab controls with their tabs on each side (the top one
// with more tabs than fit, so its arrows show), a tab set too long to fit,
// and a status bar with panels of each bevel (and a size grip). It is
// skinned with the program's skin or with a skin file (the full test skin);
// the gallery program shows it for screenshots and the gallery tests check it.
#pragma once

#include <string>

#include "skin/controls/skin_control.h"
#include "skin/data/skin_data.h"
#include "ui/controls.h"

namespace clip::test {

class TGalleryForm : public ui::Form {
 public:
  // An empty skin_file takes the program's skin from its resources.
  explicit TGalleryForm(ui::Component* owner, const std::string& skin_file = {});
  // Creates the windows and puts the controls into their states.
  bool build();

  skin::TSkinData SkinData1;
  ui::Button *Button1, *Button2;
  ui::GroupBox* GroupBox1;
  ui::CheckBox *CheckBox1, *CheckBox2, *CheckBox3;
  ui::RadioButton *RadioButton1, *RadioButton2, *RadioButton3;
  ui::Edit *Edit1, *Edit2, *Edit3;
  ui::ComboBox *ComboBox1, *ComboBox2, *ComboBox3;
  ui::ProgressBar *ProgressBar1, *ProgressBar2, *ProgressBar3;
  ui::TrackBar* TrackBar1;
  ui::UpDown *UpDown1, *UpDown2;
  // Tabs on top (too many to fit), bottom, left and right.
  ui::TabControl *TabControl1, *TabControl2, *TabControl3;
  ui::PageControl* PageControl1;
  ui::TabSet* TabSet1;
  ui::StatusBar* StatusBar1;
  // The up-down control inside Edit3 (a window of the edit).
  HWND EditSpin = nullptr;

  // The companions of the form while the skin manager skins it, else null.
  skin::CompanionHost* companions();

  // Gives the status bar its size grip. Skinning a framework status bar
  // takes the grip away, so this is called after the skin is on, as a
  // program that asks for the grip later does.
  void show_size_grip();

  // Every control with a window, in creation order.
  std::vector<ui::WinControl*> controls() const;
};

}  // namespace clip::test
