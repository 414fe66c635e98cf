// Control kinds as thin wrappers of the standard and common controls, the
// windowless label, image and speed button, menus, forms and the
// application object.
#pragma once

#include <windows.h>
// commctrl.h needs the types of windows.h first.
#include <commctrl.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ui/component.h"
#include "ui/window.h"

namespace ui {

// A 24-bit top-down DIB section; its bits are reachable for pixel work.
class Bitmap {
 public:
  Bitmap() = default;
  Bitmap(int width, int height);
  int width() const noexcept { return width_; }
  int height() const noexcept { return height_; }
  int stride() const noexcept { return (width_ * 3 + 3) & ~3; }
  uint8_t* bits() const noexcept { return bits_; }
  HBITMAP handle() const noexcept { return bitmap_.get(); }
  bool empty() const noexcept { return !bitmap_; }
  // Blue, green, red at x, y.
  uint8_t* pixel(int x, int y) const { return bits_ + y * stride() + x * 3; }

 private:
  int width_ = 0, height_ = 0;
  uint8_t* bits_ = nullptr;
  gdi_object<HBITMAP> bitmap_;
};

// Decodes a baseline or progressive JPEG; an empty bitmap when it is not one
// or when the decoder had to patch damaged data up.
Bitmap decode_jpeg(const uint8_t* data, size_t size);

// Own-class window: fills itself with its colour and paints its windowless
// children. Forms and panels are made of it.
class CustomControl : public WinControl {
 public:
  using WinControl::WinControl;
  // Runs after the background and the windowless children are painted.
  std::function<void(HDC)> OnPaint;
  // Paints the whole client area into `dc` (WM_PAINT and WM_PRINTCLIENT).
  void paint_to(HDC dc);

 protected:
  LRESULT default_handler(Message& message) override;
};

class Panel : public CustomControl {
 public:
  using CustomControl::CustomControl;
  const char* class_name() const override { return "TPanel"; }
  bool is(Kind kind) const override { return kind == Kind::panel || CustomControl::is(kind); }

 protected:
  CreateParams create_params() override;
};

// Drags resize the control it sits next to (on its left or above it).
class Splitter : public CustomControl {
 public:
  using CustomControl::CustomControl;
  const char* class_name() const override { return "TSplitter"; }
  bool is(Kind kind) const override { return kind == Kind::splitter || CustomControl::is(kind); }

 protected:
  CreateParams create_params() override;
  LRESULT default_handler(Message& message) override;

 private:
  Control* neighbour() const;
  bool dragging_ = false;
  POINT start_{};
  int start_size_ = 0;
};

class Label : public GraphicControl {
 public:
  Label(Component* owner, std::string name) : GraphicControl(owner, std::move(name)) {}
  const char* class_name() const override { return "TLabel"; }
  bool is(Kind kind) const override { return kind == Kind::label || GraphicControl::is(kind); }
  bool set_property(std::string_view name, bool value) override;
  const std::string& caption() const noexcept { return caption_; }
  // Sets the text and sizes the label to it with its parent's font.
  void set_caption(std::string caption);
  bool transparent = true;

 protected:
  void paint_self(HDC dc, const RECT& area) override;

 private:
  std::string caption_;
};

class Image : public GraphicControl {
 public:
  Image(Component* owner, std::string name) : GraphicControl(owner, std::move(name)) {}
  const char* class_name() const override { return "TImage"; }
  bool is(Kind kind) const override { return kind == Kind::image || GraphicControl::is(kind); }
  bool set_property(std::string_view name, bool value) override;
  Bitmap picture;
  bool stretch = true;
  bool transparent = false;

 protected:
  void paint_self(HDC dc, const RECT& area) override;
};

// A picture beside a button's caption: `count` images of equal width side
// by side (with four: normal, disabled, pressed, down), placed by `layout`
// with `margin` from the edge and `spacing` to the caption; -1 centres.
enum class GlyphLayout { left, right, top, bottom };
struct Glyph {
  Bitmap picture;
  int count = 1;
  GlyphLayout layout = GlyphLayout::left;
  int margin = -1;
  int spacing = 4;
};

// Draws the first of the glyph's images at x, y, its top-left pixel's colour
// left out.
void draw_glyph(HDC dc, int x, int y, const Glyph& glyph);

class SpeedButton : public GraphicControl {
 public:
  SpeedButton(Component* owner, std::string name) : GraphicControl(owner, std::move(name)) {}
  const char* class_name() const override { return "TSpeedButton"; }
  bool is(Kind kind) const override { return kind == Kind::speed_button || GraphicControl::is(kind); }
  bool set_property(std::string_view name, bool value) override;
  std::string caption;
  bool flat = false;
  bool transparent = false;
  bool enabled = true;
  // A button of a group that stays pressed.
  bool down = false;
  Glyph glyph;

