#include "cli/table.h"

#include <algorithm>
#include <array>

#include "cli/text.h"

namespace clip::cli {

std::string clip_table(const std::vector<scanner::ClipRow>& rows, bool partial) {
  // Number, channel, start time, end, size and first sector, then the name:
  // the name, always the widest, goes last and is not padded.
  constexpr std::size_t kColumns = 7;
  const std::array<std::string, kColumns> header{"序号", "通道", "开始时间", "结束时间", "大小(MB)", "首扇区", "名称"};
  const std::array<bool, kColumns> right{true, false, false, false, true, true, false};
  std::vector<std::array<std::string, kColumns>> lines;
  lines.push_back(header);
  for (const auto& r : rows) {
    lines.push_back({std::to_string(r.number), r.channel, r.start, r.closed ? "" : "未结束", std::to_string(r.size_mb),
                     std::to_string(r.first_sector), r.name});
  }
  std::array<int, kColumns> width{};
  for (const auto& line : lines) {
    for (std::size_t c = 0; c < kColumns; ++c) width[c] = std::max(width[c], display_width(line[c]));
  }
  std::string out;
  for (const auto& line : lines) {
    std::string text;
    for (std::size_t c = 0; c < kColumns; ++c) {
      if (c) text += ' ';
      if (c + 1 == kColumns) {
        text += line[c];
      } else {
        text += right[c] ? pad_left(line[c], width[c]) : pad_right(line[c], width[c]);
      }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out += text + "\n";
  }
  out += "共 " + std::to_string(rows.size()) + " 个片段" + (partial ? "（列表不完整）" : "") + "\n";
  return out;
}

}  // namespace clip::cli
