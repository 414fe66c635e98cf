// imagegen: writes a recorder disk image (a sparse file) for tests, the demo
// and the benchmark.
//
//   imagegen OUT [--manifest FILE] [--dense MIB] [--no-signature]
//                [--signature-before-start] [--truncate SECTORS]
//                [--bad-channel-char] [--marker-at-end] [--marker-at-start]
//                [--no-parameter-sets]
//
// Without options OUT is the bundled sample (four channels, signature at
// sector 8,000,130). The manifest lists every recording with the sectors of
// its blocks, as JSON. --no-parameter-sets makes every recording after a
// channel's first one start mid-stream without SPS and PPS.
#include <cstdio>
#include <cstdlib>
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

namespace ig = clip::imagegen;

namespace {

constexpr const char* kUsage =
    "usage: imagegen OUT [--manifest FILE] [--dense MIB] [--no-signature]\n"
    "                [--signature-before-start] [--truncate SECTORS]\n"
    "                [--bad-channel-char] [--marker-at-end] [--marker-at-start]\n"
    "                [--no-parameter-sets]\n";

std::string time_text(const ig::RecordTime& t) {
  char s[64];
  std::snprintf(s, sizeof s, "20%02u-%02u-%02u %02u-%02u-%02u", t[0], t[1], t[2], t[3], t[4], t[5]);
  return s;
}

void write_manifest(const std::string& path, const ig::ImageSpec& plan,
                    const std::vector<ig::PlacedRecording>& placed) {
  std::ostringstream out;
  out << "{\"sectors\": " << plan.sectors << ", \"recordings\": [";
  const char* sep = "\n";
  for (const auto& p : placed) {
    const auto& r = p.recording;
    out << sep << "  {\"name\": \"" << ig::clip_name(r.channel, r.time) << "\", \"channel\": "
        << int{r.channel} << ", \"start\": \"" << time_text(r.time) << "\", \"header\": "
        << (r.header ? "true" : "false") << ", \"parameter_sets\": " << (r.parameter_sets ? "true" : "false")
        << ", \"blocks\": " << p.block_sectors.size()
        << ", \"sectors\": [";
    for (std::size_t i = 0; i < p.block_sectors.size(); ++i) {
      out << (i ? ", " : "") << p.block_sectors[i];
    }
    out << "]}";
    sep = ",\n";
  }
  out << "\n]}\n";
  const std::string text = out.str();
  // The path is UTF-8; Windows opens it by its UTF-16 form.
#ifdef _WIN32
  FILE* file = _wfopen(reinterpret_cast<const wchar_t*>(clip::utf8_to_utf16(path).c_str()), L"wb");
#else
  FILE* file = std::fopen(path.c_str(), "wb");
#endif
  const bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if ((file && std::fclose(file) != 0) || !written) throw std::runtime_error("cannot write " + path);
}

int run(const std::vector<std::string>& args) {
  std::string out, manifest;
  int64_t dense = 0, truncate = 0;
  bool no_signature = false, early_signature = false, bad_char = false, at_end = false,
       at_start = false, no_parameter_sets = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
      return args[++i];
    };
    if (a == "--manifest") manifest = value();
    else if (a == "--dense") dense = std::stoll(value());
    else if (a == "--truncate") truncate = std::stoll(value());
    else if (a == "--no-signature") no_signature = true;
    else if (a == "--signature-before-start") early_signature = true;
    else if (a == "--bad-channel-char") bad_char = true;
    else if (a == "--marker-at-end") at_end = true;
    else if (a == "--marker-at-start") at_start = true;
    else if (a == "--no-parameter-sets") no_parameter_sets = true;
    else if (!a.empty() && a[0] != '-' && out.empty()) out = a;
    else throw std::invalid_argument("unknown argument " + a);
  }
  if (out.empty()) throw std::invalid_argument("no output file");

  ig::ImageSpec plan = dense > 0 ? ig::dense_spec(dense) : ig::sample_spec();
  if (no_parameter_sets) ig::drop_parameter_sets(plan);
  for (auto& r : plan.recordings) {
    if (no_signature) r.header = false;
    // Damage goes into the second stream block of every recording long enough.
    if (r.blocks > 3) {
      ig::StreamBlockSpec s;
      s.channel_char = ig::channel_char_of(r.channel);
      if (bad_char) {
        s.channel_char = 'x';
        s.second_channel_char = ig::channel_char_of(r.channel);
      }
      if (at_end) s.place = ig::MarkerPlace::block_end;
      if (at_start) s.place = ig::MarkerPlace::position0;
      if (bad_char || at_end || at_start) r.damaged[2] = s;
    }
  }
  plan.sectors -= truncate;
  ig::ImageFile file(out, plan.sectors);
  auto placed = ig::write_recordings(plan, file);
  if (early_signature) {
    // A header block before the search start, which a scan never sees.
    ig::Recording r;
    r.channel = 7;
    r.time = {25, 12, 31, 23, 59, 59};
    ig::ImageSpec early;
    early.sectors = ig::kSearchStartSector;
    early.first_sector = ig::kSearchStartSector - 4 * ig::kBlockSectors;
    early.recordings = {r};
    ig::write_recordings(early, file);
  }
  file.close();
  if (!manifest.empty()) write_manifest(manifest, plan, placed);
  return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(clip::utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[i])));
  }
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
#endif
  try {
    return run(args);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "imagegen: %s\n%s", e.what(), kUsage);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "imagegen: %s\n", e.what());
    return 1;
  }
}
