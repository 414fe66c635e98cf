#include "report/dfxml_read.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "recover/recover.h"
#include "report/files.h"
#include "report/json.h"

namespace clip::report {
namespace {

using sources::kSectorBytes;

struct Attribute {
  std::string name, value;
};

// Text with its references replaced; nullopt for an unknown or broken one.
std::optional<std::string> decode(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '&') {
      out += raw[i];
      continue;
    }
    const std::size_t end = raw.find(';', i);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view ref = raw.substr(i + 1, end - i - 1);
    if (ref == "amp") out += '&';
    else if (ref == "lt") out += '<';
    else if (ref == "gt") out += '>';
    else if (ref == "quot") out += '"';
    else if (ref == "apos") out += '\'';
    else if (ref.size() > 1 && ref[0] == '#') {
      const bool hex = ref[1] == 'x';
      const std::string_view digits = ref.substr(hex ? 2 : 1);
      if (digits.empty() || digits.size() > 8) return std::nullopt;
      uint32_t cp = 0;
      for (const char c : digits) {
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : hex && std::isxdigit(static_cast<unsigned char>(c))
                          ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                          : -1;
        if (v < 0) return std::nullopt;
        cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v);
      }
      // Code points XML does not allow are no characters.
      if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return std::nullopt;
      append_utf8(out, cp);
    } else {
      return std::nullopt;
    }
    i = end;
  }
  return out;
}

std::string local_name(const std::string& name) {
  const auto colon = name.find(':');
  return colon == std::string::npos ? name : name.substr(colon + 1);
}

