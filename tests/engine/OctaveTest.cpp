#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "UnitTestDoubles.h"
#include "engine/OctaveDataTransformer.h"
#include "engine/OctaveMapper.h"
#include "platform/Clock.h"
#include "plot/ChartList.h"
#include "plot/ChartProxy.h"
#include "support/LogCapture.h"

namespace qv {
namespace {

struct AxisCase {
  int64_t rate;
  int32_t resolution;
  float stopFreq;
  int32_t bandCount;
};

class OctaveMapperAxis : public ::testing::TestWithParam<AxisCase> {};

// The axis ends at the Nyquist frequency, capped at 25 kHz; the band count is
// round(log10(stop) / step) - round(log10(8) / step) with step = 0.3 / R, for example at
// 48 kHz and R = 12: round(4.38021 / 0.025) - round(0.90309 / 0.025) = 175 - 36 = 139.
TEST_P(OctaveMapperAxis, StopFrequencyAndBandCount) {
  const AxisCase c = GetParam();
  OctaveMapper mapper(c.resolution, c.rate);
  mapper.setFftSize(32768);
  EXPECT_FLOAT_EQ(mapper.stopFreq(), c.stopFreq);
  EXPECT_EQ(mapper.bandCount(), c.bandCount);
  EXPECT_EQ(mapper.bands().size(), static_cast<size_t>(c.bandCount));
  EXPECT_EQ(mapper.frequencyForBandIndex(0.0f), 8.0f);
  const UnitBufferSize out = mapper.unitGetOutputSize();
  EXPECT_EQ(out.size, c.bandCount);
  EXPECT_EQ(out.isLog, 1);
  EXPECT_FLOAT_EQ(out.minX, std::log10(8.0f));
  EXPECT_LT(std::pow(10.0f, out.maxX), c.stopFreq * 1.0001f);
}

INSTANTIATE_TEST_SUITE_P(Rates, OctaveMapperAxis,
                         ::testing::Values(AxisCase{48000, 12, 24000.0f, 139},
                                           AxisCase{96000, 12, 25000.0f, 140},
                                           AxisCase{44100, 96, 22050.0f, 1101}),
                         [](const auto& info) {
                           return "rate" + std::to_string(info.param.rate) + "_R" +
                                  std::to_string(info.param.resolution);
                         });

TEST(OctaveMapperTest, NoTablesWithoutFftSizeAndOldTablesKept) {
  OctaveMapper mapper(12, 48000);
  EXPECT_EQ(mapper.bandCount(), 0);
  EXPECT_EQ(mapper.unitGetOutputSize().size, 0);
  mapper.setFftSize(4096);
  const int32_t bands = mapper.bandCount();
  const auto table = mapper.bandStartEndPt();
  mapper.setFftSize(0);
  EXPECT_EQ(mapper.bandCount(), bands);
  EXPECT_EQ(mapper.bandStartEndPt(), table);
  mapper.setOctResolution(24);  // remembered, applied once a size arrives
  EXPECT_EQ(mapper.bandCount(), bands);
  mapper.setFftSize(4096);
  EXPECT_GT(mapper.bandCount(), bands);
}

class OctaveMapperTransform : public ::testing::Test {
 protected:
  void SetUp() override { mapper.setFftSize(kN); }
  static constexpr int32_t kN = 32768;
  OctaveMapper mapper{96, 48000};
  std::vector<float> input = std::vector<float>(kN, 1.0f);
};

TEST_F(OctaveMapperTransform, SummedBandSeesOnlyItsOwnBins) {
  std::fill(input.begin(), input.end(), 0.0f);
  const int b = mapper.bandCount() - 200;
  ASSERT_GE(b, mapper.interpolatedBandCount());
  const float lo = mapper.bandStartEndPt()[2 * b];
  const float hi = mapper.bandStartEndPt()[2 * b + 1];
  const int first = int(std::ceil(lo));
  const int count = int(std::ceil(hi) - std::ceil(lo));
  input[first] = 3.0f;
  mapper.transformInput(input.data());
  EXPECT_FLOAT_EQ(mapper.bands()[b], (hi - lo) / float(count) * 9.0f);
  EXPECT_EQ(mapper.bands()[b + 20], 0.0f);
  EXPECT_EQ(mapper.bands()[b - 20], 0.0f);
  // The top band reaches past N / 2 and is held at its last point.
  EXPECT_EQ(mapper.bandStartEndPt()[2 * (mapper.bandCount() - 1) + 1], kN / 2 - 1.0f);
}

TEST_F(OctaveMapperTransform, NonFiniteInterpolationKeepsPreviousBand) {
  mapper.transformInput(input.data());
  const float before = mapper.bands()[1];
  std::fill(input.begin(), input.begin() + 64, std::numeric_limits<float>::quiet_NaN());
  mapper.transformInput(input.data());
  EXPECT_EQ(mapper.bands()[1], before);
}

// A data source with a fixed rate, and a pull unit that reads a frame from it.
class FlatSource : public FFTDataSourceProtocol {
 public:
  float magnitude = 1.0f;
  uint64_t request = 0;
  uint32_t getDataInto(float* data, uint32_t length) override {
    std::fill_n(data, length, magnitude);
    return length;
  }
  uint64_t samplingRate() const override { return 48000; }
  uint64_t requestDataSize() const override { return request; }
  void setRequestDataSize(uint64_t size) override { request = size; }
};

class SourcePull : public PullUnit {
 public:
  explicit SourcePull(std::shared_ptr<FFTDataSourceProtocol> source) : source_(std::move(source)) {}
  int32_t pullUnitCopyDataTo(float* buffer) override {
    return int32_t(source_->getDataInto(buffer, uint32_t(_outputSize.size)));
  }

