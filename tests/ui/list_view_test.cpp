// The clip list keeps its rows itself and the control asks for what it
// shows: a list of 100,000 rows fills at once, and its check boxes answer the
// mouse, the keyboard and the control's own state queries as before.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/controls.h"
#include "ui/message_pump.h"
#include "ui/wide.h"

namespace {

class Host : public ui::Form {
 public:
  using ui::Form::Form;
};

class ListViewRows : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
  }
  void SetUp() override {
    form_ = root_.make<Host>("Host");
    form_->client_width = 400;
    form_->client_height = 300;
    list_ = form_->make<ui::ListView>("List");
    list_->align = ui::Align::client;
    list_->columns = {{"序号", LVCFMT_LEFT, 60}, {"通道", LVCFMT_CENTER, 60}, {"名称", LVCFMT_LEFT, 200}};
    list_->set_parent(form_);
    ASSERT_TRUE(form_->create());
    form_->show();
  }
  // Text and check state as the control itself reports them.
  std::string control_text(int row, int column) {
    wchar_t buffer[128] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 128;
    SendMessageW(list_->handle(), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return ui::narrow(buffer);
  }
  bool control_checked(int row) { return ListView_GetCheckState(list_->handle(), row) != 0; }
  // A point on the row's check box, at the left end of the row.
  POINT box_of(int row) {
    RECT r{};
    ListView_GetItemRect(list_->handle(), row, &r, LVIR_BOUNDS);
    return {r.left + 6, (r.top + r.bottom) / 2};
  }

  ui::Component root_{nullptr, "root"};
  Host* form_ = nullptr;
  ui::ListView* list_ = nullptr;
};

TEST_F(ListViewRows, AHundredThousandRowsFillAtOnceAndReadBackThroughTheControl) {
  const char* channels[] = {"01", "02", "03", "04"};
  std::vector<ui::ListView::Row> rows;
  for (int i = 0; i < 100000; ++i)
    rows.push_back({{std::to_string(i + 1), channels[i % 4], std::string("片段").append(std::to_string(i))}, i * 3, false});
  list_->add_rows(std::move(rows));
  EXPECT_EQ(list_->row_count(), 100000);
  EXPECT_EQ(ListView_GetItemCount(list_->handle()), 100000);
  EXPECT_EQ(control_text(99999, 2), "片段99999");
  EXPECT_EQ(control_text(12345, 1), "02");
  EXPECT_EQ(list_->data(99999), 299997);
  list_->add_row({"100001", "05", "最后"}, 7);
  EXPECT_EQ(ListView_GetItemCount(list_->handle()), 100001);
  EXPECT_EQ(control_text(100000, 2), "最后");
  EXPECT_EQ(list_->text(100000, 5), "") << "a column past the row's texts is empty";

  // Marks set in a batch; the control reports them as its own state.
  {
    ui::ListView::Batch batch(*list_);
    for (int i = 0; i < list_->row_count(); i += 2) list_->set_checked(i, true);
  }
  EXPECT_TRUE(control_checked(0));
  EXPECT_FALSE(control_checked(1));
  EXPECT_TRUE(control_checked(99998));
  // Scrolled to the end, the list shows the last rows.
  EXPECT_TRUE(ListView_EnsureVisible(list_->handle(), 100000, FALSE));
  clip::test::pump();
  EXPECT_GT(ListView_GetTopIndex(list_->handle()), 99000);

  list_->clear();
  EXPECT_EQ(list_->row_count(), 0);
  EXPECT_EQ(ListView_GetItemCount(list_->handle()), 0);
  EXPECT_FALSE(list_->checked(0)) << "rows that are gone read as unchecked";
}

TEST_F(ListViewRows, ClicksOnTheBoxAndSpaceToggleTheMark) {
  for (int i = 0; i < 5; ++i) list_->add_row({std::to_string(i + 1), "01", "x"}, i);
  HWND hwnd = list_->handle();
  LVHITTESTINFO hit{};
  hit.pt = box_of(2);
  ASSERT_EQ(ListView_SubItemHitTest(hwnd, &hit), 2);
  ASSERT_TRUE(hit.flags & LVHT_ONITEMSTATEICON) << hit.flags;
  const LPARAM at = MAKELPARAM(hit.pt.x, hit.pt.y);
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(hwnd, WM_LBUTTONUP, 0, at);
  EXPECT_TRUE(list_->checked(2));
  EXPECT_TRUE(control_checked(2));
  // A double click is two presses: the box goes back.
  SendMessageW(hwnd, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  SendMessageW(hwnd, WM_LBUTTONUP, 0, at);
  EXPECT_FALSE(list_->checked(2));

  // A press on the row's text selects it and leaves the mark alone.
  RECT label{};
  ListView_GetItemRect(hwnd, 3, &label, LVIR_LABEL);
  const LPARAM on_text = MAKELPARAM(label.left + 4, (label.top + label.bottom) / 2);
  PostMessageW(hwnd, WM_LBUTTONUP, 0, on_text);
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, on_text);
  clip::test::pump();
  EXPECT_EQ(ListView_GetNextItem(hwnd, -1, LVNI_SELECTED), 3);
  EXPECT_FALSE(list_->checked(3));

  // Space toggles the focused row.
  ListView_SetItemState(hwnd, 1, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
  SendMessageW(hwnd, WM_KEYDOWN, VK_SPACE, 0);
  SendMessageW(hwnd, WM_CHAR, L' ', 0);
  SendMessageW(hwnd, WM_KEYUP, VK_SPACE, 0);
  EXPECT_TRUE(list_->checked(1));
  EXPECT_EQ(list_->row_count(), 5);
  SendMessageW(hwnd, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_FALSE(list_->checked(1));
}

}  // namespace
