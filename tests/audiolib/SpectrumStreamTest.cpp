#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "audiolib/SpectrumStream.h"
#include "support/TestSignals.h"

namespace qv {
namespace {

using Stream = SpectrumStream;

std::vector<float> noise(size_t count, uint32_t seed) { return test::noise(count, seed, 1.0f); }

std::unique_ptr<Stream> makeStream(uint32_t rate = 44100) {
  auto stream = Stream::create(rate, 2, 1000.0f);
  EXPECT_NE(stream, nullptr);
  return stream;
}

// A stream whose delay line holds its input channels back by `leftMs` and `rightMs`, its
// output channels exchanged after that when `swapped`.
std::unique_ptr<Stream> routedStream(float leftMs, float rightMs, bool swapped = false,
                                     uint32_t rate = 44100) {
  auto stream = makeStream(rate);
  const uint32_t fx = stream->setFx(Stream::FxType::DelayLine, 2);
  EXPECT_TRUE(stream->fxSetParameters(fx, Stream::DelayLineParameters{leftMs, rightMs}));
  if (swapped) {
    const uint32_t mix = stream->setFx(Stream::FxType::ChannelMix, 1);
    EXPECT_TRUE(stream->fxSetParameters(mix, Stream::ChannelMixParameters{{2, 1}}));
  }
  return stream;
}

class SpectrumLayout : public ::testing::TestWithParam<int> {};

// The output must be the transform of each Hann-windowed channel over all N bins, the upper
// half included; checked against a direct double-precision DFT at a spread of bins.
TEST_P(SpectrumLayout, MatchesDirectTransformOfEachWindowedChannel) {
  const int n = GetParam();
  auto stream = makeStream();
  ASSERT_TRUE(stream->prepareFft(n));
  const auto a = noise(n, 1);
  const auto b = noise(n, 2);
  const auto frames = test::interleave(a, b);
  ASSERT_TRUE(stream->putData(frames.data(), 8 * n));
  std::vector<float> out(4 * n, -1.0f);
  ASSERT_EQ(stream->getData(out.data(), Stream::complexFftFlags(n)), 16u * n);
  EXPECT_EQ(stream->queuedFrames(), 0u);

  for (int k : {0, 1, 7, n / 4 + 3, n / 2 - 1, n / 2, n / 2 + 1, n - 5, n - 1}) {
    std::complex<double> xa, xb;
    for (int j = 0; j < n; ++j) {
      const double w = 0.5 - 0.5 * std::cos(2 * M_PI * j / n);
      const std::complex<double> e = std::polar(1.0, -2 * M_PI * double(k) * j / n);
      xa += w * a[j] * e;
      xb += w * b[j] * e;
    }
    const double tolerance = 1e-4 * std::sqrt(double(n));
    EXPECT_NEAR(out[4 * k], xa.real(), tolerance) << k;
    EXPECT_NEAR(out[4 * k + 1], xa.imag(), tolerance) << k;
    EXPECT_NEAR(out[4 * k + 2], xb.real(), tolerance) << k;
    EXPECT_NEAR(out[4 * k + 3], xb.imag(), tolerance) << k;
  }
}

// The half request answers with the bins 0 … N/2 of the full one, for both channels, and
// takes the frames off the queue as the full one does.
TEST_P(SpectrumLayout, HalfSpectraAreTheLowerBinsOfTheFullRequest) {
  const int n = GetParam();
  auto full = routedStream(0.0f, 0.5f);
  auto half = routedStream(0.0f, 0.5f);
  const auto frames = test::interleave(noise(2 * n, 3), noise(2 * n, 4));
  for (auto* stream : {full.get(), half.get()}) {
    stream->passData(frames.data(), 8 * n);
    ASSERT_TRUE(stream->putData(frames.data() + 2 * n, 4 * n));
  }
  std::vector<float> out(4 * n);
  auto one = fft::allocateFloats(n + 2);
  auto two = fft::allocateFloats(n + 2);
  ASSERT_EQ(full->getData(out.data(), Stream::complexFftFlags(n)), 16u * n);
  ASSERT_EQ(half->getHalfSpectra(one.get(), two.get(), Stream::complexFftFlags(n)), 8u * (n + 2));
  EXPECT_EQ(half->queuedFrames(), full->queuedFrames());
  for (int k = 0; k <= n / 2; ++k) {
    ASSERT_EQ(one[2 * k], out[4 * k]) << k;
    ASSERT_EQ(one[2 * k + 1], out[4 * k + 1]) << k;
    ASSERT_EQ(two[2 * k], out[4 * k + 2]) << k;
    ASSERT_EQ(two[2 * k + 1], out[4 * k + 3]) << k;
  }
  EXPECT_EQ(half->getHalfSpectra(one.get(), two.get(), 0x40000000), Stream::kFailed);
}

// Putting and analysing in one call reads the frames in place; it must give what a put
// followed by the request gives, leave the same frames queued (so that the next analysis
// agrees too), and fail the same way.
TEST(SpectrumStream, PutAndAnalyseInOneCallIsAPutThenARequest) {
  const int n = 1024;
  const uint32_t flags = Stream::complexFftFlags(n);
  const auto frames = test::interleave(noise(4 * n, 5), noise(4 * n, 6));
  auto separate = routedStream(3.0f, 0.0f);
  auto together = routedStream(3.0f, 0.0f);
  for (auto* stream : {separate.get(), together.get()}) stream->passData(frames.data(), 8 * n);
  auto a1 = fft::allocateFloats(n + 2), a2 = fft::allocateFloats(n + 2);
  auto b1 = fft::allocateFloats(n + 2), b2 = fft::allocateFloats(n + 2);
  // Offsets and counts (in frames): fewer than N, none, more than N (some stay queued),
  // and then an analysis of what is queued.
  const std::vector<std::pair<int, int>> puts = {
      {n, 300}, {n + 300, 0}, {n + 300, n + 200}, {2 * n, 2 * n}, {0, 0}};
  for (const auto& [offset, count] : puts) {
    const float* data = count > 0 ? frames.data() + 2 * offset : nullptr;
    ASSERT_TRUE(separate->putData(data, 8 * count));
    ASSERT_EQ(separate->getHalfSpectra(a1.get(), a2.get(), flags), 8u * (n + 2));
    ASSERT_EQ(together->putDataAndGetHalfSpectra(data, 8 * count, b1.get(), b2.get(), flags),
              8u * (n + 2));
    ASSERT_EQ(together->queuedFrames(), separate->queuedFrames()) << offset;
    for (int i = 0; i < n + 2; ++i) {
      ASSERT_EQ(b1[i], a1[i]) << offset << " " << i;
      ASSERT_EQ(b2[i], a2[i]) << offset << " " << i;
    }
  }
  // A bad request still queues the frames; frames that do not fit are refused.
  EXPECT_EQ(
      together->putDataAndGetHalfSpectra(frames.data(), 8 * 10, b1.get(), b2.get(), 0x40000000),
      Stream::kFailed);
  EXPECT_EQ(Stream::errorGetCode(), kStreamErrorNotAvail);
  EXPECT_EQ(together->queuedFrames(), separate->queuedFrames() + 10);
  std::vector<float> tooMuch(2 * Stream::kMaxFftSize);
  EXPECT_EQ(together->putDataAndGetHalfSpectra(tooMuch.data(), 8 * Stream::kMaxFftSize, b1.get(),
                                               b2.get(), flags),
            Stream::kFailed);
  EXPECT_EQ(Stream::errorGetCode(), kStreamErrorMem);
  EXPECT_EQ(together->putDataAndGetHalfSpectra(frames.data(), 12, b1.get(), b2.get(), flags),
            Stream::kFailed);
  EXPECT_EQ(Stream::errorGetCode(), kStreamErrorIllParam);
  EXPECT_EQ(together->queuedFrames(), separate->queuedFrames() + 10);
}

// One complex transform carries both channels: separated (A = (P[k] + conj P[N−k]) / 2,
// B = (P[k] − conj P[N−k]) / 2i) it gives the half spectra to rounding, whatever the
// route: straight, swapped, or one channel held back by the delay line, so that its frame
// starts in the history (here across the history's wrap) while the other's starts in the
// queue or in the frames being put.
struct Route {
  float leftMs, rightMs;
  bool swapped;
};
class PackedSpectrum : public ::testing::TestWithParam<Route> {};

// Unwindowed, so that the packed transform must separate into exactly the half spectra,
// through queued frames, a wrapped history and both channel orders.
TEST_P(PackedSpectrum, SeparatesIntoTheHalfSpectra) {
  const int n = 1024;
  const uint32_t flags = Stream::complexFftFlags(n) | Stream::kDataFftNoWindow;
  const auto frames = test::interleave(noise(5 * n, 7), noise(5 * n, 8));
  const Route route = GetParam();
  auto halves = routedStream(route.leftMs, route.rightMs, route.swapped);
  auto packed = routedStream(route.leftMs, route.rightMs, route.swapped);
  for (auto* stream : {halves.get(), packed.get()}) {
    // More than the history holds, so that it has wrapped.
    stream->passData(frames.data(), 8 * (n + 300));
    stream->passData(frames.data() + 2 * (n + 300), 8 * n);
  }
  auto a1 = fft::allocateFloats(n + 2), a2 = fft::allocateFloats(n + 2);
  auto p = fft::allocateFloats(2 * n);
  const std::vector<std::pair<int, int>> puts = {{n, 300}, {n + 300, n + 200}, {3 * n, 0}};
  for (const auto& [offset, count] : puts) {
    const float* data = count > 0 ? frames.data() + 2 * offset : nullptr;
    ASSERT_EQ(halves->putDataAndGetHalfSpectra(data, 8 * count, a1.get(), a2.get(), flags),
              8u * (n + 2));
    ASSERT_EQ(packed->putDataAndGetRawPackedSpectrum(data, 8 * count, p.get(), flags), 8u * n);
    ASSERT_EQ(packed->queuedFrames(), halves->queuedFrames());
    EXPECT_EQ(packed->packedSilence(), 0u);
    EXPECT_EQ(packed->packedExchanged(), route.swapped);
    if (packed->packedExchanged()) std::swap(a1, a2);
    float largest = 0.0f;
    for (int i = 0; i < n + 2; ++i)
      largest = std::max({largest, std::fabs(a1[i]), std::fabs(a2[i])});
    ASSERT_GT(largest, 1.0f);
    for (int k = 0; k <= n / 2; ++k) {
      const std::complex<float> z(p[2 * k], p[2 * k + 1]);
      const int m = (n - k) % n;
      const std::complex<float> mirror = std::conj(std::complex<float>(p[2 * m], p[2 * m + 1]));
      const std::complex<float> a = 0.5f * (z + mirror);
      const std::complex<float> b = (z - mirror) / std::complex<float>(0.0f, 2.0f);
      const float tolerance = 1e-5f * largest;
      ASSERT_NEAR(a.real(), a1[2 * k], tolerance) << offset << " " << k;
      ASSERT_NEAR(a.imag(), a1[2 * k + 1], tolerance) << offset << " " << k;
      ASSERT_NEAR(b.real(), a2[2 * k], tolerance) << offset << " " << k;
      ASSERT_NEAR(b.imag(), a2[2 * k + 1], tolerance) << offset << " " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Routes, PackedSpectrum,
                         ::testing::Values(Route{0.0f, 0.0f, false}, Route{0.0f, 0.0f, true},
                                           Route{3.0f, 0.0f, false}, Route{0.0f, 20.0f, true}));

INSTANTIATE_TEST_SUITE_P(Sizes, SpectrumLayout,
                         ::testing::Values(256, 512, 1024, 2048, 4096, 8192, 16384, 32768));

// Known answer: a constant 1 under a periodic Hann window has three non-zero bins,
// N/2 at DC and -N/4 at bins 1 and N - 1. Missing frames are silence.
TEST(SpectrumStream, ConstantSignalAndSilence) {
  const int n = 256;
  auto stream = makeStream();
  std::vector<float> ones(2 * n, 1.0f);
  ASSERT_TRUE(stream->putData(ones.data(), 8 * n));
  std::vector<float> out(4 * n);
  ASSERT_NE(stream->getData(out.data(), Stream::complexFftFlags(n)), Stream::kFailed);
  for (int k = 0; k < n; ++k) {
    const float expected = k == 0 ? n / 2.0f : (k == 1 || k == n - 1) ? -n / 4.0f : 0.0f;
    ASSERT_NEAR(out[4 * k], expected, 1e-4f) << k;
    ASSERT_NEAR(out[4 * k + 2], expected, 1e-4f) << k;
    ASSERT_NEAR(out[4 * k + 1], 0.0f, 1e-4f) << k;
  }
  // Nothing queued: the next frame is silence.
  ASSERT_NE(stream->getData(out.data(), Stream::complexFftFlags(n)), Stream::kFailed);
  for (float v : out) ASSERT_EQ(v, 0.0f);
}

// The delay line must be a pure delay even though the stream is fed overlapping windows:
// every analysed frame of the delayed channel holds the same N frames d samples earlier,
// exactly what an undelayed stream shows when positioned d samples back.
class PureDelay : public ::testing::TestWithParam<uint32_t> {};

TEST_P(PureDelay, DelayedFrameIsTheSignalDSamplesEarlier) {
  const uint32_t d = GetParam();
  const int n = 4096;
  const uint32_t rate = 44100;
  const uint32_t step = 1470;  // a display tick's advance: windows overlap by 64 %
  const size_t total = 60000 + 12 * step + n;
  const auto x = noise(total, 7);
  const auto y = noise(total, 8);
  const auto frames = test::interleave(x, y);

  auto delayed = routedStream(static_cast<float>(d * 1000.0 / rate), 0.0f, false, rate);

  const uint32_t startFrame = 50000;  // at least the largest delay of audio before
  delayed->passData(frames.data(), 8 * startFrame);
  std::vector<float> out(4 * n), expected(4 * n);
  for (uint32_t position = startFrame; position < startFrame + 12 * step; position += step) {
    ASSERT_TRUE(delayed->putData(frames.data() + 2 * position, 8 * n));
    ASSERT_NE(delayed->getData(out.data(), Stream::complexFftFlags(n)), Stream::kFailed);
    delayed->passData(frames.data() + 2 * position, 8 * step);

    // Reference: channel 1 taken d frames back, channel 2 at the same place.
    auto plain = makeStream(rate);
    plain->passData(frames.data(), 8 * (position - d));
    plain->putData(frames.data() + 2 * (position - d), 8 * n);
    plain->getData(expected.data(), Stream::complexFftFlags(n));
    for (int k = 0; k < n; ++k) {
      ASSERT_EQ(out[4 * k], expected[4 * k]) << "bin " << k << " at " << position;
      ASSERT_EQ(out[4 * k + 1], expected[4 * k + 1]) << "bin " << k << " at " << position;
    }
    auto same = makeStream(rate);
    same->putData(frames.data() + 2 * position, 8 * n);
    same->getData(expected.data(), Stream::complexFftFlags(n));
    for (int k = 0; k < n; ++k) ASSERT_EQ(out[4 * k + 2], expected[4 * k + 2]) << k;
  }
}

// From one sample to the longest delay (1000 ms at 44.1 kHz), through delays shorter and
// longer than the frame.
INSTANTIATE_TEST_SUITE_P(Delays, PureDelay,
                         ::testing::Values(0u, 1u, 44u, 1470u, 4095u, 4096u, 8820u, 44100u));

// Delays are rounded to the nearest whole sample: 0.25 ms is 11.025 samples at 44.1 kHz,
// 0.26 ms is 11.466 and 0.2607 ms is 11.497 (11); 0.2608 ms is 11.501 (12).
TEST(SpectrumStream, DelayRoundsToNearestSample) {
  const int n = 256;
  std::vector<float> impulse(2 * n, 0.0f);
  impulse[2 * 20] = 1.0f;  // channel 1 only, frame 20
  for (const auto& [ms, sample] :
       std::vector<std::pair<float, int>>{{0.25f, 31}, {0.2607f, 31}, {0.2608f, 32}}) {
    auto stream = routedStream(ms, 0.0f);
    stream->putData(impulse.data(), 8 * n);
    std::vector<float> out(4 * n);
    stream->getData(out.data(), Stream::complexFftFlags(n) | Stream::kDataFftNoWindow);
    // An impulse at frame s transforms to exp(-2πi·k·s/N): bin 1 has phase -2π·s/N.
    const double phase = std::atan2(out[5], out[4]);
    EXPECT_NEAR(phase, -2 * M_PI * sample / n, 1e-4) << ms;
  }
}

// Effects run highest priority first: a delay (2) before the swap (1) delays the input
// channel 1, which the swap then moves to output channel 2; in the other order the delay
// acts on what is already output channel 1.
TEST(SpectrumStream, EffectsRunInPriorityOrder) {
  const int n = 256;
  std::vector<float> impulses(2 * n, 0.0f);
  impulses[0] = 1.0f;            // channel 1: frame 0
  impulses[2 * 100 + 1] = 1.0f;  // channel 2: frame 100
  const float tenSamples = 10 * 1000.0f / 44100;
  const auto firstSample = [n](const std::vector<float>& out, int channel) {
    // Phase slope of an impulse gives its position: -2π·s/N at bin 1.
    const double phase = std::atan2(out[4 + 2 * channel + 1], out[4 + 2 * channel]);
    return static_cast<int>(std::lround(-phase * n / (2 * M_PI) + n)) % n;
  };
  for (const bool delayFirst : {true, false}) {
    auto stream = makeStream(44100);
    const uint32_t delay = stream->setFx(Stream::FxType::DelayLine, delayFirst ? 2 : 1);
    const uint32_t mix = stream->setFx(Stream::FxType::ChannelMix, delayFirst ? 1 : 2);
    ASSERT_TRUE(stream->fxSetParameters(delay, Stream::DelayLineParameters{tenSamples, 0.0f}));
    ASSERT_TRUE(stream->fxSetParameters(mix, Stream::ChannelMixParameters{{2, 1}}));
    stream->putData(impulses.data(), 8 * n);
    std::vector<float> out(4 * n);
    stream->getData(out.data(), Stream::complexFftFlags(n) | Stream::kDataFftNoWindow);
    if (delayFirst) {
      EXPECT_EQ(firstSample(out, 0), 100);  // input 2, undelayed
      EXPECT_EQ(firstSample(out, 1), 10);   // input 1, delayed
    } else {
      EXPECT_EQ(firstSample(out, 0), 110);  // input 2, delayed after the swap
      EXPECT_EQ(firstSample(out, 1), 0);
    }
  }
}

TEST(SpectrumStream, EffectManagementReportsErrors) {
  auto stream = makeStream();
  const uint32_t delay = stream->setFx(Stream::FxType::DelayLine, 2);
  ASSERT_NE(delay, 0u);
  EXPECT_EQ(stream->setFx(Stream::FxType::DelayLine, 3), 0u);
  EXPECT_EQ(Stream::errorGetCode(), kStreamErrorAlready);

  for (float bad : {-1.0f, 1000.5f, NAN}) {
    EXPECT_FALSE(stream->fxSetParameters(delay, Stream::DelayLineParameters{bad, 0.0f}));
    EXPECT_EQ(Stream::errorGetCode(), kStreamErrorIllParam);
  }
  EXPECT_TRUE(stream->fxSetParameters(delay, Stream::DelayLineParameters{1000.0f, 3.5f}));
  Stream::DelayLineParameters read;
  ASSERT_TRUE(stream->fxGetParameters(delay, &read));
  EXPECT_EQ(read.leftDelay, 1000.0f);
  EXPECT_EQ(read.rightDelay, 3.5f);

  const uint32_t mix = stream->setFx(Stream::FxType::ChannelMix, 1);
  EXPECT_FALSE(stream->fxSetParameters(mix, Stream::ChannelMixParameters{{3, 1}}));
  EXPECT_EQ(Stream::errorGetCode(), kStreamErrorIllParam);
  // A delay handle is not a mix handle.
  EXPECT_FALSE(stream->fxSetParameters(delay, Stream::ChannelMixParameters{{2, 1}}));
  EXPECT_EQ(Stream::errorGetCode(), kStreamErrorHandle);

  ASSERT_TRUE(stream->removeFx(mix));
  EXPECT_FALSE(stream->removeFx(mix));
  EXPECT_EQ(Stream::errorGetCode(), kStreamErrorHandle);
  const uint32_t again = stream->setFx(Stream::FxType::ChannelMix, 1);
  EXPECT_NE(again, 0u);
  EXPECT_NE(again, mix);
}

TEST(SpectrumStream, RejectsWhatItCannotDo) {
  EXPECT_EQ(Stream::create(44100, 1, 1000.0f), nullptr);
  EXPECT_EQ(Stream::errorGetCode(), kStreamErrorFormat);
  EXPECT_EQ(Stream::create(0, 2, 1000.0f), nullptr);

  auto stream = makeStream();
  std::vector<float> out(4 * 256);
  EXPECT_EQ(stream->getData(out.data(), 0x40000000), Stream::kFailed);  // not an FFT
  EXPECT_EQ(Stream::errorGetCode(), kStreamErrorNotAvail);
  EXPECT_EQ(Stream::complexFftFlags(1000), 0u);
  EXPECT_EQ(Stream::complexFftFlags(65536), 0u);
  EXPECT_EQ(Stream::complexFftFlags(32768), 0xC0000097u);

  std::vector<float> tooMuch(2 * (Stream::kMaxFftSize + 1));
  EXPECT_FALSE(stream->putData(tooMuch.data(), 8 * (Stream::kMaxFftSize + 1)));
  EXPECT_EQ(Stream::errorGetCode(), kStreamErrorMem);
  EXPECT_EQ(stream->queuedFrames(), 0u);
}

}  // namespace
}  // namespace qv
