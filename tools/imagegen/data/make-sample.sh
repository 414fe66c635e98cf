#!/usr/bin/env bash
# Remakes sample.264, the H.264 stream that the disk-image generator spreads
# over a recording's blocks. Made once with Debian 12's ffmpeg (5.1) and kept in
# the repository, so image generation never needs ffmpeg.
#
# 320x240 test pattern, 10 frames per second, 4 seconds (40 frames), baseline
# profile without B-frames, an IDR every 20 frames with the parameter sets
# repeated before each, Annex B start codes. The encoder's SEI (its version and
# options text) is removed: the stream carries only SPS, PPS and slices.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i testsrc=size=320x240:rate=10:duration=4 \
  -c:v libx264 -preset veryfast -profile:v baseline -pix_fmt yuv420p -g 20 -bf 0 \
  -x264-params annexb=1:repeat-headers=1 \
  -bsf:v filter_units=remove_types=6 \
  -f h264 sample.264
ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,nb_read_frames \
  -of compact sample.264
