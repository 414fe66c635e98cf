#include <gtest/gtest.h>

#include "skin/paint/geometry.h"

namespace clip::skin::paint {
namespace {

using R = Rect;

// Counts how often each destination pixel is painted, to prove that a list of
// pieces covers the destination exactly once and never outside it.
std::vector<int> coverage(const std::vector<Piece>& pieces, int width, int height) {
  std::vector<int> hits(static_cast<size_t>(width) * height, 0);
  for (const Piece& p : pieces) {
    EXPECT_GE(p.dest.left, 0);
    EXPECT_GE(p.dest.top, 0);
    EXPECT_LE(p.dest.right, width);
    EXPECT_LE(p.dest.bottom, height);
    for (int y = std::max(p.dest.top, 0); y < std::min(p.dest.bottom, height); ++y)
      for (int x = std::max(p.dest.left, 0); x < std::min(p.dest.right, width); ++x) ++hits[y * width + x];
  }
  return hits;
}

TEST(FrameRect, PicksFramesOfHorizontalAndVerticalStrips) {
  EXPECT_EQ(frame_rect(90, 15, Strip::horizontal, 3, 2), R::sized(30, 0, 30, 15));
  EXPECT_EQ(frame_rect(8, 284, Strip::vertical, 2, 2), R::sized(0, 142, 8, 142)) << "lower half";
  EXPECT_EQ(frame_rect(8, 284, Strip::vertical, 2, 1), R::sized(0, 0, 8, 142));
  // Remainders are ignored: 100 / 3 = 33 per frame.
  EXPECT_EQ(frame_rect(100, 10, Strip::horizontal, 3, 3), R::sized(66, 0, 33, 10));
}

TEST(FrameRect, BadFrameNumbersAndCountsStayInsideTheBitmap) {
  EXPECT_EQ(frame_rect(90, 15, Strip::horizontal, 0, 1), R::sized(0, 0, 90, 15));
  EXPECT_EQ(frame_rect(90, 15, Strip::horizontal, 3, 7), R::sized(60, 0, 30, 15));
  EXPECT_EQ(frame_rect(90, 15, Strip::horizontal, 3, 0), R::sized(0, 0, 30, 15));
  EXPECT_EQ(frame_rect(90, 15, Strip::vertical, -2, -5), R::sized(0, 0, 90, 15));
}

TEST(NinePart, AsymmetricMarginsPlaceEveryPiece) {
  // Frame 20 x 16 at (40, 0) of the strip; margins left 3, top 2, right 5, bottom 4.
  const Rect frame = R::sized(40, 0, 20, 16);
  const auto pieces = nine_part_pieces(frame, 50, 40, {3, 2, 5, 4}, false);
  const std::vector<Piece> expected = {
      {R::sized(40, 0, 3, 2), R::sized(0, 0, 3, 2)},        // top-left
      {R::sized(40, 12, 3, 4), R::sized(0, 36, 3, 4)},      // bottom-left
      {R::sized(55, 0, 5, 2), R::sized(45, 0, 5, 2)},       // top-right
      {R::sized(40, 2, 3, 10), R::sized(0, 2, 3, 34)},      // left edge
      {R::sized(43, 0, 12, 2), R::sized(3, 0, 42, 2)},      // top edge
      {R::sized(43, 2, 12, 10), R::sized(3, 2, 42, 34)},    // centre
      {R::sized(55, 12, 5, 4), R::sized(45, 36, 5, 4)},     // bottom-right
      {R::sized(55, 2, 5, 10), R::sized(45, 2, 5, 34)},     // right edge
      {R::sized(43, 12, 12, 4), R::sized(3, 36, 42, 4)},    // bottom edge: its own height, not the top's
  };
  EXPECT_EQ(pieces, expected);
}

TEST(NinePart, DestinationNarrowerThanBothMarginsDropsTheSidePair) {
  // 7 wide is enough for the left margin (3) or the right one (5) but not both.
  const Rect frame = R::sized(0, 0, 20, 16);
  const auto pieces = nine_part_pieces(frame, 7, 40, {3, 2, 5, 4}, false);
  for (const Piece& p : pieces) {
    EXPECT_EQ(p.dest.left, 0);
    EXPECT_EQ(p.dest.right, 7) << "every piece spans the whole width";
  }
  // Top edge, centre, bottom edge remain; the top and bottom margins still hold.
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0], (Piece{R::sized(0, 0, 20, 2), R::sized(0, 0, 7, 2)}));
  EXPECT_EQ(pieces[1], (Piece{R::sized(0, 2, 20, 10), R::sized(0, 2, 7, 34)}));
  EXPECT_EQ(pieces[2], (Piece{R::sized(0, 12, 20, 4), R::sized(0, 36, 7, 4)}));
  // Both pairs dropped: one stretched centre of the whole frame.
  EXPECT_EQ(nine_part_pieces(frame, 7, 5, {3, 2, 5, 4}, false),
            (std::vector<Piece>{{R::sized(0, 0, 20, 16), R::sized(0, 0, 7, 5)}}));
}

