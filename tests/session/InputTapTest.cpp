// The input tap's peaks: per channel, from every frame of a block whatever its length, a
// sample that is no number passed over, and kept until the display tick takes them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "session/InputTap.h"

namespace qv::session {
namespace {

// Blocks of 1 to 13 frames (the last few frames of a block are read apart from the rest):
// the measurement's peak sits in the last frame and the reference's in the first, each with
// the other channel's larger value beside it, so a peak taken from the wrong channel or a
// frame left out shows.
TEST(InputTap, PeaksPerChannelFromEveryFrame) {
  for (uint32_t frames = 1; frames <= 13; ++frames) {
    std::vector<float> block(2 * frames, 0.01f);
    block[2 * (frames - 1)] = -0.5f;  // measurement, last frame
    block[1] = 0.25f;                 // reference, first frame
    if (frames > 1) block[2 * (frames - 1) + 1] = 0.125f;
    if (frames > 2) block[2] = std::numeric_limits<float>::quiet_NaN();
    InputTap tap;
    tap.getData(block.data(), static_cast<uint32_t>(block.size() * sizeof(float)));
    float peaks[2];
    tap.takePeaks(peaks);
    EXPECT_EQ(peaks[0], 0.5f) << frames;
    EXPECT_EQ(peaks[1], 0.25f) << frames;
    EXPECT_EQ(tap.frames(), frames);
    tap.takePeaks(peaks);
    EXPECT_EQ(peaks[0], 0.0f) << "taken once";
  }
}

// Between two takes the larger of two blocks' peaks holds.
TEST(InputTap, KeepsTheLargestPeakUntilTaken) {
  InputTap tap;
  const std::vector<float> loud = {0.75f, 0.0f, 0.0f, 0.5f};
  const std::vector<float> quiet = {0.25f, 0.125f};
  tap.getData(loud.data(), static_cast<uint32_t>(loud.size() * sizeof(float)));
  tap.getData(quiet.data(), static_cast<uint32_t>(quiet.size() * sizeof(float)));
  float peaks[2];
  tap.takePeaks(peaks);
  EXPECT_EQ(peaks[0], 0.75f);
  EXPECT_EQ(peaks[1], 0.5f);
  EXPECT_EQ(tap.blocks(), 2u);
}

}  // namespace
}  // namespace qv::session
