#pragma once

// The frame number burnt into each simulated picture, so that a screenshot tells which
// picture the viewer was showing.

#include "RgbImage.h"

#include <optional>

namespace skyframe {

// Glyphs are 5 x 7 cells; a digit advances 6 cells.
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

// Draws `number` (0 or more) in white on a black box at the top-left corner of the image:
// the box starts at (0, 0) and leaves one cell of black around the digits; each cell is
// `scale` x `scale` pixels. Digits that do not fit the image are clipped.
void drawFrameNumber(RgbImage& image, int number, int scale);

// Width and height in pixels of the box drawFrameNumber draws for `number`.
int frameNumberBoxWidth(int number, int scale);
int frameNumberBoxHeight(int scale);

// Reads back the number drawFrameNumber drew at `scale`, from a picture that went through
// lossy coding: each cell is taken as ink when its middle pixel is brighter than mid-grey,
// and each digit is the glyph that differs from the cells in fewest places (at most 3 of
// 35). Nothing when no digit is found there.
std::optional<int> readFrameNumber(const RgbImage& image, int scale);

// Scale for a picture height: cells of about 1/240 of the height, at least 2 pixels.
int frameNumberScale(int imageHeight);

} // namespace skyframe
