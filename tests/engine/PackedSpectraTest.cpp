// The display chain transforms each frame unwindowed, as it lies, and applies the Hann
// window while it reads the bins. Whatever the route of the channels and wherever the frame
// starts, that must give the spectra of the windowed frame, which the stream's half-spectra
// request computes the plain way (window, then one real transform per channel).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "audiolib/SpectrumStream.h"
#include "engine/PackedSpectra.h"
#include "platform/FftBackend.h"

namespace qv {
namespace {

using Stream = SpectrumStream;

struct Route {
  float leftMs, rightMs;
  bool swapped;
  int offset;  // frames from an aligned start: 1 puts the frame off the FFT's alignment
};

class HannAfterTransform : public ::testing::TestWithParam<Route> {};

TEST_P(HannAfterTransform, GivesTheWindowedFrameAndLeavesTheInputAlone) {
  const int n = 1024;
  const Route route = GetParam();
  const uint32_t flags = Stream::complexFftFlags(n);
  std::mt19937 generator(3);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  // Frames in aligned storage, so that the offset alone decides the frame's alignment.
  const size_t total = 4 * static_cast<size_t>(n);
  auto storage = fft::allocateFloats(2 * total + 2);
  for (size_t i = 0; i < 2 * total + 2; ++i) storage[i] = uniform(generator);
  const std::vector<float> original(storage.get(), storage.get() + 2 * total + 2);

  auto plain = Stream::create(44100, 2, 100.0f);
  auto raw = Stream::create(44100, 2, 100.0f);
  for (auto* stream : {plain.get(), raw.get()}) {
    const uint32_t fx = stream->setFx(Stream::FxType::DelayLine, 2);
    ASSERT_TRUE(
        stream->fxSetParameters(fx, Stream::DelayLineParameters{route.leftMs, route.rightMs}));
    if (route.swapped) {
      const uint32_t mix = stream->setFx(Stream::FxType::ChannelMix, 1);
      ASSERT_TRUE(stream->fxSetParameters(mix, Stream::ChannelMixParameters{{2, 1}}));
    }
    stream->passData(storage.get(), 8 * n);
  }
  auto a1 = fft::allocateFloats(n + 2), a2 = fft::allocateFloats(n + 2);
  auto p = fft::allocateFloats(2 * n);
  auto b1 = fft::allocateFloats(n + 2), b2 = fft::allocateFloats(n + 2);
  const float* frames = storage.get() + 2 * (n + route.offset);
  ASSERT_EQ(plain->putDataAndGetHalfSpectra(frames, 8 * n, a1.get(), a2.get(), flags),
            8u * (n + 2));
  ASSERT_EQ(raw->putDataAndGetRawPackedSpectrum(frames, 8 * n, p.get(), flags), 8u * n);
  EXPECT_EQ(raw->packedSilence(), 0u);
  EXPECT_EQ(raw->queuedFrames(), 0u);
  EXPECT_TRUE(std::equal(original.begin(), original.end(), storage.get()));

  const packed::Frame frame{p.get(), static_cast<size_t>(n), 0.5f, 0.5f, raw->packedExchanged()};
  packed::separate(frame, b1.get(), b2.get());
  float largest = 0.0f;
  for (int i = 0; i < n + 2; ++i) largest = std::max({largest, std::fabs(a1[i]), std::fabs(a2[i])});
  ASSERT_GT(largest, 1.0f);
  const float tolerance = 2e-5f * largest;
  for (int i = 0; i < n + 2; ++i) {
    ASSERT_NEAR(b1[i], a1[i], tolerance) << i;
    ASSERT_NEAR(b2[i], a2[i], tolerance) << i;
  }

  // With weight 1 the averages are the frame's own powers and cross spectrum conj(A)·B,
  // over every bin: those the vectors take and those at either end.
  const size_t bins = n / 2 + 1;
  std::vector<float> powerA(bins), powerB(bins), crossRe(bins), crossIm(bins);
  packed::average(frame, 1.0f, nullptr, nullptr, powerA.data(), powerB.data(), crossRe.data(),
                  crossIm.data());
  for (size_t k = 0; k < bins; ++k) {
    const std::complex<float> a(a1[2 * k], a1[2 * k + 1]), b(a2[2 * k], a2[2 * k + 1]);
    const std::complex<float> cross = std::conj(a) * b;
    const float scale = 4e-5f * largest * largest;
    ASSERT_NEAR(powerA[k], std::norm(a), scale) << k;
    ASSERT_NEAR(powerB[k], std::norm(b), scale) << k;
    ASSERT_NEAR(crossRe[k], cross.real(), scale) << k;
    ASSERT_NEAR(crossIm[k], cross.imag(), scale) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Routes, HannAfterTransform,
                         ::testing::Values(Route{0.0f, 0.0f, false, 0}, Route{0.0f, 0.0f, true, 0},
                                           Route{0.0f, 0.0f, true, 1}, Route{2.0f, 0.0f, true, 0},
                                           Route{0.0f, 5.0f, false, 1}));

// A channel is silent when every sample the window keeps is zero: the window's first tap is
// zero, so a sample there alone is silence too. Silence is told by output channel, also
// when the transform carries the channels exchanged.
TEST(HannAfterTransform, SilenceIsWhatTheWindowKeeps) {
  const int n = 256;
  const uint32_t flags = Stream::complexFftFlags(n);
  auto p = fft::allocateFloats(2 * n);
  auto frames = fft::allocateFloats(2 * n);
  auto stream = Stream::create(44100, 2, 100.0f);
  const uint32_t mix = stream->setFx(Stream::FxType::ChannelMix, 1);
  ASSERT_TRUE(stream->fxSetParameters(mix, Stream::ChannelMixParameters{{2, 1}}));
  frames[0] = 1.0f;  // input channel 1, first sample only
  frames[2 * 100 + 1] = 1e-30f;
  stream->putDataAndGetRawPackedSpectrum(frames.get(), 8 * n, p.get(), flags);
  EXPECT_TRUE(stream->packedExchanged());
  EXPECT_EQ(stream->packedSilence(), 2u);  // output 2 is input 1
  stream->putDataAndGetRawPackedSpectrum(frames.get(), 8 * n, p.get(),
                                         flags | Stream::kDataFftNoWindow);
  EXPECT_EQ(stream->packedSilence(), 0u);
  frames[2 * 100 + 1] = 0.0f;
  stream->putDataAndGetRawPackedSpectrum(frames.get(), 8 * n, p.get(), flags);
  EXPECT_EQ(stream->packedSilence(), 3u);
}

}  // namespace
}  // namespace qv
