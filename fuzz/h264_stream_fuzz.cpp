// Takes arbitrary bytes as a clip's H.264 stream: splits it into NAL units,
// parses every parameter set and slice start (with and without the last SPS
// seen) and counts its pictures for the duration, so a field read past its
// unit, a bad bound or a count that runs away shows up.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "export/duration.h"
#include "export/h264.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace clip::video;
  const std::span<const std::uint8_t> bytes(data, size);
  std::optional<Sps> last;
  for (const auto& n : split_nal_units(bytes)) {
    if (n.offset + n.size > size || n.size == 0) __builtin_trap();
    const auto unit = bytes.subspan(n.offset, n.size);
    if (auto sps = parse_sps(unit)) {
      if (sps->width <= 0 || sps->height <= 0) __builtin_trap();
      if (const auto rate = sps_frame_rate(*sps); rate && (rate->num <= 0 || rate->den <= 0)) __builtin_trap();
      last = sps;
    }
    (void)parse_pps(unit);
    (void)parse_slice_start(unit);
    if (last) (void)parse_slice_start(unit, &*last);
  }
  MemoryInput input(bytes);
  const auto duration = stream_duration(input, nullptr, nullptr);
  if (duration.known && (duration.frames <= 0 || duration.seconds <= 0)) __builtin_trap();
  return 0;
}
