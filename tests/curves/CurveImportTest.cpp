// Curve files from other programs: the same curve in every common form reads the same; a
// malformed line is refused with its number and nothing else.
#include <gtest/gtest.h>

#include <cmath>

#include "curves/CurveImport.h"

namespace qv::curves {
namespace {

// Three points: 100 Hz −3 dB 45° coherence 0.9; 1 kHz blank; 10 kHz 2.5 dB −170° 0.5.
struct Form {
  const char* name;
  const char* text;
  bool hasCoherence;
};

const Form kForms[] = {
    {"CsvWithHeaderAndBlankFields",
     "frequency_hz,magnitude_db,phase_deg,coherence\n"
     "100.0000,-3.0000,45.000,0.90000\n1000.0000,,,\n10000.0000,2.5000,-170.000,0.50000\n",
     true},
    {"FrdWithStarComments",
     "* Quorvex trace: front\n* frequency_hz magnitude_db phase_deg\n"
     "100 -3 45\n1000 nan nan\n10000 2.5 -170\n",
     false},
    {"TabsHashAndSemicolonComments",
     "# made elsewhere\n; another note\nFreq\tSPL\tPhase\tCoherence\n"
     "100\t-3\t45\t90\n1000\t\t\t\n10000\t+2.5\t-170\t50\n",
     true},
    {"WindowsLinesByteOrderMarkAndQuotes",
     "\xEF\xBB\xBF\"Freq(Hz)\",\"SPL(dB)\",\"Phase(degrees)\"\r\n"
     "\"100\",\"-3\",\"45\"\r\n  1000 , , \r\n10000, 2.5, -170\r\n",
     false},
    {"NamedColumnsInAnotherOrder",
     "Frequency (Hz), Phase (deg), Coherence, Magnitude (dB)\n"
     "100, 45, 0.9, -3\n1000,,,\n10000, -170, 0.5, 2.5\n",
     true},
    {"PhaseInRadians",
     "freq;comment\nfreq mag phase_rad\n"
     "100 -3 0.7853981633974483\n1000 nan nan\n10000 2.5 -2.9670597283903604\n",
     false},
};

class CurveForms : public ::testing::TestWithParam<Form> {};

TEST_P(CurveForms, ReadTheSamePoints) {
  CurvePoints points;
  CurveFileError error;
  ASSERT_TRUE(CurveImport::points(GetParam().text, &points, &error)) << error.text();
  EXPECT_EQ(points.frequency, (std::vector<double>{100.0, 1000.0, 10000.0}));
  ASSERT_EQ(points.magnitude.size(), 3u);
  EXPECT_DOUBLE_EQ(points.magnitude[0], -3.0);
  EXPECT_TRUE(std::isnan(points.magnitude[1]));
  EXPECT_DOUBLE_EQ(points.magnitude[2], 2.5);
  ASSERT_EQ(points.phase.size(), 3u);
  EXPECT_NEAR(points.phase[0], 45.0, 1e-9);
  EXPECT_TRUE(std::isnan(points.phase[1]));
  EXPECT_NEAR(points.phase[2], -170.0, 1e-9);
  if (GetParam().hasCoherence) {
    ASSERT_EQ(points.coherence.size(), 3u);
    EXPECT_NEAR(points.coherence[0], 0.9, 1e-12);  // 90 % read as 0.9
    EXPECT_NEAR(points.coherence[2], 0.5, 1e-12);
  } else {
    EXPECT_TRUE(points.coherence.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CurveForms, ::testing::ValuesIn(kForms),
                         [](const auto& info) { return std::string(info.param.name); });

struct Malformed {
  const char* name;
  const char* text;
  std::size_t line;
  const char* says;
};

const Malformed kMalformed[] = {
    {"TextInANumber", "* c\n100 -3\n200 -2\n300 x3\n400 -1\n", 4, "\"x3\" is not a number"},
    {"AValueMissing", "100,-3,10\n200,-2\n", 2, "2 values where the lines before have 3"},
    {"AValueTooMany", "100 -3\n200 -2 5\n", 2, "3 values where the lines before have 2"},
    {"FrequencyFalling", "100 -3\n300 -2\n200 -1\n", 3,
     "the frequency 200 Hz does not rise above 300 Hz of line 2"},
    {"FrequencyRepeated", "100 -3\n100 -2\n", 2, "does not rise above 100 Hz"},
    {"ZeroFrequency", "0 -3\n100 -2\n", 1, "the frequency 0 is not above 0 Hz"},
    {"TextAfterTheData", "100 -3\n200 -2\nend of data\n", 3, "\"end\" is not a number"},
    {"CoherenceOutOfRange", "f,mag,phase,coh\n100,-3,0,0.5\n200,-2,0,150\n", 3,
     "the coherence 150 is outside 0 to 1"},
    {"OneColumn", "100\n200\n", 1, "1 value where at least 2 are needed"},
    {"OnePoint", "# only\n100 -3\n", 0, "a curve needs two"},
    {"NoNumbers", "* nothing here\n", 0, "no line of numbers"},
};

class MalformedCurves : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedCurves, AreRefusedWithTheLineAtFault) {
  const BandAxis axis(1100);
  BandCurves curves(3);
  CurveFileError error;
  EXPECT_FALSE(CurveImport::fromText(GetParam().text, axis, &curves, &error));
  EXPECT_EQ(error.line, GetParam().line);
  EXPECT_NE(error.text().find(GetParam().says), std::string::npos) << error.text();
  if (GetParam().line > 0) {
    EXPECT_EQ(error.text().rfind("Line " + std::to_string(GetParam().line) + ": ", 0), 0u);
  }
  EXPECT_EQ(curves.size(), 3u);  // untouched
}

INSTANTIATE_TEST_SUITE_P(Files, MalformedCurves, ::testing::ValuesIn(kMalformed),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv::curves
