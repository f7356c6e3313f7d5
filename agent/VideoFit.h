// Where the video goes: the picture fills the width of the area below the control strip and
// keeps its proportions; a picture relatively taller than the area is cut equally at top and
// bottom, a wider one is centred vertically with the background above and below.
#pragma once

namespace kva {

struct TRectF {
  float Left = 0, Top = 0, Right = 0, Bottom = 0;
  float Width() const { return Right - Left; }
  float Height() const { return Bottom - Top; }
  bool operator==(const TRectF&) const = default;
};

struct TVideoFit {
  TRectF Source;       // texture coordinates, 0 to 1
  TRectF Destination;  // pixels of the drawing area
};

// The source and destination of the video quad for a texture of ATextureWidth x
// ATextureHeight drawn into a context of AContextWidth x AContextHeight below AOffsetY. The
// ratios are compared in double precision; the rectangles are single precision. False when
// there is nothing to draw into (or no picture).
bool FitVideo(float ATextureWidth, float ATextureHeight, float AContextWidth, float AContextHeight, float AOffsetY,
              TVideoFit& AFit);

}  // namespace kva