 protected:
  void paint_self(HDC dc, const RECT& area) override;
  LRESULT default_handler(Message& message) override;
};

class Button : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TButton"; }
  bool is(Kind kind) const override { return kind == Kind::button || WinControl::is(kind); }
  std::string caption;
  std::function<void()> OnClick;
  // What a completed press does: runs OnClick.
  void click();

 protected:
  CreateParams create_params() override;
  LRESULT default_handler(Message& message) override;
};

// A captioned frame around other controls (the platform's group box).
class GroupBox : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TGroupBox"; }
  bool is(Kind kind) const override { return kind == Kind::group_box || WinControl::is(kind); }
  std::string caption;

 protected:
  CreateParams create_params() override;
  // The platform's group box never fills its inside: with controls placed
  // in it, the gaps between them would show whatever was there before.
  LRESULT default_handler(Message& message) override;
};

// A push button with a glyph beside its caption, painted by itself.
class BitBtn : public Button {
 public:
  using Button::Button;
  const char* class_name() const override { return "TBitBtn"; }
  bool is(Kind kind) const override { return kind == Kind::bit_button || Button::is(kind); }
  Glyph glyph;

 protected:
  CreateParams create_params() override;
  LRESULT default_handler(Message& message) override;
};

// A stand-alone scroll bar control; it moves its own position as it is
// scrolled and then runs OnScroll.
class ScrollBar : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TScrollBar"; }
  bool is(Kind kind) const override { return kind == Kind::scroll_bar || WinControl::is(kind); }
  bool vertical = false;
  void set_params(int min, int max, int page, int position);
  int position();
  std::function<void(int code)> OnScroll;

 protected:
  CreateParams create_params() override;
  LRESULT default_handler(Message& message) override;
};

// A tool bar of text buttons. OnCustomDrawButton runs before each button is
// drawn, with the bar's DC, the button's rectangle and its custom-draw state
// (CDIS_ flags); the text colour it leaves in the DC is the caption's, and
// the bar's own drawing follows.
class ToolBar : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TToolBar"; }
  bool is(Kind kind) const override { return kind == Kind::tool_bar || WinControl::is(kind); }
  bool set_property(std::string_view name, bool value) override;
  bool flat = false;
  bool transparent = false;
  void add_button(const std::string& caption);
  int button_count();
  std::function<void(ToolBar&, HDC, const RECT&, unsigned state)> OnCustomDrawButton;

 protected:
  CreateParams create_params() override;
  void created() override;
  LRESULT default_handler(Message& message) override;

 private:
  std::vector<std::wstring> captions_;
};

class Memo : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TMemo"; }
  bool is(Kind kind) const override { return kind == Kind::memo || WinControl::is(kind); }
  void add_line(const std::string& line);
  // Appends the lines in one edit of the control.
  void add_lines(const std::vector<std::string>& lines);
  std::vector<std::string> lines();

 protected:
  CreateParams create_params() override;
};

// A single-line edit with a sunken client edge.
class Edit : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TEdit"; }
  bool is(Kind kind) const override { return kind == Kind::edit || WinControl::is(kind); }
  std::string text;
  std::string get_text();

 protected:
  CreateParams create_params() override;
};

// A drop-down combo box: an edit with a list (drop_down) or a list only
// (drop_down_list). Items added before the window exists are added when it
// is made.
class ComboBox : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TComboBox"; }
  bool is(Kind kind) const override { return kind == Kind::combo_box || WinControl::is(kind); }
  enum class Style { drop_down, drop_down_list };
  Style style = Style::drop_down_list;
  void add_item(const std::string& item);
  void set_item_index(int index);
  int item_index();

 protected:
  CreateParams create_params() override;
  void created() override;

 private:
  std::vector<std::string> items_;
};

// A track bar with a thumb on a horizontal (or vertical) channel.
class TrackBar : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TTrackBar"; }
  bool set_property(std::string_view name, bool value) override;
  bool vertical = false;
  bool transparent = false;
  void set_range(int min, int max);
  void set_position(int position);

 protected:
  CreateParams create_params() override;
};

