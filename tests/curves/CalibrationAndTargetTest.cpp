// Microphone calibration files and target curves with their tolerance band, on the axis.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "curves/BandAxis.h"
#include "curves/MicCalibration.h"
#include "curves/TargetCurve.h"

namespace qv::curves {
namespace {

// The band whose frequency is nearest to `hz`.
std::size_t bandNear(double hz) {
  return static_cast<std::size_t>(std::lround(BandAxis::bandForFrequency(hz)));
}

// Deviations of a microphone: flat to 1 kHz, +3 dB from 7 to 9 kHz, +1 dB at 20 kHz.
constexpr const char* kCalibration =
    "\"Sens Factor =-1.378dB, SERNO: 7101234\"\n"
    "20\t0.0\t0\n1000\t0.0\t0\n7000\t3.0\t0\n9000\t3.0\t0\n20000\t1.0\t0\n";

TEST(MicCalibration, CorrectsByTheDeviationAndHoldsItsEndsBeyondTheFile) {
  MicCalibration calibration;
  CurveFileError error;
  ASSERT_TRUE(MicCalibration::parse(kCalibration, "umik.txt", &calibration, &error))
      << error.text();
  EXPECT_EQ(calibration.name(), "umik.txt");
  ASSERT_TRUE(calibration.sensitivityDb().has_value());
  EXPECT_DOUBLE_EQ(*calibration.sensitivityDb(), -1.378);

  const BandAxis axis(1100);
  const std::vector<float> correction = calibration.correctionFor(axis);
  ASSERT_EQ(correction.size(), 1100u);
  // A flat 0 dB measurement corrected: 3 dB lower at 8 kHz, as the microphone reads 3 dB high.
  std::vector<float> measured(1100, 0.0f);
  measured[3] = std::nanf("");
  MicCalibration::apply(measured, correction);
  EXPECT_NEAR(measured[bandNear(8000.0)], -3.0f, 1e-5f);
  EXPECT_NEAR(measured[bandNear(500.0)], 0.0f, 1e-6f);
  EXPECT_NEAR(measured[bandNear(8.0)], 0.0f, 1e-6f);          // below the file: 20 Hz's
  EXPECT_NEAR(measured[axis.bandCount() - 1], -1.0f, 1e-6f);  // above it: 20 kHz's
  EXPECT_TRUE(std::isnan(measured[3]));
  // Halfway between 1 and 7 kHz in log frequency lies halfway between 0 and 3 dB.
  const double middle = std::sqrt(1000.0 * 7000.0);
  EXPECT_NEAR(correction[bandNear(middle)], -1.5f, 0.02f);
}

TEST(MicCalibration, ALoadedFileIsNamedAfterIt) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "quorvex-calibration-test.frd").string();
  std::ofstream(path) << "* no sensitivity here\n20 0.5\n20000 -0.5\n";
  MicCalibration calibration;
  CurveFileError error;
  ASSERT_TRUE(MicCalibration::load(path, &calibration, &error)) << error.text();
  EXPECT_EQ(calibration.name(), "quorvex-calibration-test.frd");
  EXPECT_FALSE(calibration.sensitivityDb().has_value());
  std::filesystem::remove(path);
  EXPECT_FALSE(MicCalibration::load(path, &calibration, &error));
  EXPECT_NE(error.text().find("Cannot read " + path), std::string::npos);
}

class TargetCurveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CurveFileError error;
    // Typed in: flat 0 dB ±3 from 100 Hz to 1 kHz, falling to −6 dB at 10 kHz where the band
    // reaches 2 dB below and 4 dB above.
    ASSERT_TRUE(TargetCurve::parse("100 0\n1000 0\n10000 -6 2 4\n", 3.0, &target, &error))
        << error.text();
  }
  TargetCurve target;
  const BandAxis axis{1100};
};

TEST_F(TargetCurveTest, DistanceOutsideTheBandIsSignedAndZeroInside) {
  const TargetBands bands = target.onAxis(axis);
  std::vector<float> measured = bands.level;  // on target, blank outside it
  measured[bandNear(50.0)] = 0.0f;
  const std::size_t at200 = bandNear(200.0);
  const std::size_t at10k = bandNear(10000.0);
  measured[at200] = 5.0f;       // 2 dB above the +3 edge
  measured[at200 + 1] = -4.0f;  // 1 dB below the −3 edge
  measured[at10k] = -9.0f;      // the band there is −8 to −2: 1 dB below
  measured[at10k - 1] = std::nanf("");
  const std::vector<float> distance = TargetCurve::distanceOutside(bands, measured);
  EXPECT_NEAR(distance[at200], 2.0f, 1e-5f);
  EXPECT_NEAR(distance[at200 + 1], -1.0f, 1e-5f);
  EXPECT_EQ(distance[at200 + 2], 0.0f);
  EXPECT_NEAR(bands.level[at10k], -6.0f, 0.03f);
  EXPECT_NEAR(distance[at10k], -1.0f, 0.05f);
  EXPECT_TRUE(std::isnan(distance[at10k - 1]));
  EXPECT_TRUE(std::isnan(distance[bandNear(50.0)]));     // below the target
  EXPECT_TRUE(std::isnan(distance[bandNear(15000.0)]));  // above it

  const TargetSummary summary = TargetCurve::summarize(distance);
  EXPECT_EQ(summary.bandsOutside, 3u);
  EXPECT_NEAR(summary.largestAbove, 2.0f, 1e-5f);
  EXPECT_NEAR(summary.largestBelow, 1.0f, 0.05f);
  // 100 Hz to 10 kHz: two decades of 320 bands, less the blank one.
  EXPECT_NEAR(static_cast<double>(summary.bandsCompared), 640.0, 2.0);
}

TEST_F(TargetCurveTest, KeptAsTextItReadsBackTheSame) {
  TargetCurve again;
  CurveFileError error;
  ASSERT_TRUE(TargetCurve::parse(target.toText(), 1.0, &again, &error)) << error.text();
  EXPECT_EQ(again.points(), target.points());
  EXPECT_EQ(again.points()[2], (TargetPoint{10000.0, -6.0, 2.0, 4.0}));
  EXPECT_EQ(again.points()[0], (TargetPoint{100.0, 0.0, 3.0, 3.0}));
}

TEST_F(TargetCurveTest, ANegativeToleranceIsRefusedWithItsLine) {
  TargetCurve refused;
  CurveFileError error;
  EXPECT_FALSE(TargetCurve::parse("100 0 3\n1000 0 -1\n", 3.0, &refused, &error));
  EXPECT_EQ(error.line, 2u);
  EXPECT_NE(error.text().find("tolerance"), std::string::npos);
}

}  // namespace
}  // namespace qv::curves
