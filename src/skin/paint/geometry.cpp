#include "skin/paint/geometry.h"

#include <algorithm>

namespace clip::skin::paint {

Rect frame_rect(int bitmap_width, int bitmap_height, Strip strip, int count, int number) {
  count = std::max(count, 1);
  number = std::clamp(number, 1, count);
  bitmap_width = std::max(bitmap_width, 0);
  bitmap_height = std::max(bitmap_height, 0);
  if (strip == Strip::vertical) {
    const int height = bitmap_height / count;
    return Rect::sized(0, height * (number - 1), bitmap_width, height);
  }
  const int width = bitmap_width / count;
  return Rect::sized(width * (number - 1), 0, width, bitmap_height);
}

std::vector<Piece> tile_pieces(const Rect& source, const Rect& dest) {
  std::vector<Piece> pieces;
  const int piece_width = source.width(), piece_height = source.height();
  if (piece_width <= 0 || piece_height <= 0 || dest.empty()) return pieces;
  for (int y = dest.top; y < dest.bottom; y += piece_height) {
    const int height = std::min(piece_height, dest.bottom - y);
    for (int x = dest.left; x < dest.right; x += piece_width) {
      const int width = std::min(piece_width, dest.right - x);
      pieces.push_back({Rect::sized(source.left, source.top, width, height), Rect::sized(x, y, width, height)});
    }
  }
  return pieces;
}

namespace {

void add(std::vector<Piece>& pieces, const Rect& source, const Rect& dest) {
  if (!source.empty() && !dest.empty()) pieces.push_back({source, dest});
}

// Margins that fit both the destination and the frame: a pair that does not
// fit is dropped as a whole. Negative margins from bad data count as 0.
void fit_pair(int& first, int& second, int frame_size, int dest_size) {
  first = std::max(first, 0);
  second = std::max(second, 0);
  if (dest_size < first + second || frame_size < first + second) first = second = 0;
}

enum class Centre { none, stretch, tile };

std::vector<Piece> nine_part(const Rect& frame, int width, int height, Margins m, Centre centre) {
  std::vector<Piece> pieces;
  if (width <= 0 || height <= 0 || frame.empty()) return pieces;
  const int fw = frame.width(), fh = frame.height(), fx = frame.left, fy = frame.top;
  fit_pair(m.left, m.right, fw, width);
  fit_pair(m.top, m.bottom, fh, height);
  const int src_mid_w = fw - m.left - m.right, src_mid_h = fh - m.top - m.bottom;
  const int dst_mid_w = width - m.left - m.right, dst_mid_h = height - m.top - m.bottom;

  add(pieces, Rect::sized(fx, fy, m.left, m.top), Rect::sized(0, 0, m.left, m.top));
  add(pieces, Rect::sized(fx, fy + fh - m.bottom, m.left, m.bottom), Rect::sized(0, height - m.bottom, m.left, m.bottom));
  add(pieces, Rect::sized(fx + fw - m.right, fy, m.right, m.top), Rect::sized(width - m.right, 0, m.right, m.top));
  add(pieces, Rect::sized(fx, fy + m.top, m.left, src_mid_h), Rect::sized(0, m.top, m.left, dst_mid_h));
  add(pieces, Rect::sized(fx + m.left, fy, src_mid_w, m.top), Rect::sized(m.left, 0, dst_mid_w, m.top));
  const Rect centre_source = Rect::sized(fx + m.left, fy + m.top, src_mid_w, src_mid_h);
  const Rect centre_dest = Rect::sized(m.left, m.top, dst_mid_w, dst_mid_h);
  if (centre == Centre::tile) {
    for (const Piece& tile : tile_pieces(centre_source, centre_dest)) pieces.push_back(tile);
  } else if (centre == Centre::stretch) {
    add(pieces, centre_source, centre_dest);
  }
  add(pieces, Rect::sized(fx + fw - m.right, fy + fh - m.bottom, m.right, m.bottom),
      Rect::sized(width - m.right, height - m.bottom, m.right, m.bottom));
  add(pieces, Rect::sized(fx + fw - m.right, fy + m.top, m.right, src_mid_h),
      Rect::sized(width - m.right, m.top, m.right, dst_mid_h));
  add(pieces, Rect::sized(fx + m.left, fy + fh - m.bottom, src_mid_w, m.bottom),
      Rect::sized(m.left, height - m.bottom, dst_mid_w, m.bottom));
  return pieces;
}

}  // namespace

std::vector<Piece> nine_part_pieces(const Rect& frame, int width, int height, Margins margins, bool tile_centre) {
  return nine_part(frame, width, height, margins, tile_centre ? Centre::tile : Centre::stretch);
}

std::vector<Piece> nine_part_ring_pieces(const Rect& frame, int width, int height, Margins margins) {
  return nine_part(frame, width, height, margins, Centre::none);
}

std::vector<Piece> three_part_pieces(const Rect& frame, int width, int height, int left, int right) {
  std::vector<Piece> pieces;
  if (width <= 0 || height <= 0 || frame.empty()) return pieces;
  const int fw = frame.width(), fh = frame.height(), fx = frame.left, fy = frame.top;
  fit_pair(left, right, fw, width);
  add(pieces, Rect::sized(fx, fy, left, fh), Rect::sized(0, 0, left, height));
  // The middle repeats along the width only; each tile spans the full height.
  const int middle = fw - left - right;
  if (middle > 0) {
    for (int x = left; x < width - right; x += middle) {
      const int piece = std::min(middle, width - right - x);
      add(pieces, Rect::sized(fx + left, fy, piece, fh), Rect::sized(x, 0, piece, height));
    }
  }
  add(pieces, Rect::sized(fx + fw - right, fy, right, fh), Rect::sized(width - right, 0, right, height));
  return pieces;
}

}  // namespace clip::skin::paint
