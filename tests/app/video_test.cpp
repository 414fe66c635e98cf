// Playable evidence in the main window: the MP4 question of the recover
// flow and the files it writes, the preview window (opened by Enter or a
// double click, stepping with Left/Right, counting frames off the GUI
// thread) and the end times of the rows on screen. What the window shows is
// compared with what the export library gives for the same clip here.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/main_window.h"
#include "app/sparse_image.h"
#include "app/no_drives.h"
#include "export/duration.h"
#include "export/mp4.h"
#include "export/preview.h"
#include "imagegen/image.h"
#include "imagegen/image_file.h"
#include "recover/temp_folder.h"
#include "sources/block_source.h"
#include "ui/message_pump.h"
#include "ui/wide.h"

namespace {

using clip::test::pump_until;
using clip::testing::TempFolder;

class Video : public clip::test::MainWindowTest {
 protected:
  static void SetUpTestSuite() {
    init_controls();
    wchar_t dir[MAX_PATH], unique[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    if (!GetTempFileNameW(dir, L"vid", 0, unique)) return;
    image_ = ui::narrow(unique);
    const clip::imagegen::ImageSpec plan = clip::imagegen::sample_spec();
    clip::imagegen::ImageFile file(image_, plan.sectors);
    clip::imagegen::write_recordings(plan, file);
    file.close();
  }
  static void TearDownTestSuite() { DeleteFileW(ui::widen(image_).c_str()); }

  void SetUp() override {
    ASSERT_FALSE(image_.empty());
    MainWindowTest::SetUp();
    form_->show();
    form_->TreeView1->select(form_->load_image(image_));
    command(form_->S1);
    ASSERT_TRUE(wait_idle());
    ASSERT_GT(form_->ListView1->row_count(), 4);
    opened_ = clip::sources::open_block_source(clip::sources::image_device_path(image_));
    ASSERT_TRUE(opened_.source) << opened_.error;
  }
  // The first closed row (the open clips at the scan's end have no end time).
  int closed_row(int from = 0) {
    for (int i = from; i < form_->ListView1->row_count(); ++i)
      if (form_->row(i).closed) return i;
    return -1;
  }

  static std::string image_;
  clip::sources::OpenResult opened_;
};
std::string Video::image_;

// The recover flow asks about MP4 after the folder: Cancel recovers nothing,
// Yes writes each clip's .264 and its MP4, the MP4 byte for byte what the
// export library writes for the same clip.
TEST_F(Video, TheMp4QuestionWritesBothFilesOrNothing) {
  const int index = closed_row();
  ASSERT_GE(index, 0);
  const clip::scanner::ClipRow row = form_->row(index);
  const TempFolder out;
  form_->choose_folder = [&] { return std::optional<std::string>(out.str()); };
  form_->ListView1->set_checked(index, true);

  answer_ = IDCANCEL;
  SendMessageW(form_->handle(), WM_COMMAND, form_->N16->id(), 0);
  ASSERT_EQ(boxes_, std::vector<std::string>{app::TForm1::kMp4Question});
  EXPECT_FALSE(form_->busy());
  EXPECT_TRUE(std::filesystem::is_empty(out.path()));

  boxes_.clear();
  answer_ = IDYES;
  SendMessageW(form_->handle(), WM_COMMAND, form_->N16->id(), 0);
  ASSERT_TRUE(wait_idle());
  ASSERT_EQ(boxes_, std::vector<std::string>{app::TForm1::kMp4Question});
  EXPECT_TRUE(logged("，并生成 MP4 文件"));
  EXPECT_TRUE(logged("恢复完成：1/1 个文件"));
  EXPECT_TRUE(logged("MP4 导出完成：1/1 个文件")) << form_->Memo1->lines().back();
  const std::filesystem::path h264 = out.path() / TempFolder::from_utf8(row.name);
  const std::filesystem::path mp4 = out.path() / TempFolder::from_utf8(clip::video::mp4_name(row.name));
  ASSERT_TRUE(std::filesystem::exists(h264));
  ASSERT_TRUE(std::filesystem::exists(mp4));

  const TempFolder again;
  const clip::video::Mp4Result expected = clip::video::export_recovered(
      *opened_.source, row, TempFolder::utf8(h264), true, again.str(), clip::video::ExportOptions{});
  ASSERT_TRUE(expected.ok) << expected.error;
  EXPECT_EQ(clip::test::read_file(mp4), clip::test::read_file(TempFolder::from_utf8(expected.path)));
  EXPECT_TRUE(logged(TempFolder::utf8(mp4) + " " + std::to_string(expected.bytes) + "字节 SHA-256:" + expected.sha256 +
                     " " + std::to_string(expected.frames) + "帧"));
}

// Enter on a row opens the preview of its clip: the first decodable picture
// as the library decodes it, its resolution, and once counted its frames and
// duration, which also give the row its end time. Right steps on, Left back,
// never before the first picture; a double click opens another row.
TEST_F(Video, PreviewShowsTheClipAndStepsThroughItsPictures) {
  const int index = closed_row();
  ASSERT_GE(index, 0);
  const clip::scanner::ClipRow row = form_->row(index);
  clip::video::PreviewOptions options;
  options.bgr = true;
  std::string error;
  std::unique_ptr<clip::video::Preview> expected = clip::video::Preview::open(*opened_.source, row, options, error);
  ASSERT_TRUE(expected) << error;
  const clip::video::ClipDuration duration = clip::video::clip_duration(*opened_.source, row);
  ASSERT_TRUE(duration.known) << duration.error;

  HWND list = form_->ListView1->handle();
  SetFocus(list);
  ListView_SetItemState(list, index, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
  const auto start = std::chrono::steady_clock::now();
  SendMessageW(list, WM_KEYDOWN, VK_RETURN, 0);
  const auto opened_in = std::chrono::steady_clock::now() - start;
  std::printf("preview of clip %lld (%lld MB) opened in %lld ms\n", static_cast<long long>(row.number),
              static_cast<long long>(row.size_mb),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(opened_in).count()));
  ASSERT_TRUE(boxes_.empty()) << boxes_.front();
  app::TForm3* preview = form_->Form3;
  ASSERT_NE(preview, nullptr);
  EXPECT_TRUE(IsWindowVisible(preview->handle()));
  wchar_t caption[256] = {};
  GetWindowTextW(preview->handle(), caption, 256);
  EXPECT_EQ(ui::narrow(caption), "预览 - " + row.name);
  EXPECT_EQ(preview->Label1->caption(), app::resolution_text(expected->width(), expected->height()));

  auto shows = [&](const clip::video::Picture& picture) {
    const ui::Bitmap& shown = preview->Image1->picture;
    if (shown.width() != picture.width || shown.height() != picture.height) return false;
    for (int y = 0; y < picture.height; ++y) {
      if (std::memcmp(shown.pixel(0, y), picture.pixels.data() + static_cast<size_t>(y) * picture.width * 3,
                      static_cast<size_t>(picture.width) * 3) != 0)
        return false;
    }
    return true;
  };
  EXPECT_TRUE(shows(expected->first()));
  EXPECT_EQ(preview->Label4->caption().rfind("第 1 帧", 0), 0u) << preview->Label4->caption();

  SendMessageW(preview->handle(), WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageW(preview->handle(), WM_KEYDOWN, VK_RIGHT, 0);
  EXPECT_EQ(preview->frame_index(), 2);
  const clip::video::Picture* third = expected->frame(2);
  ASSERT_NE(third, nullptr);
  EXPECT_TRUE(shows(*third));
  EXPECT_FALSE(shows(expected->first())) << "the third picture differs from the first";
  EXPECT_EQ(preview->Label4->caption().rfind("第 3 帧", 0), 0u) << preview->Label4->caption();
  for (int i = 0; i < 4; ++i) SendMessageW(preview->handle(), WM_KEYDOWN, VK_LEFT, 0);
  EXPECT_EQ(preview->frame_index(), 0);
  EXPECT_TRUE(shows(expected->first()));

  ASSERT_TRUE(pump_until([&] { return !preview->counting(); }, 60000));
  EXPECT_EQ(preview->Label2->caption(), app::frames_text(duration));
  EXPECT_EQ(preview->Label3->caption(), app::duration_text(duration));
  const std::string end = clip::video::end_column(row.start, duration);
  ASSERT_FALSE(end.empty());
  EXPECT_EQ(form_->ListView1->text(index, 3), end);

  const int other = closed_row(index + 1);
  ASSERT_GE(other, 0);
  RECT item{};
  ASSERT_TRUE(ListView_GetItemRect(list, other, &item, LVIR_LABEL));
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(list, WM_LBUTTONUP, 0, at);
  SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  SendMessageW(list, WM_LBUTTONUP, 0, at);
  pump_until([&] { return preview->row().number == form_->row(other).number; });
  EXPECT_EQ(preview->row().number, form_->row(other).number);
  EXPECT_EQ(preview->frame_index(), 0);
}

// After the scan the rows on screen get their end times, start + duration
// as the library works it out; the open clips keep "未结束".
TEST_F(Video, RowsOnScreenGetTheirEndTimes) {
  std::vector<std::string> expected;
  for (int i = 0; i < form_->ListView1->row_count(); ++i) {
    const clip::scanner::ClipRow& row = form_->row(i);
    expected.push_back(row.closed ? clip::video::end_column(row.start, clip::video::clip_duration(*opened_.source, row))
                                  : "未结束");
  }
  ASSERT_NE(std::count_if(expected.begin(), expected.end(),
                          [](const std::string& end) { return !end.empty() && end != "未结束"; }),
            0);
  const int shown = std::min(form_->ListView1->row_count(), ListView_GetCountPerPage(form_->ListView1->handle()));
  ASSERT_GT(shown, 0);
  auto ends = [&] {
    std::vector<std::string> out;
    for (int i = 0; i < shown; ++i) out.push_back(form_->ListView1->text(i, 3));
    return out;
  };
  const std::vector<std::string> want(expected.begin(), expected.begin() + shown);
  pump_until([&] { return ends() == want; }, 60000);
  EXPECT_EQ(ends(), want);
}

// A clip without a picture a player could show: the box says so, and no
// preview window is left showing.
TEST_F(Video, AClipWithoutPicturesSaysSoInsteadOfAPreview) {
  int64_t sectors = 0;
  const std::string path = clip::test::write_sparse_image(sectors);
  ASSERT_FALSE(path.empty());
  form_->TreeView1->select(form_->load_image(path));
  command(form_->S1);
  ASSERT_TRUE(wait_idle());
  ASSERT_GT(form_->ListView1->row_count(), 0);
  HWND list = form_->ListView1->handle();
  SetFocus(list);
  ListView_SetItemState(list, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
  SendMessageW(list, WM_KEYDOWN, VK_RETURN, 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].rfind("无法预览该片段！\n", 0), 0u) << boxes_[0];
  EXPECT_GT(boxes_[0].size(), std::string("无法预览该片段！\n").size()) << "the reason follows";
  EXPECT_TRUE(logged("无法预览片段 1（" + form_->row(0).name + "）："));
  EXPECT_TRUE(form_->Form3 == nullptr || !IsWindowVisible(form_->Form3->handle()));
  DeleteFileW(ui::widen(path).c_str());
}

}  // namespace
