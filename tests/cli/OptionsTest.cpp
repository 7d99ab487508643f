#include <gtest/gtest.h>

#include "cli/CliError.h"
#include "cli/Options.h"

namespace qv::cli {
namespace {

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
      {"file", "a.wav", "--delay", "3000.5"},
      {"file", "a.wav", "--delay", "-3000.01"},
      {"file", "a.wav", "--finder-band", "120-30"},
      {"file", "a.wav", "--finder-band", "30"},
      {"file", "a.wav", "--finder-band", "0-120"},
      {"file", "a.wav", "--finder-band", "30-200000"},
      {"file", "a.wav", "--snapshot-every", "0", "dir"},
      {"file", "a.wav", "--snapshot-every", "1"},
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
      {"file", "a.wav", "--rta", "r.csv", "--octave", "5"},
      {"file", "a.wav", "--rta", "r.csv", "--octave", "96"},
      {"file", "a.wav", "--rta", "r.csv", "--weighting", "B"},
      {"file", "a.wav", "--octave", "3"},     // without --rta it would do nothing
      {"file", "a.wav", "--weighting", "A"},  // the same
      {"demo", "--rta", "r.csv"},
      {"devices", "--group-delay"},
      {"file", "a.wav", "--tolerance", "-1"},
      {"file", "a.wav", "--mic-cal"},
      {"traces", "import"},
      {"traces", "import", "a.txt", "b.txt"},
      {"traces", "import", "a.txt", "--name", ""},
      {"traces", "import", "a.txt", "--newest"},
      {"traces", "average", "A", "--name", "M"},
      {"traces", "average", "A", "B"},
      {"traces", "export", "A", "--name", "B"},
      {"traces", "list", "--name", "B"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_THROW(parseOptions(args), CliError) << joined;
  }
}

}  // namespace
}  // namespace qv::cli
