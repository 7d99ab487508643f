// Trace files come from anywhere: damaged, truncated, random and hostile property lists
// (XML and binary) must each end in "no dictionary" or a dictionary whose curves read
// safely, never in a crash or a hang. Under AddressSanitizer this also checks the reads.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "TraceTestSupport.h"
#include "traces/PropertyListGuard.h"
#include "traces/TraceDictionary.h"

namespace qv {
namespace {

constexpr const char* kXmlTrace = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
  <key>class</key><string>transferfunction</string>
  <key>magnitude</key><array><real>1.5</real><integer>-3</integer><real>0.25</real></array>
  <key>phase</key><array><real>10</real><real>20</real><real>30</real></array>
  <key>coherence</key><array><true/><false/><real>0.5</real></array>
  <key>comment</key><string>Smoothing: 1/12 oct</string>
  <key>when</key><date>2001-01-01T00:00:00Z</date>
  <key>blob</key><data>AAECAwQ=</data>
</dict>
</plist>
)";

std::string binaryOf(const std::string& xml) {
  plist_t root = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  char* bytes = nullptr;
  uint32_t length = 0;
  if (root) plist_to_bin(root, &bytes, &length);
  plist_free(root);
  std::string out = bytes ? std::string(bytes, length) : std::string();
  std::free(bytes);
  return out;
}

// Whatever the parser makes of the bytes, reading every curve must be safe.
void readEverything(const std::string& bytes) {
  const auto dictionary = TraceDictionary::fromData(bytes);
  if (!dictionary) return;
  for (const char* key : {"class", "magnitude", "phase", "coherence", "comment"}) {
    dictionary->stringForKey(key);
    if (dictionary->hasArrayForKey(key)) dictionary->floatsForKey(key);
    TraceManager::traceWithTypeFromDictionarySuccess(key, *dictionary,
                                                     [](const float* values, std::size_t count) {
                                                       float sum = 0.0f;
                                                       for (std::size_t i = 0; i < count; ++i)
                                                         sum += values[i];
                                                       (void)sum;
                                                     });
  }
}

class TraceFileDamage : public ::testing::TestWithParam<bool> {
 protected:
  std::string sample() const { return GetParam() ? binaryOf(kXmlTrace) : kXmlTrace; }
  test::LogCapture log;
};

// The intact file reads; every truncation of it, and every few bytes flipped in it, read
// safely.
TEST_P(TraceFileDamage, TruncatedAndFlippedFilesAreSafe) {
  const std::string full = sample();
  const auto dictionary = TraceDictionary::fromData(full);
  ASSERT_TRUE(dictionary.has_value());
  EXPECT_EQ(dictionary->floatsForKey("coherence"), (std::vector<float>{1.0f, 0.0f, 0.5f}));
  for (std::size_t n = 0; n < full.size(); ++n) readEverything(full.substr(0, n));
  std::mt19937 gen(GetParam() ? 7 : 8);
  for (int i = 0; i < 20000; ++i) {
    std::string damaged = full;
    const int flips = 1 + static_cast<int>(gen() % 4);
    for (int f = 0; f < flips; ++f) damaged[gen() % damaged.size()] = static_cast<char>(gen());
    readEverything(damaged);
  }
}

TEST_P(TraceFileDamage, RandomBytesAreSafe) {
  std::mt19937 gen(GetParam() ? 9 : 10);
  for (int i = 0; i < 20000; ++i) {
    std::string bytes(gen() % 600, '\0');
    for (char& c : bytes) c = static_cast<char>(gen());
    // Half of them claim to be binary lists, so the binary parser sees them too.
    if (GetParam() && bytes.size() >= 8) bytes.replace(0, 8, "bplist00");
    readEverything(bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, TraceFileDamage, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Binary" : "Xml"; });

void bigEndian(std::string& out, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Binary lists of n objects in which object i is an array holding object i + 1 (the last
// one refers back to the first when `cycle`).
std::string chainedArrays(std::uint32_t n, bool cycle) {
  std::string out = "bplist00";
  std::vector<std::uint64_t> offsets;
  for (std::uint32_t i = 0; i < n; ++i) {
    offsets.push_back(out.size());
    const bool last = i + 1 == n;
    out.push_back(static_cast<char>(last && !cycle ? 0xA0 : 0xA1));
    if (!last || cycle) bigEndian(out, last ? 0 : i + 1, 4);
  }
  const std::uint64_t table = out.size();
  for (std::uint64_t o : offsets) bigEndian(out, o, 4);
  out.append(6, '\0');
  out.push_back(4);  // offset size
  out.push_back(4);  // reference size
  bigEndian(out, n, 8);
  bigEndian(out, 0, 8);
  bigEndian(out, table, 8);
  return out;
}

// The parser recurses per level: nesting deep enough to exhaust its stack is refused
// before it runs, in both forms, as are lists that contain themselves.
TEST(TraceFileHostile, DeepNestingAndCyclesAreRefused) {
  EXPECT_TRUE(PropertyListGuard::acceptable(chainedArrays(8, false), nullptr));
  for (std::uint32_t n : {40u, 200000u}) {
    std::string why;
    EXPECT_FALSE(PropertyListGuard::acceptable(chainedArrays(n, false), &why)) << n;
    EXPECT_EQ(why, "nested too deeply");
    EXPECT_FALSE(TraceDictionary::fromData(chainedArrays(n, false)).has_value());
  }
  std::string why;
  EXPECT_FALSE(PropertyListGuard::acceptable(chainedArrays(3, true), &why));
  EXPECT_EQ(why, "a binary property list that contains itself");

  std::string xml = "<plist version=\"1.0\"><dict><key>a</key>";
  for (int i = 0; i < 200000; ++i) xml += "<array>";
  EXPECT_FALSE(TraceDictionary::fromData(xml).has_value());
  for (int i = 0; i < 200000; ++i) xml += "</array>";
  xml += "</dict></plist>";
  EXPECT_FALSE(TraceDictionary::fromData(xml).has_value());
  // Empty containers open nothing, however many there are.
  std::string flat = "<plist version=\"1.0\"><dict><key>a</key><array>";
  for (int i = 0; i < 1000; ++i) flat += "<array/><dict/>";
  flat += "</array></dict></plist>";
  EXPECT_TRUE(TraceDictionary::fromData(flat).has_value());
}

// A small binary list whose arrays each refer to the next one twice would expand into
// 2^30 copies in the parser's tree: refused by its size, not by its depth.
TEST(TraceFileHostile, SharedObjectsThatWouldExpandAreRefused) {
  constexpr std::uint32_t kLevels = 30;
  std::string out = "bplist00";
  std::vector<std::uint64_t> offsets;
  for (std::uint32_t i = 0; i < kLevels; ++i) {
    offsets.push_back(out.size());
    out.push_back(static_cast<char>(0xA2));
    bigEndian(out, i + 1, 1);
    bigEndian(out, i + 1, 1);
  }
  offsets.push_back(out.size());
  out.push_back(static_cast<char>(0x5F));  // the shared leaf: a string of 1000 bytes
  out.push_back(static_cast<char>(0x11));
  bigEndian(out, 1000, 2);
  out.append(1000, 'x');
  const std::uint64_t table = out.size();
  for (std::uint64_t o : offsets) bigEndian(out, o, 2);
  out.append(6, '\0');
  out.push_back(2);
  out.push_back(1);
  bigEndian(out, offsets.size(), 8);
  bigEndian(out, 0, 8);
  bigEndian(out, table, 8);
  std::string why;
  EXPECT_FALSE(PropertyListGuard::acceptable(out, &why));
  EXPECT_EQ(why, "too many objects");
}

}  // namespace
}  // namespace qv
