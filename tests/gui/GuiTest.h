// A fixture for tests that need the window layer: an application on a display (Xvfb under
// the test script); the test is skipped when there is no display.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/Application.h"

namespace kva::test {

class GuiTest : public ::testing::Test {
protected:
  void SetUp() override {
    try {
      Application = std::make_unique<TApplication>();
    } catch (const std::exception& E) {
      GTEST_SKIP() << "no display: " << E.what();
    }
  }
  void TearDown() override { Application.reset(); }

  std::unique_ptr<TApplication> Application;
};

// One RGBA pixel of a picture read back from a window.
struct TPixel {
  uint8_t R, G, B;
  bool operator==(const TPixel&) const = default;
};

inline TPixel PixelAt(const std::vector<uint8_t>& ARgba, int AWidth, int AX, int AY) {
  const size_t At = (static_cast<size_t>(AY) * AWidth + AX) * 4;
  return TPixel{ARgba[At], ARgba[At + 1], ARgba[At + 2]};
}

inline std::ostream& operator<<(std::ostream& AStream, const TPixel& APixel) {
  return AStream << "(" << int(APixel.R) << "," << int(APixel.G) << "," << int(APixel.B) << ")";
}

}  // namespace kva::test