TEST(NinePart, TiledCentreCutsItsLastTilesAndKeepsTheBordersIntact) {
  // Centre piece 4 x 3 of the frame; destination centre 10 x 7 -> tiles 4,4,2 by 3,3,1.
  const Rect frame = R::sized(0, 0, 12, 9);
  const auto pieces = nine_part_pieces(frame, 18, 13, {3, 2, 5, 4}, true);
  std::vector<Piece> centre;
  for (const Piece& p : pieces)
    if (p.source.left == 3 && p.source.top == 2) centre.push_back(p);
  ASSERT_EQ(centre.size(), 9u);
  for (const Piece& p : centre) {
    EXPECT_EQ(p.source.width(), p.dest.width()) << "a tile is never stretched";
    EXPECT_EQ(p.source.height(), p.dest.height());
    EXPECT_LE(p.dest.right, 13) << "nothing spills into the right border";
    EXPECT_LE(p.dest.bottom, 9) << "nothing spills into the bottom border";
  }
  EXPECT_EQ(centre.back(), (Piece{R::sized(3, 2, 2, 1), R::sized(11, 8, 2, 1)}));
  const auto hits = coverage(pieces, 18, 13);
  EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](int h) { return h == 1; }));
}

TEST(NinePart, PiecesCoverTheDestinationExactlyOnceForManySizes) {
  const Rect frame = R::sized(24, 0, 12, 10);  // frame 3 of a strip
  for (int w = 1; w < 30; w += 3) {
    for (int h = 1; h < 25; h += 4) {
      for (bool tile : {false, true}) {
        const auto pieces = nine_part_pieces(frame, w, h, {2, 3, 4, 1}, tile);
        const auto hits = coverage(pieces, w, h);
        EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](int n) { return n == 1; }))
            << w << "x" << h << (tile ? " tiled" : " stretched");
        for (const Piece& p : pieces) {
          EXPECT_GE(p.source.left, 24);
          EXPECT_LE(p.source.right, 36) << "sources stay inside the chosen frame";
          EXPECT_GE(p.source.top, 0);
          EXPECT_LE(p.source.bottom, 10);
        }
      }
    }
  }
}

TEST(NinePart, RingLeavesTheCentreOut) {
  const Rect frame = R::sized(0, 0, 20, 16);
  const auto ring = nine_part_ring_pieces(frame, 50, 40, {3, 2, 5, 4});
  auto full = nine_part_pieces(frame, 50, 40, {3, 2, 5, 4}, false);
  full.erase(full.begin() + 5);  // the centre
  EXPECT_EQ(ring, full);
  const auto hits = coverage(ring, 50, 40);
  EXPECT_EQ(hits[20 * 50 + 25], 0) << "centre untouched";
  EXPECT_EQ(hits[0], 1);
}