// A check box; allow_grayed gives it the third, indeterminate state.
class CheckBox : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TCheckBox"; }
  bool is(Kind kind) const override { return kind == Kind::check_box || WinControl::is(kind); }
  bool set_property(std::string_view name, bool value) override;
  std::string caption;
  bool allow_grayed = false;
  // BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE.
  void set_state(int state);
  int state();

 protected:
  CreateParams create_params() override;
};

class RadioButton : public CheckBox {
 public:
  using CheckBox::CheckBox;
  const char* class_name() const override { return "TRadioButton"; }
  bool is(Kind kind) const override { return kind == Kind::radio_button || WinControl::is(kind); }

 protected:
  CreateParams create_params() override;
};

// Two arrow buttons that step a position (stacked, or side by side when
// horizontal).
class UpDown : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TUpDown"; }
  bool horizontal = false;

 protected:
  CreateParams create_params() override;
};

class ProgressBar : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TProgressBar"; }
  bool is(Kind kind) const override { return kind == Kind::progress_bar || WinControl::is(kind); }
  void set_range(int min, int max);
  void set_position(int position);
  int position();
  int max();

 protected:
  CreateParams create_params() override;
};

class StatusBar : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TStatusBar"; }
  bool is(Kind kind) const override { return kind == Kind::status_bar || WinControl::is(kind); }
  struct PanelSpec {
    int width;
    bool centred;
    bool owner_drawn;
    std::string text;
  };
  void set_panels(std::vector<PanelSpec> panels);
  void set_panel_text(int index, const std::string& text);
  std::string panel_text(int index);
  void set_owner_drawn(int index);
  std::function<void(int panel, const RECT&)> OnDrawPanel;

 protected:
  CreateParams create_params() override;
  LRESULT default_handler(Message& message) override;

 private:
  std::vector<PanelSpec> panels_;
};

// A group box of radio buttons, one per item, stacked inside it. The
// buttons belong to the group (not to its form).
class RadioGroup : public GroupBox {
 public:
  using GroupBox::GroupBox;
  const char* class_name() const override { return "TRadioGroup"; }
  bool is(Kind kind) const override { return kind == Kind::radio_group || GroupBox::is(kind); }
  void add_item(const std::string& caption);
  const std::vector<RadioButton*>& buttons() const noexcept { return buttons_; }

 private:
  std::vector<RadioButton*> buttons_;
};

// A list of text items with a vertical scroll bar.
class ListBox : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TListBox"; }
  bool is(Kind kind) const override { return kind == Kind::list_box || WinControl::is(kind); }
  void add_item(const std::string& item);

 protected:
  CreateParams create_params() override;
  void created() override;

 private:
  std::vector<std::string> items_;
};

// A date field: a drop-down calendar, or up-down arrows when up_down is set
// (read when the window is made).
class DateTimePicker : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TDateTimePicker"; }
  bool up_down = false;

 protected:
  CreateParams create_params() override;
};

// Tabs of the platform's tab control, on any side of it. The tabs' captions
// given before the window exists are added when it is made.
class TabControl : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TTabControl"; }
  bool is(Kind kind) const override { return kind == Kind::tab_control || WinControl::is(kind); }
  enum class Side { top, bottom, left, right };
  // Read when the window is made.
  Side side = Side::top;
  // One row of tabs scrolled by arrows when they don't fit, rather than
  // several rows (tabs on the left or right always take several rows).
  bool single_line = true;
  void add_tab(const std::string& caption);
  int tab_count();
  void set_tab_index(int index);
  int tab_index();
  std::function<void()> OnChange;

 protected:
  CreateParams create_params() override;
  void created() override;
  LRESULT default_handler(Message& message) override;

 private:
  std::vector<std::string> tabs_;
};

// A tab control whose tabs select pages; to the skin it is a tab control of
// its own kind.
class PageControl : public TabControl {
 public:
  using TabControl::TabControl;
  const char* class_name() const override { return "TPageControl"; }
  bool is(Kind kind) const override { return kind == Kind::page_control || TabControl::is(kind); }
};

class UpDown;

// A strip of tabs along the bottom that paints itself (no platform class).
// Tabs that don't fit are reached with the scroll arrows at its right end,
// an up-down control that is the first component it owns.
class TabSet : public CustomControl {
 public:
  TabSet(Component* owner, std::string name);
  const char* class_name() const override { return "TTabSet"; }
  const std::vector<std::string>& tabs() const noexcept { return tabs_; }
  void set_tabs(std::vector<std::string> tabs);
  int start_margin = 5;
  int end_margin = 5;
  // The first tab shown and the selected tab.
  int first_index() const noexcept { return first_; }
  void set_first_index(int index);
  int tab_index() const noexcept { return selected_; }
  void set_tab_index(int index);
  UpDown* arrows() const noexcept { return arrows_; }
  // The caption's width in the set's font.
  int text_width(const std::string& caption);
  std::function<void()> OnChange;