 private:
  std::shared_ptr<FFTDataSourceProtocol> source_;
};

class OctaveChainTest : public ::testing::Test {
 protected:
  static constexpr int32_t kN = 8192;
  static constexpr int32_t kR = 12;

  // Expected band power of a flat magnitude m: its ±0.75-band span in FFT points times m²,
  // from the band frequencies 8 · 10^(i · 0.3 / R).
  static double expectedWidth(int b) {
    const auto f = [](double i) { return 8.0 * std::pow(10.0, i * 0.3 / kR); };
    return (f(b + 0.75) - f(b - 0.75)) * kN / 48000.0;
  }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<FlatSource> source = std::make_shared<FlatSource>();
  plot::ChartList charts;
  std::shared_ptr<plot::ChartProxy> proxy = plot::ChartProxy::proxyWithChart(
      charts.addLineChartWithName("octaves", {}, 1.0f, plot::Color{1, 1, 1, 1}));
  OctaveDataTransformer transformer{
      kN, std::make_shared<SourcePull>(source), proxy, source, kR, 100.0f, clock};
};

TEST_F(OctaveChainTest, FramesArriveAsAveragedBandDecibels) {
  clock->advance(1.0);  // beyond the 0.1 s time constant: the first frame is taken whole
  transformer.update();
  plot::ChartSnapshot snap;
  proxy->chartPtr()->snapshot(snap);
  ASSERT_EQ(snap.values.size(), size_t(transformer.bandCount()));
  EXPECT_TRUE(std::isnan(snap.values[0]));  // band 0 carries the -180 placeholder
  const auto& table = transformer.freqMapper()->bandStartEndPt();
  int checked = 0;
  for (int b = 1; b < transformer.bandCount(); ++b) {
    if (table[2 * b + 1] >= kN / 2 - 1) continue;  // held at the top of the spectrum
    ASSERT_NEAR(snap.values[b], 10.0 * std::log10(expectedWidth(b)), 1e-3) << b;
    ++checked;
  }
  EXPECT_GT(checked, transformer.bandCount() - 5);

  // After a reset a quarter of a time constant counts a quarter of a frame of power 4.
  source->magnitude = 2.0f;
  transformer.resetAverages();
  clock->advance(0.025);
  transformer.update();
  proxy->chartPtr()->snapshot(snap);
  EXPECT_NEAR(snap.values[60], 10.0 * std::log10(0.25 * 4.0 * expectedWidth(60)), 1e-3);
}

TEST_F(OctaveChainTest, NewFftSizeResizesTheWholeChain) {
  EXPECT_EQ(source->request, uint64_t(kN));
  transformer.setFftSize(2 * kN);
  EXPECT_EQ(source->request, uint64_t(2 * kN));
  EXPECT_EQ(transformer.pushPullUnit()->bufferSize(), 2 * kN);
  EXPECT_EQ(transformer.freqMapper()->fftSize(), 2 * kN);
  transformer.setOctResolution(24);
  EXPECT_EQ(proxy->inputSize(), transformer.bandCount());
  clock->advance(1.0);
  transformer.update();
  plot::ChartSnapshot snap;
  proxy->chartPtr()->snapshot(snap);
  EXPECT_EQ(snap.values.size(), size_t(transformer.bandCount()));
}

TEST_F(OctaveChainTest, BandLookupsHoldWithinTheAxis) {
  const float last = float(transformer.bandCount() - 1);
  EXPECT_EQ(transformer.bandIndexForFreq(30000.0f), last);
  EXPECT_EQ(transformer.bandIndexForFreq(5.0f), 1.0f);
  EXPECT_EQ(transformer.bandIndexForFreq(-5.0f), 1.0f);
  EXPECT_EQ(transformer.bandIndexForLogFreq(9.0f), last);
  // 1 kHz is band 12 · log10(125) / 0.3 = 83.9, so band 84.
  EXPECT_EQ(transformer.bandIndexForFreq(1000.0f), 84.0f);
  EXPECT_FLOAT_EQ(transformer.closestLogBandDataForLogFrequency(3.0f),
                  transformer.freqMapper()->logFrequencyForBandIndex(84.0f));
  const BandPoint p = transformer.closestBandDataForFrequencyHz(1000.0f);
  EXPECT_FLOAT_EQ(float(p.x), transformer.frequencyForBandIndex(84.0f));
  EXPECT_EQ(p.y, 0.0);
}

TEST_F(OctaveChainTest, BandsFromArrayNeedTheBandCount) {
  test::LogCapture log;
  const auto before = transformer.freqMapper()->bands();
  std::vector<float> wrong(before.size() + 1, 7.0f);
  transformer.setBandsFromArray(wrong);
  EXPECT_EQ(transformer.freqMapper()->bands(), before);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(log.contains("Could not set Bands from loaded array: legths are different!"));

  std::vector<float> right(before.size(), 7.0f);
  transformer.setBandsFromArray(right);
  EXPECT_EQ(transformer.freqMapper()->bands(), right);
}

}  // namespace
}  // namespace qv
