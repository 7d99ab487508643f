#include "cli/Options.h"

#include <gtest/gtest.h>

#include "cli/CliError.h"

namespace qv::cli {
namespace {

Options parse(std::initializer_list<const char*> args) {
  return parseOptions(std::vector<std::string>(args.begin(), args.end()));
}

TEST(Options, FileModeWithEveryAnalysisOption) {
  const Options o = parse({"file", "in.wav", "--meas", "2", "--ref", "0", "--smoothing", "12",
                           "--averaging", "1000", "--delay", "-12.5", "--auto-delay",
                           "--coherence-threshold", "0.3", "--out", "a.csv", "--json", "a.json",
                           "--svg", "a.svg", "--save-trace", "Main L"});
  EXPECT_EQ(o.command, Command::File);
  EXPECT_EQ(o.input, "in.wav");
  EXPECT_EQ(o.meas, 2);
  EXPECT_EQ(o.ref, 0);
  EXPECT_EQ(o.smoothing, 12);
  EXPECT_EQ(o.averaging, 1000);
  EXPECT_FLOAT_EQ(o.delayMs, -12.5f);
  EXPECT_TRUE(o.autoDelay);
  EXPECT_FLOAT_EQ(o.coherenceThreshold, 0.3f);
  EXPECT_EQ(*o.saveTrace, "Main L");
}

TEST(Options, DefaultsAreTheProgramsOwn) {
  const Options o = parse({"file", "--meas-file", "m.wav", "--ref-file", "r.wav"});
  EXPECT_EQ(o.measFile, "m.wav");
  EXPECT_EQ(o.smoothing, 24);
  EXPECT_EQ(o.averaging, 100);
  EXPECT_FLOAT_EQ(o.coherenceThreshold, 0.05f);
  EXPECT_FALSE(o.out.has_value());
}

// Every value out of range, every contradiction: one clear line, never a silent default.
TEST(Options, RejectsValuesOutOfRangeAndContradictions) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"analyse"},
      {"file"},
      {"file", "a.wav", "b.wav"},
      {"file", "a.wav", "--smoothing", "5"},
      {"file", "a.wav", "--smoothing", "twelve"},
      {"file", "a.wav", "--averaging", "0"},
      {"file", "a.wav", "--averaging", "1001"},
      {"file", "a.wav", "--averaging", "2.5"},
      {"file", "a.wav", "--delay", "1000.5"},
      {"file", "a.wav", "--delay", "nan"},
      {"file", "a.wav", "--coherence-threshold", "1.5"},
      {"file", "a.wav", "--meas", "-1"},
      {"file", "a.wav", "--meas", "1", "--ref", "1"},
      {"file", "a.wav", "--out"},
      {"file", "a.wav", "--frobnicate"},
      {"file", "--meas-file", "m.wav"},
      {"file", "x.wav", "--meas-file", "m.wav", "--ref-file", "r.wav"},
      {"live", "--seconds", "3"},
      {"live", "--input", "virtual:Quorvex Virtual"},
      {"live", "--input", "x", "--seconds", "0"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_THROW(parseOptions(args), CliError) << joined;
  }
}

}  // namespace
}  // namespace qv::cli
