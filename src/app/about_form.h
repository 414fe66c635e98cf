// The About window Form2: what the program can handle, the maker's logo and
// name, two links and a close button.
#pragma once

#include <string>

#include "ui/controls.h"

namespace app {

class TForm2 : public ui::Form {
 public:
  static constexpr const char* kFirstAddress = "http://morvane.example";
  static constexpr const char* kSecondAddress = "http://support.morvane.example";

  explicit TForm2(ui::Component* owner);
  ~TForm2() override { destroy_components(); }
  const char* class_name() const override { return "TForm2"; }

  ui::Image* Image1;
  ui::Label *Label1, *Label7, *Label8, *Label9, *Label10, *Label11, *Label12, *Label13;
  ui::SpeedButton* SpeedButton1;

  bool create();
  void Image1Click();
  void Label12Click();
  void Label13Click();
  void SpeedButton1Click();

  // Opens an address through the shell; tests replace it.
  std::function<void(HWND owner, const char* verb, const std::string& address)> open_address;
};

}  // namespace app