 protected:
  CreateParams create_params() override;
  void created() override;
  LRESULT default_handler(Message& message) override;

 private:
  struct Slot {
    int index;
    RECT rect;
  };
  std::vector<Slot> layout();
  void update_arrows();
  void paint_tabs(HDC dc);
  std::vector<std::string> tabs_;
  int first_ = 0;
  int selected_ = 0;
  UpDown* arrows_ = nullptr;
};

class TreeView : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TTreeView"; }
  bool is(Kind kind) const override { return kind == Kind::tree_view || WinControl::is(kind); }
  // first: insert as the first child (or root) instead of the last.
  HTREEITEM add(HTREEITEM parent, const std::string& text, int image, void* data, bool first);
  std::string text(HTREEITEM node);
  void* data(HTREEITEM node);
  HTREEITEM selected();
  void select(HTREEITEM node);
  HTREEITEM node_at(int x, int y);
  // Nodes in flat order: top to bottom, children after their parent.
  std::vector<HTREEITEM> flat_nodes();
  std::vector<HTREEITEM> children_of(HTREEITEM parent);
  void expand_all();
  HIMAGELIST images = nullptr;
  std::function<void(HTREEITEM)> OnChange;
  std::function<void(UINT button, int x, int y)> OnMouseDown;
  // The tip shown while the pointer rests on a node; none when empty.
  std::function<std::string(HTREEITEM)> OnInfoTip;
  class PopupMenu* popup_menu = nullptr;

 protected:
  CreateParams create_params() override;
  void created() override;
  LRESULT default_handler(Message& message) override;
};

// A report-view list with check boxes. The rows live here, not in the
// control: the control asks for what it shows (owner data), so a list of
// 100,000 rows takes one count update to fill and costs nothing to scroll.
// Check marks are kept with the rows; a click on a row's box or Space on the
// focused row toggles it.
class ListView : public WinControl {
 public:
  using WinControl::WinControl;
  const char* class_name() const override { return "TListView"; }
  bool is(Kind kind) const override { return kind == Kind::list_view || WinControl::is(kind); }
  struct Column {
    std::string caption;
    int format;  // LVCFMT_LEFT / LVCFMT_CENTER
    int width;
  };
  std::vector<Column> columns;
  struct Row {
    std::vector<std::string> texts;  // one per column, from the first
    LPARAM data = 0;
    bool checked = false;
  };
  int add_row(const std::vector<std::string>& texts, LPARAM data);
  // Appends the rows with one update of the control.
  void add_rows(std::vector<Row> rows);
  void clear();
  int row_count() const noexcept { return static_cast<int>(rows_.size()); }
  std::string text(int row, int column) const;
  // Changes one text of a row; under a Batch the row is repainted with the rest.
  void set_text(int row, int column, std::string text);
  bool checked(int row) const;
  void set_checked(int row, bool checked);
  LPARAM data(int row) const;
  // While one is alive, set_checked() and set_text() only record; the list
  // is repainted once when the last one goes.
  class Batch {
   public:
    explicit Batch(ListView& list) : list_(list) { ++list_.batch_depth_; }
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    ListView& list_;
  };
  int column_width(int column);
  void set_column_width(int column, int width);
  std::function<void()> OnResize;
  class PopupMenu* popup_menu = nullptr;

 protected:
  CreateParams create_params() override;
  void created() override;
  LRESULT default_handler(Message& message) override;

 private:
  void toggle(int row);
  void answer_display_info(NMLVDISPINFOW& info) const;
  std::vector<Row> rows_;
  int batch_depth_ = 0;
};

// Menus. Items get command ids from one counter; the form that shows a menu
// routes WM_COMMAND to the item.
class MenuItem : public Component {
 public:
  MenuItem(Component* owner, std::string name, std::string caption, std::string shortcut = {});
  const char* class_name() const override { return "TMenuItem"; }
  bool is(Kind kind) const override { return kind == Kind::menu_item || Component::is(kind); }

