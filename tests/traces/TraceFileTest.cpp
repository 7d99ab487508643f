#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "TraceTestSupport.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

constexpr const char* kXmlTrace = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>class</key><string>transferfunction</string>
  <key>magnitude</key><array><real>1.5</real><integer>-3</integer><real>0.25</real></array>
  <key>phase</key><array/>
  <key>coherence</key><string>not an array</string>
</dict>
</plist>
)";

class TraceFileTest : public test::TraceFixture {
 protected:
  void SetUp() override {
    documents = std::make_unique<test::ScopedEnv>("QUORVEX_DOCUMENTS_DIR",
                                                  (folder.path() + "/docs").c_str());
    store = std::make_unique<TraceManager>(folder.path() + "/data");
    store->getDocPath();
    fs::create_directories(store->documentPath());
  }

  // Reads one curve through the given operation; nullopt when the callback never ran.
  using Reader = void (TraceManager::*)(const TraceDictionary&,
                                        const TraceManager::TraceCurveCallback&) const;
  std::optional<std::vector<float>> read(Reader reader, const TraceDictionary& dictionary) {
    std::optional<std::vector<float>> got;
    (store.get()->*reader)(dictionary, [&](const float* values, std::size_t count) {
      got = values ? std::vector<float>(values, values + count) : std::vector<float>{};
      EXPECT_EQ(values == nullptr, count == 0);
    });
    return got;
  }

  void expectTheSampleTrace(const TraceDictionary& dictionary) {
    EXPECT_EQ(read(&TraceManager::magnitudeFromDictionarySuccess, dictionary),
              (std::vector<float>{1.5f, -3.0f, 0.25f}));
    // An empty array is reported as an empty curve; a value that is no array not at all.
    EXPECT_EQ(read(&TraceManager::phaseFromDictionarySuccess, dictionary), std::vector<float>{});
    EXPECT_EQ(read(&TraceManager::coherenceFromDictionarySuccess, dictionary), std::nullopt);
  }

  std::unique_ptr<TraceManager> store;
  std::unique_ptr<test::ScopedEnv> documents;
};

