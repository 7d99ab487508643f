// A log line is written whole or not at all. The full disk is simulated by a file size
// limit (RLIMIT_FSIZE, with SIGXFSZ ignored) in a child process: a write that crosses it
// is cut short, the next fails with EFBIG, as on a file system that runs out of space.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>

#include "platform/LineLog.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"

namespace qv {
namespace {

using test::readFile;
using test::writeFile;

TEST(LineLog, ALineCutShortByAFullDiskComesOutAgain) {
  test::TempFolder dir;
  const std::string path = dir.path("usage-events.jsonl");
  const auto child = test::runInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    LineLog log(path, 1 << 20);
    if (!log.append(R"({"event":"first"})", nullptr)) return 1;
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit full = saved;
    full.rlim_cur = 40;  // the second line starts at 19 and would end at 92
    if (::setrlimit(RLIMIT_FSIZE, &full) != 0) return 2;
    std::string error;
    if (log.append(R"({"event":")" + std::string(60, 'x') + R"("})", &error)) return 3;
    if (error.find(std::strerror(EFBIG)) == std::string::npos) return 4;
    ::setrlimit(RLIMIT_FSIZE, &saved);  // space again
    if (!log.append(R"({"event":"third"})", nullptr)) return 5;
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_EQ(readFile(path), "{\"event\":\"first\"}\n{\"event\":\"third\"}\n");
}

// Left by a run that was killed mid-line, or by one before lines were written whole.
TEST(LineLog, ATornLastLineIsCutOffBeforeTheNextLine) {
  test::TempFolder dir;
  for (const auto& [before, after] :
       {std::pair{"{\"event\":\"a\"}\n{\"eve", "{\"event\":\"a\"}\n{\"event\":\"b\"}\n"},
        std::pair{"{\"eve", "{\"event\":\"b\"}\n"}}) {
    const std::string path = dir.path("events.jsonl");
    writeFile(path, before);
    LineLog log(path, 1 << 20);
    ASSERT_TRUE(log.append(R"({"event":"b"})", nullptr));
    EXPECT_EQ(readFile(path), after);
  }
}

}  // namespace
}  // namespace qv