std::optional<int64_t> whole_number(const std::string& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::string trimmed(const std::string& s) {
  const auto a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

bool name_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':' ||
         (static_cast<unsigned char>(c) & 0x80) != 0;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  Result<DfxmlReport> run() {
    while (pos_ < text_.size()) {
      const std::size_t lt = text_.find('<', pos_);
      const std::size_t stop = lt == std::string_view::npos ? text_.size() : lt;
      if (!on_text(text_.substr(pos_, stop - pos_))) return failure();
      pos_ = stop;
      if (pos_ >= text_.size()) break;
      if (!markup()) return failure();
    }
    if (!stack_.empty()) return fail("元素 " + stack_.back() + " 没有结束"), failure();
    if (!seen_root_) return fail("没有根元素"), failure();
    return report_;
  }

 private:
  Result<DfxmlReport> failure() const {
    return Result<DfxmlReport>::failure("DFXML 第 " + std::to_string(line_of(error_at_)) + " 行：" + error_);
  }
  bool fail(const std::string& what) {
    if (error_.empty()) {
      error_ = what;
      error_at_ = pos_;
    }
    return false;
  }
  int line_of(std::size_t at) const {
    return 1 + static_cast<int>(std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(std::min(at, text_.size())), '\n'));
  }

  bool skip_to(std::string_view end) {
    const std::size_t at = text_.find(end, pos_);
    if (at == std::string_view::npos) return fail("未结束的标记");
    pos_ = at + end.size();
    return true;
  }

  bool markup() {
    if (text_.substr(pos_, 4) == "<!--") return skip_to("-->");
    if (text_.substr(pos_, 2) == "<?") return skip_to("?>");
    if (text_.substr(pos_, 9) == "<![CDATA[") {
      const std::size_t start = pos_ + 9;
      if (!skip_to("]]>")) return false;
      text_buffer_ += text_.substr(start, pos_ - 3 - start);
      return true;
    }
    if (text_.substr(pos_, 2) == "<!") return fail("不接受文档类型声明");
    const bool closing = text_.substr(pos_, 2) == "</";
    pos_ += closing ? 2 : 1;
    const std::size_t name_start = pos_;
    while (pos_ < text_.size() && name_char(text_[pos_])) ++pos_;
    const std::string name(text_.substr(name_start, pos_ - name_start));
    if (name.empty()) return fail("无效的标记");
    if (closing) {
      skip_space();
      if (pos_ >= text_.size() || text_[pos_] != '>') return fail("无效的结束标记 " + name);
      ++pos_;
      if (stack_.empty() || stack_.back() != name) return fail("结束标记 " + name + " 与开始标记不符");
      return end_element();
    }
    std::vector<Attribute> attributes;
    for (;;) {
      skip_space();
      if (pos_ >= text_.size()) return fail("未结束的标记 " + name);
      if (text_[pos_] == '>' || text_.substr(pos_, 2) == "/>") break;
      const std::size_t a = pos_;
      while (pos_ < text_.size() && name_char(text_[pos_])) ++pos_;
      Attribute attr{std::string(text_.substr(a, pos_ - a)), {}};
      skip_space();
      if (attr.name.empty() || pos_ >= text_.size() || text_[pos_] != '=') return fail("无效的属性（" + name + "）");
      ++pos_;
      skip_space();
      if (pos_ >= text_.size() || (text_[pos_] != '\'' && text_[pos_] != '"')) return fail("属性值缺少引号");
      const char quote = text_[pos_++];
      const std::size_t end = text_.find(quote, pos_);
      if (end == std::string_view::npos) return fail("属性值没有结束");
      const std::string_view raw = text_.substr(pos_, end - pos_);
      if (raw.find('<') != std::string_view::npos) return fail("属性值中有 <");
      const auto value = decode(raw);
      if (!value) return fail("无效的字符引用（" + attr.name + "）");
      attr.value = *value;
      for (const auto& other : attributes) {
        if (other.name == attr.name) return fail("属性重复：" + attr.name);
      }
      attributes.push_back(std::move(attr));
      pos_ = end + 1;
    }
    const bool empty = text_[pos_] == '/';
    pos_ += empty ? 2 : 1;
    if (stack_.empty()) {
      if (seen_root_) return fail("根元素之后还有元素");
      seen_root_ = true;
    }
    stack_.push_back(name);
    text_buffer_.clear();
    if (!start_element(attributes)) return false;
    return !empty || end_element();
  }

  void skip_space() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }

  bool on_text(std::string_view raw) {
    if (raw.empty()) return true;
    if (stack_.empty()) {
      if (!trimmed(std::string(raw)).empty()) return fail("根元素之外有文字");
      return true;
    }
    const auto value = decode(raw);
    if (!value) return fail("无效的字符引用");
    text_buffer_ += *value;
    return true;
  }

  // The element's local name and its parent's.
  std::string current() const { return local_name(stack_.back()); }
  std::string parent() const { return stack_.size() >= 2 ? local_name(stack_[stack_.size() - 2]) : std::string(); }
  std::string grandparent() const {
    return stack_.size() >= 3 ? local_name(stack_[stack_.size() - 3]) : std::string();
  }

  bool start_element(const std::vector<Attribute>& attributes) {
    auto attr = [&](const char* n) -> const std::string* {
      for (const auto& a : attributes) {
        if (a.name == n) return &a.value;
      }
      return nullptr;
    };
    if (stack_.size() == 1 && current() != "dfxml") return fail("根元素不是 dfxml");
    if (current() == "fileobject" && parent() == "dfxml") {
      report_.objects.emplace_back();
      in_object_ = true;
    } else if (current() == "byte_run" && parent() == "byte_runs" && grandparent() == "fileobject" && in_object_) {
      const std::string* offset = attr("img_offset");
      const std::string* len = attr("len");
      const auto o = offset ? whole_number(*offset) : std::nullopt;
      const auto l = len ? whole_number(*len) : std::nullopt;
      if (!o || !l || *l == 0) return fail("byte_run 缺少有效的 img_offset 或 len");
      const std::string* fill = attr("fill");
      if (fill && *fill != "0") return fail("byte_run 的 fill 只能为 0");
      report_.objects.back().runs.push_back({*o, *l, fill != nullptr});
    } else if (current() == "hashdigest" && parent() == "fileobject" && in_object_) {
      const std::string* type = attr("type");
      digest_is_sha256_ = type && (*type == "sha256" || *type == "SHA256" || *type == "sha-256");
    }
    return true;
  }

  bool end_element() {
    const std::string name = current();
    const std::string up = parent();
    const std::string text = trimmed(text_buffer_);
    if (in_object_ && up == "fileobject") {
      DfxmlObject& o = report_.objects.back();
      if (name == "filename") {
        o.filename = text;
      } else if (name == "filesize") {
        const auto n = whole_number(text);
        if (!n) return fail("filesize 不是整数");
        o.filesize = *n;
      } else if (name == "hashdigest" && digest_is_sha256_) {
        std::string hex = text;
        std::transform(hex.begin(), hex.end(), hex.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        o.sha256 = hex;
      }
    } else if (name == "imagesize" && up == "source") {
      const auto n = whole_number(text);
      if (!n) return fail("imagesize 不是整数");
      report_.image_size = *n;
    }
    if (name == "fileobject" && up == "dfxml") in_object_ = false;
    stack_.pop_back();
    text_buffer_.clear();
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::vector<std::string> stack_;
  std::string text_buffer_;
  bool seen_root_ = false;
  bool in_object_ = false;
  bool digest_is_sha256_ = false;
  DfxmlReport report_;
  std::string error_;
  std::size_t error_at_ = 0;
};

}  // namespace

