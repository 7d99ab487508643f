// How FFT plans are made, as the desktop program makes them: estimated at once, measured
// by a worker thread and swapped in under running executions, the wisdom kept in the cache
// folder for the next start. Plans live as long as the process, so each case runs in a
// fresh child process of this test program, with a cache folder of the test's own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FftBackend.h"
#include "platform/FftPlanner.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"

namespace qv::fft {
namespace {

constexpr const char* kStepVariable = "QV_FFT_PLANNING_STEP";
constexpr int kN = 8192;
constexpr int kBin = 100;

std::string wisdomFile() {
  return std::string(std::getenv("XDG_CACHE_HOME")) + "/Quorvex/fftw-wisdom";
}

bool fileHasContent(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// A cosine of kBin periods: its real transform is kN/2 at bin kBin and 0 elsewhere.
bool spectrumIsRight(const float* spectrum) {
  for (int k = 0; k <= kN / 2; ++k) {
    const float re = k == kBin ? kN / 2.0f : 0.0f;
    if (std::fabs(spectrum[2 * k] - re) > 0.05f || std::fabs(spectrum[2 * k + 1]) > 0.05f)
      return false;
  }
  return true;
}

// ---- the steps, each in its own process ----

// No wisdom yet: while another thread holds the planner (as a measurement does), prepare()
// returns without the plan instead of waiting; executions are right from the first on and
// stay right while the measured plan replaces the estimated one under them.
void coldStep() {
  const RealPlan& plan = RealPlan::get(kN);
  {
    std::mutex m;
    std::condition_variable cv;
    bool held = false, done = false;
    std::thread holder([&] {
      auto planner = FftPlanner::shared().holdPlanner();
      std::unique_lock<std::mutex> lock(m);
      held = true;
      cv.notify_all();
      // Bounded, so that a prepare() that waits fails instead of hanging.
      cv.wait_for(lock, std::chrono::seconds(20), [&] { return done; });
    });
    {
      std::unique_lock<std::mutex> lock(m);
      cv.wait(lock, [&] { return held; });
    }
    EXPECT_FALSE(plan.prepare(RealPlan::Transform::Forward)) << "prepare waited for the planner";
    {
      std::lock_guard<std::mutex> lock(m);
      done = true;
    }
    cv.notify_all();
    holder.join();
  }
  ASSERT_TRUE(plan.prepare(RealPlan::Transform::Forward));

  auto input = allocateFloats(kN);
  for (int i = 0; i < kN; ++i)
    input[static_cast<size_t>(i)] = static_cast<float>(std::cos(2.0 * M_PI * kBin * i / kN));
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0}, afterSwap{0};
  std::vector<std::thread> executors;
  for (int t = 0; t < 2; ++t) {
    executors.emplace_back([&] {
      auto spectrum = allocateFloats(kN + 2);
      while (!stop.load()) {
        const bool measured = plan.measured(RealPlan::Transform::Forward);
        plan.forward(input.get(), spectrum.get());
        if (!spectrumIsRight(spectrum.get())) ++wrong;
        if (measured) ++afterSwap;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  waitForMeasuredPlans();
  while (afterSwap.load() < 20) std::this_thread::yield();
  stop = true;
  for (auto& t : executors) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_TRUE(plan.measured(RealPlan::Transform::Forward));
  EXPECT_TRUE(fileHasContent(wisdomFile())) << wisdomFile();
}

// The wisdom of the cold start gives the measured plan at once.
void warmStep() {
  const RealPlan& plan = RealPlan::get(kN);
  ASSERT_TRUE(plan.prepare(RealPlan::Transform::Forward));
  EXPECT_TRUE(plan.measured(RealPlan::Transform::Forward));
  // Another transform of the same size was never measured.
  ASSERT_TRUE(plan.prepare(RealPlan::Transform::InverseDestroyingInput));
  EXPECT_FALSE(plan.measured(RealPlan::Transform::InverseDestroyingInput));
}

// The test run's "estimate" wins over the program's choice: nothing is measured or kept.
void estimateStep() {
  const RealPlan& plan = RealPlan::get(kN);
  ASSERT_TRUE(plan.prepare(RealPlan::Transform::Forward));
  waitForMeasuredPlans();
  EXPECT_FALSE(plan.measured(RealPlan::Transform::Forward));
  EXPECT_FALSE(fileHasContent(wisdomFile()));
}

TEST(FftPlanningStep, Run) {
  const char* step = std::getenv(kStepVariable);
  if (!step) GTEST_SKIP() << "a step of the FftPlanning tests, run by them";
  setPlanning(Planning::EstimateThenMeasure);  // as the desktop program does
  const std::string which = step;
  if (which == "cold") coldStep();
  if (which == "warm") warmStep();
  if (which == "estimate") estimateStep();
}

// ---- the parent ----

class FftPlanning : public ::testing::Test {
 protected:
  // Runs one step in a fresh process of this program; true when it passed.
  bool runStep(const std::string& step, const std::string& planning, std::string* output) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const auto run =
        test::runCommand("env -u QUORVEX_FFTW_PLANNING " + std::string(kStepVariable) + "=" + step +
                             " XDG_CACHE_HOME=" + test::shellQuoted(cache_.root()) +
                             (planning.empty() ? "" : " QUORVEX_FFTW_PLANNING=" + planning) + " " +
                             test::shellQuoted(self) + " --gtest_filter=FftPlanningStep.Run",
                         cache_.root(), "", 600);
    *output = run.out + run.err;
    return run.status == 0 && run.out.find("[  PASSED  ] 1 test") != std::string::npos;
  }

  test::TempFolder cache_;
};

TEST_F(FftPlanning, EstimatedAtOnceMeasuredAsideSwappedInAndKeptForTheNextStart) {
  std::string output;
  ASSERT_TRUE(runStep("cold", "", &output)) << output;
  ASSERT_TRUE(runStep("warm", "", &output)) << output;
}

TEST_F(FftPlanning, TheEnvironmentsEstimateWinsOverTheProgramsChoice) {
  std::string output;
  ASSERT_TRUE(runStep("estimate", "estimate", &output)) << output;
}

}  // namespace
}  // namespace qv::fft