  const std::string& caption() const noexcept { return caption_; }
  const std::string& shortcut() const noexcept { return shortcut_; }
  UINT id() const noexcept { return id_; }
  bool enabled() const noexcept { return enabled_; }
  void set_enabled(bool enabled);
  bool checked() const noexcept { return checked_; }
  void set_checked(bool checked);
  bool separator() const { return caption_ == "-"; }
  MenuItem* add(std::string name, std::string caption, std::string shortcut = {});
  const std::vector<MenuItem*>& items() const noexcept { return items_; }
  std::function<void()> OnClick;
  // The Alt/Ctrl/Shift + key of the shortcut text, for the accelerator table.
  bool accelerator(ACCEL& out) const;

  HMENU build();  // the HMENU of this item's sub-items (built once)
  HMENU menu_handle() const noexcept { return menu_; }
  // The menu this item sits in; nullptr until its parent is built.
  HMENU parent_menu() const noexcept { return in_menu_; }
  MenuItem* find(UINT id);
  // The item an owner-draw message names: by command id, or by the handle
  // of the submenu it opens (the id a submenu entry carries).
  MenuItem* find_drawn(UINT id);

  // Owner drawing. While its menu is owner-drawn (Menu::set_owner_draw) the
  // form showing it asks these for the item's size (given the default one)
  // and picture; an item without OnAdvancedDrawItem is drawn as plain text.
  std::function<void(MenuItem& item, HDC dc, int& width, int& height)> OnMeasureItem;
  std::function<void(MenuItem& item, HDC dc, const RECT& rect, UINT state)> OnAdvancedDrawItem;
  // Index into the menu's images, -1 for none.
  int image_index = -1;

 private:
  void sync();
  std::string caption_, shortcut_;
  UINT id_;
  bool enabled_ = true, checked_ = false;
  std::vector<MenuItem*> items_;
  HMENU menu_ = nullptr;
  HMENU in_menu_ = nullptr;  // the menu this item sits in
  friend class Menu;
};

class Menu : public MenuItem {
 public:
  Menu(Component* owner, std::string name) : MenuItem(owner, std::move(name), "") {}
  ~Menu() override;
  const char* class_name() const override { return "TMenu"; }
  bool is(Kind kind) const override { return kind == Kind::menu || MenuItem::is(kind); }
  bool popup_kind = false;
  // The items' images (image_index), or none.
  HIMAGELIST images = nullptr;
  // Marks every item at every depth owner-drawn, or back to plain.
  void set_owner_draw(bool on);
  bool owner_draw() const noexcept { return owner_draw_; }

 private:
  bool owner_draw_ = false;
};

class PopupMenu : public Menu {
 public:
  PopupMenu(Component* owner, std::string name) : Menu(owner, std::move(name)) { popup_kind = true; }
  const char* class_name() const override { return "TPopupMenu"; }
  // Runs just before the menu shows, so its items can follow the state of
  // the moment (the selection the menu acts on).
  std::function<void()> OnPopup;
  // Shows the menu at screen x, y for `owner` and runs the chosen item's
  // OnClick once the menu is gone. The display goes through a tracker that
  // tests replace, so no test waits on a menu's modal loop; it answers the
  // chosen item's command id, or 0 for none.
  void popup(HWND owner, int x, int y);
  using Tracker = std::function<UINT(PopupMenu&, HWND, int, int)>;
  static void set_tracker(Tracker tracker);
};

// The system's menu font (bold for a menu's default item); empty when the
// system does not say.
gdi_object<HFONT> create_menu_font(bool bold = false);
// The size an owner-drawn menu item takes by default in dc's font, before
// its owner adjusts it: the caption, a 24-pixel gap and the shortcut side by
// side, at least 16 + 4 high; a separator is 9 high.
SIZE default_menu_item_size(HDC dc, std::wstring_view caption, std::wstring_view shortcut, bool separator);

enum class BorderIcons { all, system_menu_only };

class Form : public CustomControl {
 public:
  Form(Component* owner, std::string name);
  ~Form() override;
  const char* class_name() const override { return "TForm"; }
  bool is(Kind kind) const override { return kind == Kind::form || CustomControl::is(kind); }

  std::string caption;
  int client_width = 0, client_height = 0;
  BorderIcons border_icons = BorderIcons::all;
  Menu* menu = nullptr;
  HWND owner_window = nullptr;
  // The icon resource every form shows when the program carries it.
  static constexpr const wchar_t* kIconResource = L"MAINICON";

  // Creates the window (hidden, centred on the desktop, with the program's icon).
  bool create();
  void show();
  // Shows the form and runs messages until it closes; the owner is disabled
  // meanwhile.
  void show_modal();
  bool modal() const noexcept { return modal_; }
  void close();
  std::function<void()> OnClose;  // the default hides the form
  HACCEL accelerators() const noexcept { return accel_.get(); }

