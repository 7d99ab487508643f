#include <gtest/gtest.h>
#include <pthread.h>

#include <string>

#include "platform/DispatchQueue.h"

namespace qv {
namespace {

std::string nameOfThisThread() {
  char name[16] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
}

// A queue's threads carry its label, so that a profile or `top -H` tells the finder from the
// recorder; the name is cut where Linux cuts it, not refused.
TEST(ThreadName, AQueuesThreadsAreNamedAfterItsLabel) {
  for (const auto& [label, expected] :
       {std::pair<const char*, const char*>{"delaylocator.queue", "delaylocator"},
        {"qvx.update.timer.queue", "update.timer"},
        {"a.label.longer.than.linux.keeps", "a.label.longer."}}) {
    std::string seen;
    dispatch::makeSerialQueue(label)->sync([&seen] { seen = nameOfThisThread(); });
    EXPECT_EQ(seen, expected) << label;
  }
}

}  // namespace
}  // namespace qv
