#include "report/dfxml.h"

#include <algorithm>
#include <ctime>

namespace clip::report {
namespace {

using scanner::SectorRange;
using sources::kBlockSectors;
using sources::kSectorBytes;

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at text[i] that encodes a character XML
// allows, or 0.
std::size_t xml_char_at(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  std::size_t length;
  uint32_t cp;
  if (c < 0x80) {
    return (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') && c != 0x7f ? 1 : 0;
  } else if ((c & 0xE0) == 0xC0) {
    length = 2;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[length]) return 0;  // overlong
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF || cp > 0x10FFFF) return 0;
  if (cp >= 0x80 && cp <= 0x9F) return 0;  // C1 controls: allowed, but never meant in a name
  return length;
}

std::string attr(const char* name, int64_t value) { return std::string(" ") + name + "='" + std::to_string(value) + "'"; }

std::string element(int indent, const char* name, std::string_view text) {
  return std::string(static_cast<std::size_t>(indent), ' ') + "<" + name + ">" + xml_escape(text) + "</" + name + ">\n";
}

std::string byte_run(int indent, std::optional<int64_t> file_offset, int64_t first, int64_t count, bool unreadable) {
  std::string s(static_cast<std::size_t>(indent), ' ');
  s += "<byte_run";
  if (file_offset) s += attr("file_offset", *file_offset);
  s += attr("img_offset", first * kSectorBytes) + attr("len", count * kSectorBytes);
  // The bytes of an unreadable run are zeros in the file, not what the image
  // holds there.
  if (unreadable) s += " fill='0' cs:unreadable='1'";
  return s + "/>\n";
}

// The clip's sectors in file order, split where unreadable ranges begin and end.
std::string clip_byte_runs(const DfxmlClip& clip, int64_t total) {
  std::string s;
  int64_t offset = 0;
  const int64_t limit = clip.bytes > 0 ? static_cast<int64_t>(clip.bytes) / kSectorBytes : INT64_MAX;
  for (const auto& run : clip.row.runs) {
    int64_t s0 = run.first_sector;
    const int64_t end = std::min(total, run.first_sector + run.blocks * kBlockSectors);
    while (s0 < end && offset < limit) {
      // The unreadable range holding s0, or the next one after it.
      auto it = std::find_if(clip.unreadable.begin(), clip.unreadable.end(),
                             [&](const SectorRange& r) { return r.first + r.count > s0; });
      const bool bad = it != clip.unreadable.end() && it->first <= s0;
      int64_t piece_end = end;
      if (bad) {
        piece_end = std::min(end, it->first + it->count);
      } else if (it != clip.unreadable.end()) {
        piece_end = std::min(end, it->first);
      }
      piece_end = std::min(piece_end, s0 + (limit - offset));
      s += byte_run(6, offset * kSectorBytes, s0, piece_end - s0, bad);
      offset += piece_end - s0;
      s0 = piece_end;
    }
  }
  return s;
}

}  // namespace

std::string xml_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = xml_char_at(text, i);
    if (n == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (n == 1) {
      switch (text[i]) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        // Kept as references: an attribute value would turn them into spaces.
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += text[i];
      }
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
  return out;
}

std::string iso8601_utc(std::chrono::system_clock::time_point t) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string dfxml_document(const DfxmlCreator& creator, const DfxmlSource& source, const std::vector<DfxmlClip>& clips) {
  std::string s =
      "<?xml version='1.0' encoding='UTF-8'?>\n"
      "<dfxml xmlns='http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML'"
      " xmlns:dc='http://purl.org/dc/elements/1.1/' xmlns:cs='urn:clipsalvage:dfxml:1' version='1.1.1'>\n"
      "  <metadata>\n"
      "    <dc:type>Video Clip Recovery Report</dc:type>\n"
      "  </metadata>\n"
      "  <creator version='1.0'>\n";
  s += element(4, "program", creator.program);
  s += element(4, "version", creator.version);
  s += "    <execution_environment>\n";
  s += element(6, "command_line", creator.command_line);
  s += element(6, "start_time", iso8601_utc(creator.start));
  s += element(6, "end_time", iso8601_utc(creator.end));
  s += "    </execution_environment>\n  </creator>\n  <source>\n";
  s += element(4, "image_filename", source.path);
  s += element(4, "imagesize", std::to_string(source.sectors * kSectorBytes));
  s += element(4, "sectorsize", std::to_string(kSectorBytes));
  if (source.image_hashes) {
    if (!source.image_hashes->md5.empty()) s += "    <hashdigest type='md5'>" + xml_escape(source.image_hashes->md5) + "</hashdigest>\n";
    if (!source.image_hashes->sha1.empty()) s += "    <hashdigest type='sha1'>" + xml_escape(source.image_hashes->sha1) + "</hashdigest>\n";
  }
  if (!source.unreadable.empty()) {
    s += "    <cs:unreadable>\n      <byte_runs>\n";
    for (const auto& r : source.unreadable) s += byte_run(8, std::nullopt, r.first, r.count, false);
    s += "      </byte_runs>\n    </cs:unreadable>\n";
  }
  s += "  </source>\n";
  for (const auto& clip : clips) {
    const auto& row = clip.row;
    s += "  <fileobject>\n";
    s += element(4, "filename", row.name);
    s += element(4, "filesize", std::to_string(clip.bytes));
    s += "    <cs:clip number='" + std::to_string(row.number) + "' channel='" + xml_escape(row.channel) +
         "' start='" + xml_escape(row.start) + "' closed='" + (row.closed ? "1" : "0") + "'/>\n";
    if (!clip.output_path.empty()) s += element(4, "cs:output_path", clip.output_path);
    s += "    <byte_runs>\n" + clip_byte_runs(clip, source.sectors) + "    </byte_runs>\n";
    if (!clip.sha256.empty()) s += "    <hashdigest type='sha256'>" + xml_escape(clip.sha256) + "</hashdigest>\n";
    s += "  </fileobject>\n";
  }
  return s + "</dfxml>\n";
}

}  // namespace clip::report
