// Where each piece of a skin bitmap goes. The painting routines first compute
// a list of (source, destination) rectangles with these functions, then blit
// the list; keeping the arithmetic here makes it testable without a screen.
#pragma once

#include <vector>

namespace clip::skin::paint {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;

  static constexpr Rect sized(int x, int y, int width, int height) { return {x, y, x + width, y + height}; }
  constexpr int width() const { return right - left; }
  constexpr int height() const { return bottom - top; }
  constexpr bool empty() const { return right <= left || bottom <= top; }
  constexpr bool inverted() const { return right < left || bottom < top; }
  friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

// Fixed border widths inside one frame.
struct Margins {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// A copy of `source` (in the bitmap) into `dest`; the copy stretches when the
// sizes differ.
struct Piece {
  Rect source;
  Rect dest;
  friend constexpr bool operator==(const Piece&, const Piece&) = default;
};

// How the frames of a skin bitmap are laid out: side by side or stacked.
enum class Strip { horizontal, vertical };

// Frame `number` (from 1) of a strip of `count` equal frames. Remainders of the
// integer division are ignored. A count below 1 means one frame, and a number
// outside 1..count is clamped, so bad skin data never reads outside the bitmap.
Rect frame_rect(int bitmap_width, int bitmap_height, Strip strip, int count, int number);

// `source` repeated over `dest` from its top-left corner. The last column and
// row are cut to fit (source cut by the same amount, so nothing stretches and
// nothing spills over the destination). Empty sources give no pieces.
std::vector<Piece> tile_pieces(const Rect& source, const Rect& dest);

// The nine-part picture of `frame` in a destination of width x height at (0, 0):
// fixed corners, edges stretched along their length, and a centre stretched or
// tiled. When the destination (or the frame) is narrower than left + right, both
// side margins count as 0; likewise top and bottom. Pieces come in painting
// order; empty ones are left out.
std::vector<Piece> nine_part_pieces(const Rect& frame, int width, int height, Margins margins, bool tile_centre);
// The same eight border pieces without the centre, for surfaces whose inside
// another painter fills.
std::vector<Piece> nine_part_ring_pieces(const Rect& frame, int width, int height, Margins margins);

// The three-part picture: left and right caps at their own width (stretched to
// the full height) and the middle tiled between them. A destination narrower
// than the two caps drops both caps, as the nine-part rule does.
std::vector<Piece> three_part_pieces(const Rect& frame, int width, int height, int left, int right);

}  // namespace clip::skin::paint