Result<DfxmlReport> parse_dfxml(std::string_view text) { return Reader(text).run(); }

Result<DfxmlReport> load_dfxml(const std::string& path) { return load_parsed<DfxmlReport>(path, parse_dfxml); }

VerifyResult verify_dfxml(sources::BlockSource& source, const DfxmlReport& report, const VerifyOptions& options) {
  VerifyResult result;
  const int64_t size = source.sector_count() * kSectorBytes;
  if (report.image_size >= 0 && report.image_size != size) {
    result.mismatches.push_back("源大小不同：报告为 " + std::to_string(report.image_size) + " 字节，源介质为 " +
                                std::to_string(size) + " 字节");
  }
  std::vector<uint8_t> buffer;
  constexpr int64_t kPieceSectors = 2048;
  // The bytes read from the source: the runs that are not zeros.
  uint64_t total = 0, done = 0;
  for (const auto& o : report.objects) {
    if (o.sha256.empty()) continue;
    for (const auto& run : o.runs) total += run.zeros || run.len < 0 ? 0 : static_cast<uint64_t>(run.len);
  }
  for (std::size_t i = 0; i < report.objects.size(); ++i) {
    const DfxmlObject& o = report.objects[i];
    if (o.sha256.empty()) continue;
    recover::Sha256 hash;
    int64_t bytes = 0;
    std::string problem;
    for (const auto& run : o.runs) {
      if (!problem.empty()) break;
      bytes += run.len;
      if (run.zeros) {
        const std::vector<uint8_t> zeros(static_cast<std::size_t>(std::min<int64_t>(run.len, 1 << 20)), 0);
        for (int64_t done = 0; done < run.len;) {
          const auto n = static_cast<std::size_t>(std::min<int64_t>(run.len - done, static_cast<int64_t>(zeros.size())));
          hash.update(zeros.data(), n);
          done += static_cast<int64_t>(n);
        }
        continue;
      }
      if (run.img_offset > size || run.len > size - run.img_offset) {
        problem = "字节段 " + std::to_string(run.img_offset) + " 起 " + std::to_string(run.len) + " 字节超出源的末尾";
        break;
      }
      // Whole sectors around the run, in pieces.
      for (int64_t at = run.img_offset; at < run.img_offset + run.len;) {
        if (options.stop && options.stop()) {
          result.stopped = true;
          return result;
        }
        const int64_t first = at / kSectorBytes;
        const int64_t end = std::min<int64_t>((run.img_offset + run.len + kSectorBytes - 1) / kSectorBytes,
                                              first + kPieceSectors);
        buffer.resize(static_cast<std::size_t>((end - first) * kSectorBytes));
        const auto read = source.read_sectors(first, end - first, buffer.data());
        if (!read.ok() || read.bytes != buffer.size()) {
          problem = "扇区 " + std::to_string(first + static_cast<int64_t>(read.bytes) / kSectorBytes) + " 无法读取";
          break;
        }
        const int64_t skip = at - first * kSectorBytes;
        const int64_t take = std::min(end * kSectorBytes, run.img_offset + run.len) - at;
        hash.update(buffer.data() + skip, static_cast<std::size_t>(take));
        at += take;
        done += static_cast<uint64_t>(take);
        if (options.progress) options.progress(std::min(done, total), total, i, report.objects.size());
      }
    }
    ++result.checked;
    const std::string label = o.filename.empty() ? "第 " + std::to_string(i + 1) + " 个文件对象" : o.filename;
    if (!problem.empty()) {
      result.mismatches.push_back(label + "：" + problem);
      continue;
    }
    const std::string got = hash.hex();
    if (o.filesize >= 0 && o.filesize != bytes) {
      result.mismatches.push_back(label + "：字节段共 " + std::to_string(bytes) + " 字节，filesize 为 " +
                                  std::to_string(o.filesize));
    } else if (got != o.sha256) {
      result.mismatches.push_back(label + "：字节段的 SHA-256 为 " + got + "，报告为 " + o.sha256);
    }
  }
  if (result.checked == 0 && result.mismatches.empty()) result.error = "DFXML 报告中没有带 SHA-256 的文件对象";
  return result;
}

}  // namespace clip::report
