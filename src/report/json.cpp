#include "report/json.h"

#include <cerrno>
#include <cstdlib>

namespace clip::report {
namespace {

// Deep enough for any report; keeps hostile input from exhausting the stack.
constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Result<Json> document() {
    Json value;
    skip_space();
    if (!parse_value(value, 0)) return Result<Json>::failure(error_);
    skip_space();
    if (pos_ != text_.size()) {
      fail("文档结束后还有多余内容");
      return Result<Json>::failure(error_);
    }
    return value;
  }

 private:
  bool fail(const std::string& what) {
    if (error_.empty()) {
      std::size_t line = 1, column = 1;
      for (std::size_t i = 0; i < pos_ && i < text_.size(); ++i) {
        if (text_[i] == '\n') {
          ++line;
          column = 1;
        } else {
          ++column;
        }
      }
      error_ = "JSON 第 " + std::to_string(line) + " 行第 " + std::to_string(column) + " 列：" + what;
    }
    return false;
  }

  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return at_end() ? '\0' : text_[pos_]; }

  void skip_space() {
    while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++pos_;
  }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return fail("无法识别的值");
    pos_ += word.size();
    return true;
  }

  bool parse_value(Json& out, int depth) {
    if (depth > kMaxDepth) return fail("嵌套过深");
    switch (peek()) {
      case '{': return parse_object(out, depth);
      case '[': return parse_array(out, depth);
      case '"':
        out.kind = Json::Kind::string;
        return parse_string(out.text);
      case 't':
        out.kind = Json::Kind::boolean;
        out.boolean = true;
        return literal("true");
      case 'f':
        out.kind = Json::Kind::boolean;
        return literal("false");
      case 'n':
        out.kind = Json::Kind::null;
        return literal("null");
      default: return parse_number(out);
    }
  }

  bool parse_object(Json& out, int depth) {
    out.kind = Json::Kind::object;
    ++pos_;
    skip_space();
    if (peek() == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      skip_space();
      if (peek() != '"') return fail("应为成员名");
      std::string key;
      if (!parse_string(key)) return false;
      if (out.find(key)) return fail("成员名重复：" + key);
      skip_space();
      if (peek() != ':') return fail("应为冒号");
      ++pos_;
      skip_space();
      Json value;
      if (!parse_value(value, depth + 1)) return false;
      out.members.push_back({std::move(key), std::move(value)});
      skip_space();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      if (peek() == '}') {
        ++pos_;
        return true;
      }
      return fail("应为逗号或右花括号");
    }
  }

  bool parse_array(Json& out, int depth) {
    out.kind = Json::Kind::array;
    ++pos_;
    skip_space();
    if (peek() == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      skip_space();
      Json value;
      if (!parse_value(value, depth + 1)) return false;
      out.items.push_back(std::move(value));
      skip_space();
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      if (peek() == ']') {
        ++pos_;
        return true;
      }
      return fail("应为逗号或右方括号");
    }
  }

  bool hex4(uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = peek();
      uint32_t digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return fail("\\u 后应为四位十六进制数");
      }
      value = value * 16 + digit;
      ++pos_;
    }
    return true;
  }


  bool parse_string(std::string& out) {
    ++pos_;  // the opening quote
    for (;;) {
      if (at_end()) return fail("字符串没有结束");
      const unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return fail("字符串中有控制字符");
      if (c != '\\') {
        out += static_cast<char>(c);
        ++pos_;
        continue;
      }
      ++pos_;
      const char e = peek();
      ++pos_;
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t cp;
          if (!hex4(cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return fail("孤立的低位代理项");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low;
            if (text_.substr(pos_, 2) != "\\u") return fail("高位代理项后缺少低位代理项");
            pos_ += 2;
            if (!hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail("高位代理项后缺少低位代理项");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          append_utf8(out, cp);
          break;
        }
        default: --pos_; return fail("无效的转义序列");
      }
    }
  }

  bool parse_number(Json& out) {
    const std::size_t start = pos_;
    auto digits = [&] {
      const std::size_t from = pos_;
      while (!at_end() && peek() >= '0' && peek() <= '9') ++pos_;
      return pos_ > from;
    };
    if (peek() == '-') ++pos_;
    if (peek() == '0') {
      ++pos_;
    } else if (!digits()) {
      pos_ = start;
      return fail("无法识别的值");
    }
    if (peek() == '.') {
      ++pos_;
      if (!digits()) return fail("小数点后应有数字");
    }
    if (peek() == 'e' || peek() == 'E') {
      ++pos_;
      if (peek() == '+' || peek() == '-') ++pos_;
      if (!digits()) return fail("指数应有数字");
    }
    out.kind = Json::Kind::number;
    out.text = std::string(text_.substr(start, pos_ - start));
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

const Json* Json::find(std::string_view key) const {
  for (const auto& [name, value] : members) {
    if (name == key) return &value;
  }
  return nullptr;
}

std::optional<int64_t> Json::integer() const {
  if (kind != Kind::number || text.find_first_of(".eE") != std::string::npos) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno == ERANGE || end != text.c_str() + text.size()) return std::nullopt;
  return static_cast<int64_t>(value);
}

Result<Json> parse_json(std::string_view text) { return Parser(text).document(); }

std::string json_quote(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace clip::report