TEST(NinePart, NothingForEmptyDestinationsOrFrames) {
  EXPECT_TRUE(nine_part_pieces(R::sized(0, 0, 10, 10), 0, 10, {1, 1, 1, 1}, false).empty());
  EXPECT_TRUE(nine_part_pieces(R::sized(0, 0, 10, 10), 10, -3, {1, 1, 1, 1}, false).empty());
  EXPECT_TRUE(nine_part_pieces(R::sized(0, 0, 0, 10), 10, 10, {1, 1, 1, 1}, false).empty());
}

TEST(NinePart, MarginsWiderThanTheFrameAreDropped) {
  // A 6-wide frame cannot hold margins of 4 + 4; reading them would leave the frame.
  const auto pieces = nine_part_pieces(R::sized(6, 0, 6, 6), 40, 40, {4, 1, 4, 1}, false);
  for (const Piece& p : pieces) {
    EXPECT_GE(p.source.left, 6);
    EXPECT_LE(p.source.right, 12);
    EXPECT_EQ(p.dest.width(), 40);
  }
}

TEST(TilePieces, RepeatsAndCutsTheLastColumnAndRow) {
  const auto pieces = tile_pieces(R::sized(5, 5, 4, 3), R::sized(10, 20, 10, 4));
  const std::vector<Piece> expected = {
      {R::sized(5, 5, 4, 3), R::sized(10, 20, 4, 3)}, {R::sized(5, 5, 4, 3), R::sized(14, 20, 4, 3)},
      {R::sized(5, 5, 2, 3), R::sized(18, 20, 2, 3)}, {R::sized(5, 5, 4, 1), R::sized(10, 23, 4, 1)},
      {R::sized(5, 5, 4, 1), R::sized(14, 23, 4, 1)}, {R::sized(5, 5, 2, 1), R::sized(18, 23, 2, 1)},
  };
  EXPECT_EQ(pieces, expected);
  EXPECT_TRUE(tile_pieces(R::sized(0, 0, 0, 3), R::sized(0, 0, 10, 10)).empty());
  EXPECT_TRUE(tile_pieces(R::sized(0, 0, 3, -1), R::sized(0, 0, 10, 10)).empty());
  EXPECT_TRUE(tile_pieces(R::sized(0, 0, 3, 3), R{10, 0, 5, 10}).empty());
}

TEST(ThreePart, CapsAtTheirWidthAndACutMiddle) {
  // Text plate frame 2 of a vertical strip: 20 x 9 at (0, 9); caps 6 and 4, middle 10.
  const Rect frame = R::sized(0, 9, 20, 9);
  const auto pieces = three_part_pieces(frame, 35, 18, 6, 4);
  const std::vector<Piece> expected = {
      {R::sized(0, 9, 6, 9), R::sized(0, 0, 6, 18)},
      {R::sized(6, 9, 10, 9), R::sized(6, 0, 10, 18)},
      {R::sized(6, 9, 10, 9), R::sized(16, 0, 10, 18)},
      {R::sized(6, 9, 5, 9), R::sized(26, 0, 5, 18)},  // cut, not stretched
      {R::sized(16, 9, 4, 9), R::sized(31, 0, 4, 18)},
  };
  EXPECT_EQ(pieces, expected);
}

TEST(ThreePart, FrameWithoutMiddlePaintsOnlyTheCaps) {
  const auto pieces = three_part_pieces(R::sized(0, 0, 10, 8), 30, 8, 6, 4);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].dest, R::sized(0, 0, 6, 8));
  EXPECT_EQ(pieces[1].dest, R::sized(26, 0, 4, 8));
}

TEST(ThreePart, DestinationNarrowerThanTheCapsIsAllMiddle) {
  const auto pieces = three_part_pieces(R::sized(0, 0, 20, 8), 7, 8, 6, 4);
  const auto hits = coverage(pieces, 7, 8);
  EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](int n) { return n == 1; }));
  for (const Piece& p : pieces) EXPECT_EQ(p.source.width(), p.dest.width());
  EXPECT_TRUE(three_part_pieces(R::sized(0, 0, 20, 8), 0, 8, 6, 4).empty());
}

}  // namespace
}  // namespace clip::skin::paint
