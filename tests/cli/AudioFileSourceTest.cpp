#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

#include "cli/AudioFileSource.h"
#include "cli/CliError.h"
#include "cli/TestFiles.h"  // tests/cli

namespace qv::cli {
namespace {

class AudioFileSourceTest : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(AudioFileSourceTest, PicksTheTwoChannelsInMeasurementReferenceOrder) {
  // Channel c of frame i holds 1000·c + i, so every sample says where it came from.
  const std::string path = dir.path("three.wav");
  std::vector<float> data(3 * 500);
  for (int i = 0; i < 500; ++i)
    for (int c = 0; c < 3; ++c) data[static_cast<size_t>(3 * i + c)] = (1000.0f * c + i) / 4096.0f;
  writeSoundFile(path, 48000, 3, data);
  auto source = AudioFileSource::openMultichannel(path, 2, 0);
  EXPECT_EQ(source->sampleRate(), 48000u);
  EXPECT_EQ(source->frames(), 500);
  std::vector<float> out(2 * 600);
  size_t total = 0, got = 0;
  while ((got = source->read(out.data() + 2 * total, 128)) > 0) total += got;
  ASSERT_EQ(total, 500u);
  for (size_t i = 0; i < 500; ++i) {
    EXPECT_FLOAT_EQ(out[2 * i] * 4096.0f, 2000.0f + i);
    EXPECT_FLOAT_EQ(out[2 * i + 1] * 4096.0f, static_cast<float>(i));
  }
}

// Fields of the header that say nothing about the length (here the byte rate, which some
// writers fill in wrongly) must not make a whole file look truncated. (The rates at both ends
// of the range: AnalyzeRates.)
TEST_F(AudioFileSourceTest, OddHeaderFieldsAreAccepted) {
  const std::string path = dir.path("byterate.wav");
  writeSoundFile(path, 48000, 2, std::vector<float>(2 * 1000, 0.25f));
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(28);  // the byte-rate field of the fmt chunk
    const char bogus[4] = {0x39, 0x30, 0, 0};
    file.write(bogus, 4);
  }
  auto source = AudioFileSource::openMultichannel(path, 0, 1);
  EXPECT_EQ(source->frames(), 1000);
  std::vector<float> out(2 * 1000);
  EXPECT_EQ(source->read(out.data(), 1000), 1000u);
}

TEST_F(AudioFileSourceTest, TwoMonoFilesPairUp) {
  writeSoundFile(dir.path("m.flac"), 44100, 1, std::vector<float>(300, 0.25f));
  writeSoundFile(dir.path("r.flac"), 44100, 1, std::vector<float>(200, -0.5f));
  auto source = AudioFileSource::openPair(dir.path("m.flac"), dir.path("r.flac"));
  EXPECT_EQ(source->frames(), 200);  // the shorter file bounds the analysis
  std::vector<float> out(2 * 300);
  EXPECT_EQ(source->read(out.data(), 300), 200u);
  EXPECT_FLOAT_EQ(out[0], 0.25f);
  EXPECT_FLOAT_EQ(out[1], -0.5f);
}

// Damaged and unusable inputs each give a message that names the problem.
TEST_F(AudioFileSourceTest, BadFilesAreRefusedWithTheReason) {
  const auto expectError = [](auto&& call, const std::string& needle) {
    try {
      call();
      ADD_FAILURE() << "no error for " << needle;
    } catch (const CliError& e) {
      EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
    }
  };
  expectError([&] { AudioFileSource::openMultichannel(dir.path("missing.wav"), 0, 1); },
              "missing.wav");

  writeSoundFile(dir.path("stereo.wav"), 48000, 2, std::vector<float>(2 * 100, 0.1f));
  expectError([&] { AudioFileSource::openMultichannel(dir.path("stereo.wav"), 0, 2); },
              "out of range (channels are counted from 0)");

  writeSoundFile(dir.path("empty.wav"), 48000, 2, {});
  expectError([&] { AudioFileSource::openMultichannel(dir.path("empty.wav"), 0, 1); }, "no audio");

  writeSoundFile(dir.path("long.wav"), 48000, 2, std::vector<float>(2 * 100000, 0.1f));
  std::filesystem::resize_file(dir.path("long.wav"), 300000);
  expectError([&] { AudioFileSource::openMultichannel(dir.path("long.wav"), 0, 1); }, "truncated");
  writeSoundFile(dir.path("long.aiff"), 48000, 2, std::vector<float>(2 * 100000, 0.1f));
  std::filesystem::resize_file(dir.path("long.aiff"), 300000);
  expectError([&] { AudioFileSource::openMultichannel(dir.path("long.aiff"), 0, 1); },
              "of 100000 frames)");

  for (int rate : {8, 7999, 192001}) {
    const std::string name = "rate" + std::to_string(rate) + ".wav";
    writeSoundFile(dir.path(name), rate, 2, std::vector<float>(2 * 100, 0.1f));
    expectError([&] { AudioFileSource::openMultichannel(dir.path(name), 0, 1); },
                "the sample rate " + std::to_string(rate) + " Hz lies outside 8000 to 192000 Hz");
  }

  {
    FILE* f = std::fopen(dir.path("text.wav").c_str(), "w");
    std::fputs("this is not audio at all", f);
    std::fclose(f);
  }
  expectError([&] { AudioFileSource::openMultichannel(dir.path("text.wav"), 0, 1); }, "text.wav");

  writeSoundFile(dir.path("a.wav"), 48000, 1, std::vector<float>(100, 0.1f));
  writeSoundFile(dir.path("b.wav"), 44100, 1, std::vector<float>(100, 0.1f));
  expectError([&] { AudioFileSource::openPair(dir.path("a.wav"), dir.path("b.wav")); },
              "different rates");

  std::vector<float> withNan(2 * 1000, 0.1f);
  withNan[2 * 700 + 1] = std::numeric_limits<float>::quiet_NaN();
  writeSoundFile(dir.path("nan.wav"), 48000, 2, withNan);
  expectError(
      [&] {
        auto s = AudioFileSource::openMultichannel(dir.path("nan.wav"), 0, 1);
        std::vector<float> out(2 * 256);
        while (s->read(out.data(), 256) > 0) {
        }
      },
      "sample 700");
}

}  // namespace
}  // namespace qv::cli