  // Keyboard navigation as in a dialog. Tab and Shift+Tab move the focus
  // along tab_order (controls without a window, hidden or disabled ones are
  // passed over); Enter presses default_button, Esc cancel_button.
  std::vector<WinControl*> tab_order;
  GraphicControl* default_button = nullptr;
  GraphicControl* cancel_button = nullptr;
  // Moves the focus on from the control holding `focus`; false when the form
  // has no tab order to move along.
  bool focus_next(HWND focus, bool backward);
  // Handles Enter and Esc for the buttons above; false when the key is not
  // the form's.
  bool dialog_key(WPARAM key);

 protected:
  CreateParams create_params() override;
  LRESULT default_handler(Message& message) override;

 private:
  struct AccelTraits {
    using handle_type = HACCEL;
    static HACCEL invalid() noexcept { return nullptr; }
    static void close(HACCEL h) noexcept { DestroyAcceleratorTable(h); }
  };
  MenuItem* find_item(UINT id);
  // The item of the form's menu or popup menus that an owner-draw message names.
  MenuItem* find_drawn_item(UINT id);
  bool modal_ = false;
  unique_handle<AccelTraits> accel_;
  gdi_object<HFONT> own_font_;
};

// The process's application object: title, message loop, message pumping,
// and the one place failures turn into message boxes. It is made on the GUI
// thread by the first call of instance().
class Application {
 public:
  static Application& instance();
  std::string title;
  void run();
  // Runs the pending messages and returns; false after a quit request.
  bool process_messages();
  void terminate();
  bool terminated() const noexcept { return terminated_; }
  void set_main_form(Form* form) { main_form_ = form; }
  Form* main_form() const noexcept { return main_form_; }
  // Shows the failure's text in an error box, now.
  void handle_exception(const std::exception& error);

  // Queues a failure caught at a system entry point; any thread may call it.
  // The error box shows it once the GUI thread's message loop runs again, so
  // no box opens inside a hook, a menu loop or a control's own processing.
  // The same text waiting already is not queued twice.
  void post_failure(std::string text) noexcept;
  // Shows the queued failures, one box each, unless a menu or a window's
  // move or size loop is running; then they wait for a later turn.
  void show_failures();
  size_t pending_failures();

  // Every message box goes through the notifier; tests replace it.
  using Notifier = std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT flags)>;
  int message_box(const std::string& text, const std::string& caption, UINT flags);
  void set_notifier(Notifier notifier) { notifier_ = std::move(notifier); }
  void reset_terminated() { terminated_ = false; }

 private:
  Application();
  bool dispatch(MSG& msg);
  // Keys the program handles before any window sees them: accelerators,
  // Shift+F10, and the forms' Tab, Enter and Esc. True when consumed.
  bool translate_keys(MSG& msg);
  std::string title_;
  Form* main_form_ = nullptr;
  bool terminated_ = false;
  Notifier notifier_;
  // How many messages our loops are dispatching right now: above 0 a loop
  // runs inside a handler (a modal window, a long command's pumping).
  int dispatch_depth_ = 0;
  bool swallow_f10_release_ = false;
  std::mutex failures_mutex_;
  std::deque<std::string> failures_;
  bool showing_failures_ = false;
  Window notice_;  // message-only; its messages show the queued failures
};

// The standard file-open dialog. Its display goes through a runner that tests
// replace; the runner answers the chosen file name or nothing.
class OpenDialog : public Component {
 public:
  using Component::Component;
  const char* class_name() const override { return "TOpenDialog"; }
  // Pairs of description and pattern separated by '|'.
  std::string filter;
  std::string file_name;
  // A save dialog: the file may be new, and replacing one is confirmed first.
  bool save = false;
  std::string default_extension;  // added to a name typed without one
  bool execute(HWND owner);
  using Runner = std::function<std::optional<std::string>(OpenDialog&, HWND)>;
  static void set_runner(Runner runner);
};

class ImageList : public Component {
 public:
  ImageList(Component* owner, std::string name, int width, int height);
  ~ImageList() override;
  const char* class_name() const override { return "TImageList"; }
  HIMAGELIST handle() const noexcept { return list_; }
  // Adds a picture whose pixels of `mask` colour are transparent.
  int add_masked(const Bitmap& picture, COLORREF mask);
  int count() const;

 private:
  HIMAGELIST list_ = nullptr;
};

}  // namespace ui