TEST_F(TraceFileTest, WithoutAnOverrideTheUsersDocumentsDirectoryIsUsed) {
  const std::string home = folder.path() + "/home";
  fs::create_directories(home + "/.config");
  test::writeFile(home + "/.config/user-dirs.dirs",
                  "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                  "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  test::ScopedEnv noOverride("QUORVEX_DOCUMENTS_DIR", nullptr);
  test::ScopedEnv noDocuments("XDG_DOCUMENTS_DIR", nullptr);
  test::ScopedEnv noConfig("XDG_CONFIG_HOME", nullptr);
  test::ScopedEnv homeHere("HOME", home.c_str());
  store->getDocPath();
  EXPECT_EQ(store->documentPath(), home + "/Dokumente/QuorvexDocuments/Traces");
}

TEST_F(TraceFileTest, ReadsXmlAndBinaryPropertyLists) {
  EXPECT_EQ(store->documentPath(), folder.path() + "/docs/QuorvexDocuments/Traces");
  test::writeFile(store->documentPath() + "/sample.plist", kXmlTrace);
  const auto xml = store->loadTracesWithName("sample.plist");
  ASSERT_TRUE(xml.has_value());
  expectTheSampleTrace(*xml);

  // The same dictionary in the binary form.
  plist_t root = nullptr;
  plist_from_xml(kXmlTrace, static_cast<uint32_t>(std::strlen(kXmlTrace)), &root);
  ASSERT_NE(root, nullptr);
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  plist_free(root);
  ASSERT_GT(length, 8u);
  ASSERT_EQ(std::string(bytes, 8), "bplist00");
  const std::string path = folder.path() + "/elsewhere/binary.plist";
  fs::create_directories(folder.path() + "/elsewhere");
  test::writeFile(path, std::string(bytes, length));
  std::free(bytes);

  TraceShot shot;
  shot.filepath = path;
  EXPECT_EQ(shot.filename(), "binary.plist");
  const auto binary = store->readShotData(shot);
  ASSERT_TRUE(binary.has_value());
  expectTheSampleTrace(*binary);
}

TEST_F(TraceFileTest, AnotherClassIsRefused) {
  std::string other = kXmlTrace;
  other.replace(other.find("transferfunction"), 16, "impulse");
  const auto dictionary = TraceDictionary::fromData(other);
  ASSERT_TRUE(dictionary.has_value());
  EXPECT_EQ(read(&TraceManager::magnitudeFromDictionarySuccess, *dictionary), std::nullopt);
  EXPECT_TRUE(log.contains("Wrong trace class!!"));
  // Asked by type directly, the class is not looked at.
  bool called = false;
  TraceManager::traceWithTypeFromDictionarySuccess(
      "magnitude", *dictionary, [&](const float*, std::size_t count) { called = count == 3; });
  EXPECT_TRUE(called);
}

TEST_F(TraceFileTest, UnreadableFilesAndValuesGiveNothing) {
  EXPECT_FALSE(store->loadTracesWithName("missing.plist").has_value());
  TraceShot noFile;
  EXPECT_FALSE(store->readShotData(noFile).has_value());
  EXPECT_FALSE(TraceDictionary::fromData("just some words").has_value());
  EXPECT_FALSE(TraceDictionary::fromData("").has_value());
  // A property list whose root is an array is not a trace.
  EXPECT_FALSE(
      TraceDictionary::fromData("<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>")
          .has_value());
  std::string mixed = kXmlTrace;
  mixed.replace(mixed.find("<integer>-3</integer>"), 21, "<string>x</string>");
  const auto dictionary = TraceDictionary::fromData(mixed);
  ASSERT_TRUE(dictionary.has_value());
  EXPECT_EQ(read(&TraceManager::magnitudeFromDictionarySuccess, *dictionary), std::nullopt);
  EXPECT_TRUE(log.contains("not a number"));
}

// The file name comes from outside: it must name a file in the trace folder and nothing
// else, and nothing is read before the folder is known.
TEST_F(TraceFileTest, NamesThatLeaveTheFolderAndAnUnknownFolderAreRefused) {
  test::writeFile(store->documentPath() + "/sample.plist", kXmlTrace);
  fs::create_directories(store->documentPath() + "/sub");
  test::writeFile(store->documentPath() + "/sub/inner.plist", kXmlTrace);
  test::writeFile(folder.path() + "/docs/QuorvexDocuments/outside.plist", kXmlTrace);
  for (const std::string& name :
       {std::string("../outside.plist"), std::string("sub/inner.plist"),
        store->documentPath() + "/sample.plist", std::string(".."), std::string("."),
        std::string(""), std::string("sample.plist\0x", 14)}) {
    EXPECT_FALSE(store->loadTracesWithName(name).has_value()) << name;
  }
  EXPECT_TRUE(log.contains("not a file name inside the trace folder"));
  EXPECT_TRUE(store->loadTracesWithName("sample.plist").has_value());

  // A store that never looked up its folder would otherwise read from "/".
  TraceManager fresh(folder.path() + "/data2");
  EXPECT_EQ(fresh.documentPath(), "");
  EXPECT_FALSE(fresh.loadTracesWithName("etc").has_value());
  EXPECT_TRUE(log.contains("Trace file etc: the trace folder is not known yet"));
}

// Only regular files of at most 64 MiB are read: a larger one (sparse here, so the test
// writes nothing), a FIFO with no writer and a directory each fail at once with a reason.
TEST_F(TraceFileTest, LargeFilesAndSpecialFilesAreRefusedWithoutReadingThem) {
  const std::string big = store->documentPath() + "/big.plist";
  test::writeFile(big, kXmlTrace);
  fs::resize_file(big, TraceDictionary::kMaxFileBytes + 1);
  EXPECT_FALSE(store->loadTracesWithName("big.plist").has_value());
  EXPECT_TRUE(log.contains("big.plist: larger than 64 MiB"));

  ASSERT_EQ(::mkfifo((store->documentPath() + "/pipe.plist").c_str(), 0600), 0);
  EXPECT_FALSE(store->loadTracesWithName("pipe.plist").has_value());
  EXPECT_TRUE(log.contains("pipe.plist: not a regular file"));
  TraceShot dir;
  dir.filepath = store->documentPath();
  EXPECT_FALSE(store->readShotData(dir).has_value());
}

}  // namespace
}  // namespace qv
