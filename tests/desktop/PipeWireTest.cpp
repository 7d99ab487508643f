// The command-line analyser measuring through PipeWire's JACK library (pw-jack), on a
// private PipeWire with a runtime folder of its own: no user session is touched.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "desktop/SystemProcess.h"

namespace qv::systemtest {
namespace {

constexpr const char* kJackDevice = "JACK Audio Connection Kit:system";

class PipeWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"pipewire", "pw-jack", "jack_connect", "jack_lsp"}) {
      if (!onPath(tool)) GTEST_SKIP() << tool << " is not installed (scripts/deps installs it)";
    }
    ASSERT_FALSE(dir.path().empty());
    runtime = dir / "runtime";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    env = "XDG_RUNTIME_DIR=" + shellQuoted(runtime) +
          " PIPEWIRE_RUNTIME_DIR=" + shellQuoted(runtime) + " HOME=" + shellQuoted(dir.path()) +
          " XDG_DATA_HOME=" + shellQuoted(dir / "data");
    ASSERT_TRUE(pipewire.start({"pipewire", "-c", QV_TEST_SOURCE_DIR "/desktop/pipewire-null.conf"},
                               {{"XDG_RUNTIME_DIR", runtime}, {"PIPEWIRE_RUNTIME_DIR", runtime}},
                               dir / "pipewire.log"));
    const bool up = waitUntil(
        [&] { return jack("jack_lsp").out.find("system:capture_2") != std::string::npos; }, 15);
    if (!up) {
      GTEST_SKIP() << "a private PipeWire did not come up here; it said: "
                   << readFile(dir / "pipewire.log");
    }
  }

  CommandResult jack(const std::string& tool, const std::string& args = "") {
    return runCommand("pw-jack " + tool + " " + args, dir.path(), env, 10);
  }

  ScratchDir dir{"pipewire"};
  std::string runtime, env;
  Background pipewire;
};

struct Band {
  double hz, db, deg, coherence;
};

std::vector<Band> measuredBands(const std::string& csv) {
  std::vector<Band> bands;
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    Band b{};
    char c1, c2, c3;
    std::istringstream row(line);
    if (row >> b.hz >> c1 >> b.db >> c2 >> b.deg >> c3 >> b.coherence) bands.push_back(b);
  }
  return bands;
}

TEST_F(PipeWireTest, AWireFromTheGeneratorToBothInputsMeasuresFlat) {
  // The known system is a wire: the generator's first output feeds both the measurement
  // and the reference input, so every band must read 0 dB, 0 degrees and a coherence of 1,
  // and the delay finder must find no delay. Audio crosses PipeWire's graph twice (out of
  // our client, into it) and is resampled from the graph's 48 kHz to the analysis' 44.1 kHz.
  Background analyse;
  ASSERT_TRUE(
      analyse.start({"pw-jack", QV_ANALYZE_PATH, "live", "--input", kJackDevice, "--generator",
                     kJackDevice, "--meas", "0", "--ref", "1", "--seconds", "4", "--auto-delay",
                     "--out", dir / "tf.csv", "--json", dir / "summary.json"},
                    {{"XDG_RUNTIME_DIR", runtime},
                     {"PIPEWIRE_RUNTIME_DIR", runtime},
                     {"XDG_DATA_HOME", dir / "data"}},
                    dir / "analyze.log"));
  ASSERT_TRUE(waitUntil(
      [&] {
        const std::string ports = jack("jack_lsp").out;
        return ports.find("quorvex:in_1") != std::string::npos &&
               ports.find("quorvex:out_0") != std::string::npos;
      },
      10))
      << "the analyser's JACK ports never appeared: " << readFile(dir / "analyze.log");
  // Like any JACK program it connected itself to the system's ports; the wire replaces that.
  jack("jack_disconnect", "system:capture_1 quorvex:in_0");
  jack("jack_disconnect", "system:capture_2 quorvex:in_1");
  ASSERT_EQ(jack("jack_connect", "quorvex:out_0 quorvex:in_0").status, 0);
  ASSERT_EQ(jack("jack_connect", "quorvex:out_0 quorvex:in_1").status, 0);

  ASSERT_EQ(analyse.wait(30), 0) << readFile(dir / "analyze.log");
  const std::string summary = readFile(dir / "summary.json");
  EXPECT_NE(summary.find("\"source\": \"JACK Audio Connection Kit:system\""), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("\"delay_found_ms\": 0,"), std::string::npos) << summary;

  const auto bands = measuredBands(readFile(dir / "tf.csv"));
  size_t checked = 0;
  for (const Band& b : bands) {
    if (b.hz < 40 || b.hz > 16000) continue;  // the pink noise is weak at the ends
    ++checked;
    ASSERT_NEAR(b.db, 0.0, 0.05) << b.hz << " Hz";
    ASSERT_NEAR(b.deg, 0.0, 0.5) << b.hz << " Hz";
    ASSERT_GT(b.coherence, 0.99) << b.hz << " Hz";
  }
  // 40 Hz to 16 kHz is 2.6 decades of 96 bands per 0.3 decade: about 830 bands.
  EXPECT_GT(checked, 800u) << "too few bands measured:\n" << readFile(dir / "tf.csv");
}

}  // namespace
}  // namespace qv::systemtest
