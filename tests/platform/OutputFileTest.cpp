// Outputs are written into what the user names: a regular file is replaced whole, a link's
// target is written and the link stays, FIFOs and the standard streams are written
// straight; the temporary files of killed runs are removed by the next write.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <future>

#include "platform/OutputFile.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

std::size_t temporariesIn(const std::string& folder) {
  std::size_t n = 0;
  for (const auto& e : fs::directory_iterator(folder)) {
    n += e.path().filename().string().find(".tmp-") != std::string::npos;
  }
  return n;
}

class OutputFileTest : public ::testing::Test {
 protected:
  test::TempFolder dir;
};

TEST_F(OutputFileTest, ARegularFileIsReplacedOnlyWhenCommitted) {
  const std::string target = dir.path("out.csv");
  writeFile(target, "old");
  {
    OutputFile out(target);
    EXPECT_EQ(out.kind(), OutputFile::Kind::Replace);
    ASSERT_TRUE(out.write("new")) << out.error();
    EXPECT_EQ(readFile(target), "old");
    const auto names = dir.names();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1].rfind("out.csv.tmp-" + std::to_string(::getpid()) + "-", 0), 0u);
  }  // never committed
  EXPECT_EQ(dir.names(), std::vector<std::string>{"out.csv"});
  EXPECT_EQ(readFile(target), "old");
}

// The temporary file lies beside the target, so the final rename never crosses a file
// system and the link's own folder (perhaps not writable) is never written.
TEST_F(OutputFileTest, LinksAreFollowedAndTheTargetsFolderHoldsTheTemporaryFile) {
  fs::create_directory(dir.path("a"));
  fs::create_directory(dir.path("b"));
  writeFile(dir.path("b/real.csv"), "old");
  fs::create_symlink("../b/real.csv", dir.path("a/relative"));
  fs::create_symlink("relative", dir.path("a/chain"));
  fs::create_symlink(dir.path("b/new.csv"), dir.path("a/dangling"));
  for (const auto& [link, target] :
       {std::pair{"a/relative", "b/real.csv"}, std::pair{"a/chain", "b/real.csv"},
        std::pair{"a/dangling", "b/new.csv"}}) {
    OutputFile out(dir.path(link));
    EXPECT_EQ(out.kind(), OutputFile::Kind::Replace) << link;
    ASSERT_TRUE(out.write(link)) << out.error();
    EXPECT_EQ(temporariesIn(dir.path("b")), 1u) << link;
    EXPECT_EQ(temporariesIn(dir.path("a")), 0u) << link;
    ASSERT_TRUE(out.commit()) << out.error();
    EXPECT_TRUE(fs::is_symlink(dir.path(link)));
    EXPECT_EQ(readFile(dir.path(target)), link);
    EXPECT_EQ(temporariesIn(dir.path("b")), 0u) << link;
  }
}

TEST_F(OutputFileTest, AFifoIsWrittenStraightAndStaysAFifo) {
  const std::string fifo = dir.path("curves.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(fifo, dir.path("link"));
  auto received = std::async(std::launch::async, [&] { return readFile(fifo); });
  OutputFile out(dir.path("link"));
  EXPECT_EQ(out.kind(), OutputFile::Kind::Stream);
  ASSERT_TRUE(out.write("curves") && out.commit()) << out.error();
  EXPECT_EQ(received.get(), "curves");
  EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
  EXPECT_EQ(temporariesIn(dir.root()), 0u);

  // A program whose main thread must not wait hears at once that nobody reads.
  std::string error;
  EXPECT_FALSE(OutputFile::writeWhole(fifo, "curves", &error, /*waitForReader=*/false));
  EXPECT_EQ(error, fifo + ": cannot write: no program reads from it");
}

// A shell's `>> log` must be appended to, not replaced by, and not overwritten from its
// start (which reopening /proc/self/fd/1 would do).
TEST_F(OutputFileTest, TheStandardStreamsAreTheDescriptorsThemselves) {
  fs::permissions(dir.root(), fs::perms::all);
  const std::string log = dir.path("log");
  writeFile(log, "log\n");
  fs::permissions(log, fs::perms::all);
  fs::create_symlink("/dev/stdout", dir.path("stdout-link"));
  const std::vector<std::string> paths = {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1",
                                          dir.path("stdout-link")};
  const auto child = test::asOrdinaryUser([&] {
    const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
    if (fd < 0 || ::dup2(fd, 1) < 0) return 1;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (!OutputFile::writeWhole(paths[i], std::to_string(i) + "\n", nullptr)) {
        return static_cast<int>(10 + i);
      }
    }
    return 0;
  });
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_EQ(readFile(log), "log\n0\n1\n2\n3\n4\n");
  EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
}

TEST_F(OutputFileTest, WhatCannotBeWrittenIsRefusedAndLeavesNothing) {
  fs::create_directory(dir.path("folder"));
  fs::create_symlink("loop-b", dir.path("loop-a"));
  fs::create_symlink("loop-a", dir.path("loop-b"));
  const auto before = dir.names();

  const std::vector<std::pair<std::string, std::string>> cases = {
      {dir.path("folder"), "it is a folder"},
      {dir.path("loop-a"), std::strerror(ELOOP)},
      {dir.path("missing/out.csv"), std::strerror(ENOENT)},
      {"/dev/fd/999", "descriptor 999 is not open"},
  };
  for (const auto& [path, reason] : cases) {
    std::string error;
    EXPECT_FALSE(OutputFile::writeWhole(path, "curves", &error)) << path;
    EXPECT_EQ(error, path + ": cannot write: " + reason);
  }
  EXPECT_EQ(dir.names(), before);
}

// Only files named like ours whose process has ended.
TEST_F(OutputFileTest, AWriteRemovesWhatEndedRunsLeftInItsFolder) {
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const std::string gone = std::to_string(ended);
  // A running process's (init's, this one's) and names that are not quite ours stay.
  std::vector<std::string> kept = {"b.tmp-1-0", "c.tmp-" + std::to_string(::getpid()) + "-7",
                                   "d.tmp-" + gone + "-", "notes.tmp-x"};
  for (const auto& name : kept) writeFile(dir.path(name), "x");
  writeFile(dir.path("a.csv.tmp-" + gone + "-0"), "left by a killed run");

  ASSERT_TRUE(OutputFile::writeWhole(dir.path("out.csv"), "curves", nullptr));
  kept.push_back("out.csv");
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(dir.names(), kept);
}

}  // namespace
}  // namespace qv
