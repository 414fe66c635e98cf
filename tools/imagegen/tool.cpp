#include "imagegen/tool.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "imagegen/image.h"
#include "imagegen/image_file.h"

#ifdef _WIN32
#include "base/utf8.h"
#endif

namespace clip::imagegen {
namespace {

constexpr const char* kUsage =
    "usage: imagegen OUT [--manifest FILE] [--dense MIB] [--no-signature]\n"
    "                [--signature-before-start] [--truncate SECTORS] [--odd-times]\n"
    "                [--bad-channel-char] [--marker-at-end] [--marker-at-start]\n"
    "       imagegen --help\n";

constexpr const char* kHelp =
    "\n"
    "Writes a recorder disk image to OUT, a sparse file: only the recordings'\n"
    "blocks take space. Without options OUT is the bundled sample: 4.1 GB with\n"
    "the recorder's signature at sector 8,000,130 and nine recordings of four\n"
    "channels, interleaved, whose blocks form H.264 streams that play.\n"
    "\n"
    "  --manifest FILE           also write each recording's name, channel, start\n"
    "                            time and block sectors to FILE as JSON\n"
    "  --dense MIB               instead of the sample, MIB MiB of recordings of\n"
    "                            four channels just after the search start\n"
    "  --no-signature            recordings without header blocks\n"
    "  --signature-before-start  a header block before sector 8,000,000 as well\n"
    "  --truncate SECTORS        cut SECTORS sectors off the end of the image\n"
    "  --odd-times               header times with out-of-range fields (minute 60,\n"
    "                            a three-digit second) as a damaged disk may hold\n"
    "  --bad-channel-char        a marker whose channel character is not a digit,\n"
    "                            followed by a good one\n"
    "  --marker-at-end           a marker ending at a block's last byte\n"
    "  --marker-at-start         a marker at byte 0 of a block\n"
    "The damage goes into the second stream block of every recording of more than\n"
    "three blocks.\n";

struct UsageError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// A whole decimal number: digits only, no sign, no spaces, no overflow.
int64_t number(const std::string& option, const std::string& text, int64_t min, int64_t max) {
  int64_t value = 0;
  bool ok = !text.empty() && text.size() <= 18;
  for (char c : text) ok = ok && c >= '0' && c <= '9';
  if (ok) value = std::stoll(text);
  if (!ok || value < min || value > max) {
    throw UsageError(option + " needs a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                     ": " + text);
  }
  return value;
}

std::string time_text(const RecordTime& t) {
  char s[64];
  std::snprintf(s, sizeof s, "20%02u-%02u-%02u %02u-%02u-%02u", t[0], t[1], t[2], t[3], t[4], t[5]);
  return s;
}

void write_manifest(const std::string& path, const ImageSpec& plan, const std::vector<PlacedRecording>& placed) {
  std::ostringstream out;
  out << "{\"sectors\": " << plan.sectors << ", \"recordings\": [";
  const char* sep = "\n";
  for (const auto& p : placed) {
    const auto& r = p.recording;
    out << sep << "  {\"name\": \"" << clip_name(r.channel, r.time) << "\", \"channel\": " << int{r.channel}
        << ", \"start\": \"" << time_text(r.time) << "\", \"header\": " << (r.header ? "true" : "false")
        << ", \"blocks\": " << p.block_sectors.size() << ", \"sectors\": [";
    for (std::size_t i = 0; i < p.block_sectors.size(); ++i) out << (i ? ", " : "") << p.block_sectors[i];
    out << "]}";
    sep = ",\n";
  }
  out << "\n]}\n";
  const std::string text = out.str();
  // The path is UTF-8; Windows opens it by its UTF-16 form.
#ifdef _WIN32
  FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(utf8_to_utf16(path).c_str()), L"wb");
#else
  FILE* file = std::fopen(path.c_str(), "wb");
#endif
  if (!file) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

int generate(const std::vector<std::string>& args, std::FILE* out) {
  std::string image, manifest;
  int64_t dense = 0, truncate = 0;
  bool no_signature = false, early_signature = false, bad_char = false, at_end = false, at_start = false,
       odd_times = false, help = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "-h" || a == "--help") help = true;
    else if (a == "--manifest") manifest = value();
    else if (a == "--dense") dense = number(a, value(), 1, 1 << 22);
    else if (a == "--truncate") truncate = number(a, value(), 0, INT64_MAX / 1024);
    else if (a == "--no-signature") no_signature = true;
    else if (a == "--signature-before-start") early_signature = true;
    else if (a == "--bad-channel-char") bad_char = true;
    else if (a == "--marker-at-end") at_end = true;
    else if (a == "--marker-at-start") at_start = true;
    else if (a == "--odd-times") odd_times = true;
    else if (!a.empty() && a[0] == '-') throw UsageError("unknown option " + a);
    else if (image.empty()) image = a;
    else throw UsageError("more than one output file: " + image + ", " + a);
  }
  if (help) {
    std::fputs(kUsage, out);
    std::fputs(kHelp, out);
    return std::fflush(out) == 0 ? 0 : 1;
  }
  if (image.empty()) throw UsageError("no output file");
  if (dense > 0 && odd_times) throw UsageError("--odd-times is for the sample, not --dense");

  ImageSpec plan = dense > 0 ? dense_spec(dense) : sample_spec(odd_times);
  // Checked before the file is made: a refused run leaves nothing behind.
  if (truncate >= plan.sectors) {
    throw UsageError("--truncate " + std::to_string(truncate) + " is not less than the image's " +
                     std::to_string(plan.sectors) + " sectors");
  }
  for (auto& r : plan.recordings) {
    if (no_signature) r.header = false;
    // Damage goes into the second stream block of every recording long enough.
    if (r.blocks > 3) {
      StreamBlockSpec s;
      s.channel_char = channel_char_of(r.channel);
      if (bad_char) {
        s.channel_char = 'x';
        s.second_channel_char = channel_char_of(r.channel);
      }
      if (at_end) s.place = MarkerPlace::block_end;
      if (at_start) s.place = MarkerPlace::position0;
      if (bad_char || at_end || at_start) r.damaged[2] = s;
    }
  }
  plan.sectors -= truncate;
  ImageFile file(image, plan.sectors);
  auto placed = write_recordings(plan, file);
  if (early_signature) {
    // A header block before the search start, which a scan never sees.
    Recording r;
    r.channel = 7;
    r.time = {25, 12, 31, 23, 59, 59};
    ImageSpec early;
    early.sectors = kSearchStartSector;
    early.first_sector = kSearchStartSector - 4 * kBlockSectors;
    early.recordings = {r};
    write_recordings(early, file);
  }
  file.close();
  if (!manifest.empty()) write_manifest(manifest, plan, placed);
  return 0;
}

}  // namespace

int run_tool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  try {
    return generate(args, out);
  } catch (const UsageError& e) {
    std::fprintf(err, "imagegen: %s\n%s", e.what(), kUsage);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(err, "imagegen: %s\n", e.what());
    return 1;
  }
}

}  // namespace clip::imagegen
