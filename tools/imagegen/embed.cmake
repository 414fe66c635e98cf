# Writes OUT, a C++ file that defines sample_video() over the bytes of IN.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT}.tmp "// Generated from tools/imagegen/data/sample.264 at build time.
#include \"imagegen/image.h\"

namespace clip::imagegen {
namespace {
const uint8_t kSample[${size}] = {
${bytes}};
}  // namespace

std::span<const uint8_t> sample_video() { return {kSample, sizeof kSample}; }

}  // namespace clip::imagegen
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
