#include "VideoFit.h"

namespace kva {

bool FitVideo(float ATextureWidth, float ATextureHeight, float AContextWidth, float AContextHeight, float AOffsetY,
              TVideoFit& AFit) {
  TRectF Destination{0, AOffsetY, AContextWidth, AContextHeight};
  TRectF Source{0, 0, ATextureWidth, ATextureHeight};
  if (Destination.Width() <= 0 || Destination.Height() <= 0 || Source.Width() <= 0 || Source.Height() <= 0) {
    return false;
  }
  if (static_cast<double>(Source.Height()) / Source.Width() >
      static_cast<double>(Destination.Height()) / Destination.Width()) {
    // Relatively taller than the area: show the middle band of the picture.
    const float Height = static_cast<float>(static_cast<double>(Source.Width()) / Destination.Width() * Destination.Height());
    Source.Top = (ATextureHeight - Height) / 2;
    Source.Bottom = Source.Top + Height;
  } else {
    // Relatively wider, or equal: full width, centred vertically.
    const float Height = static_cast<float>(static_cast<double>(Destination.Width()) / Source.Width() * Source.Height());
    Destination.Top = AOffsetY + (AContextHeight - AOffsetY - Height) / 2;
    Destination.Bottom = Destination.Top + Height;
  }
  AFit.Source = {Source.Left / ATextureWidth, Source.Top / ATextureHeight, Source.Right / ATextureWidth,
                 Source.Bottom / ATextureHeight};
  AFit.Destination = Destination;
  return true;
}

}  // namespace kva
