#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "ViewSignals.h"
#include "engine/Spectrogram.h"
#include "engine/SpectrogramHistory.h"

namespace qv {
namespace {

constexpr uint32_t kRate = 48000;
constexpr int32_t kN = 32768;
constexpr double kTick = 1.0 / 30.0;

class SpectrogramTest : public ::testing::Test {
 protected:
  SpectrogramTest() : frames_(kRate, kN) {}
  void tick(Spectrogram& spectrogram, double frequency, double dbfs) {
    const auto signal = test::sine(kN, frequency, std::pow(10.0, dbfs / 20.0), kRate);
    frames_.analyseMono(signal.data());
    ASSERT_TRUE(spectrogram.process(frames_.measurement(), kN));
    clock_->advance(kTick);
  }
  std::vector<float> newest(const Spectrogram& spectrogram) const {
    const auto& history = *spectrogram.history();
    std::vector<float> column(static_cast<size_t>(history.rows()));
    const auto copied = history.copyColumns(history.columnCount() - 1, column.data(), 1);
    EXPECT_EQ(copied.count, 1);
    return column;
  }
  // The loudest row with a level (the lowest band is not measured: NaN).
  static int32_t loudestRow(const std::vector<float>& column) {
    int32_t loudest = -1;
    for (int32_t r = 0; r < static_cast<int32_t>(column.size()); ++r)
      if (std::isfinite(column[r]) && (loudest < 0 || column[r] > column[loudest])) loudest = r;
    return loudest;
  }

  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  test::StreamFrames frames_;
};

// Each tick adds one column; a tone shows in the row of its frequency at about its level,
// and the rows follow the tone when it moves.
TEST_F(SpectrogramTest, EachTickAddsAColumnWithTheToneInItsRow) {
  Spectrogram spectrogram(kN, kRate, kTick, Spectrogram::Settings{}, clock_);
  ASSERT_TRUE(spectrogram.history());
  EXPECT_EQ(spectrogram.history()->rows(), spectrogram.rows());
  tick(spectrogram, 1000.0, -20.0);
  EXPECT_EQ(spectrogram.history()->columnCount(), 1u);
  auto column = newest(spectrogram);
  EXPECT_TRUE(std::isnan(column[0]));
  int32_t row = loudestRow(column);
  EXPECT_NEAR(spectrogram.frequencyForRow(row), 1000.0, 1000.0 * 0.03);
  EXPECT_NEAR(column[row], -20.0, 1.0);

  tick(spectrogram, 4000.0, -30.0);
  EXPECT_EQ(spectrogram.history()->columnCount(), 2u);
  column = newest(spectrogram);
  row = loudestRow(column);
  EXPECT_NEAR(spectrogram.frequencyForRow(row), 4000.0, 4000.0 * 0.03);
  EXPECT_NEAR(column[row], -30.0, 1.0);
  // The rows' frequencies as the history tells them to a reader on another thread.
  const auto& history = *spectrogram.history();
  const float logStep = (history.maxLogFrequency() - history.minLogFrequency()) /
                        static_cast<float>(history.rows() - 1);
  EXPECT_NEAR(std::pow(10.0f, history.minLogFrequency() + logStep * static_cast<float>(row)),
              spectrogram.frequencyForRow(row), 1.0f);
}

// The history keeps the last N seconds: once full, the oldest columns give way, and a
// reader asking from column 0 gets the oldest one still kept.
TEST_F(SpectrogramTest, HistoryKeepsTheLastSeconds) {
  Spectrogram::Settings settings;
  settings.historySeconds = 5.0;
  settings.octResolution = 12;
  Spectrogram spectrogram(kN, kRate, kTick, settings, clock_);
  const int32_t capacity = spectrogram.history()->capacity();
  EXPECT_EQ(capacity, 151);  // 5 s at 30 ticks a second, and the column being drawn
  for (int i = 0; i < capacity + 10; ++i) tick(spectrogram, 1000.0, -20.0 - (i % 7));
  const auto& history = *spectrogram.history();
  std::vector<float> all(static_cast<size_t>(history.rows()) * (capacity + 10));
  const auto copied = history.copyColumns(0, all.data(), capacity + 10);
  EXPECT_EQ(copied.first, 10u);
  EXPECT_EQ(copied.count, capacity);
}

// A calibrated input reads dB SPL; a new resolution makes a new history, and a reader that
// still holds the old one can go on reading it.
TEST_F(SpectrogramTest, SettingsAndCalibration) {
  Spectrogram::Settings settings;
  settings.splUnits = true;
  Spectrogram spectrogram(kN, kRate, kTick, settings, clock_);
  spectrogram.setCalibrationOffset(110.0);
  EXPECT_TRUE(spectrogram.readsSpl());
  tick(spectrogram, 1000.0, -20.0);
  auto column = newest(spectrogram);
  EXPECT_NEAR(column[loudestRow(column)], 90.0, 1.0);

  const auto old = spectrogram.history();
  settings.octResolution = 48;
  spectrogram.setSettings(settings);
  EXPECT_NE(spectrogram.history(), old);
  EXPECT_EQ(spectrogram.history()->columnCount(), 0u);
  EXPECT_EQ(old->columnCount(), 1u);
  EXPECT_GT(spectrogram.rows(), 2 * old->rows() - 2);

  EXPECT_FALSE(Spectrogram::isValid({24, 1.0, 0.0f, false}));
  EXPECT_FALSE(Spectrogram::isValid({20, 30.0, 0.0f, false}));
  EXPECT_FALSE(spectrogram.process(frames_.measurement(), kN / 2));
}

// One writer adds columns whose every value is the column's number while a reader on
// another thread copies, as a view would on every repaint, either what is new or, to be
// lapped as often as possible, the oldest column kept (whose slot is the next to be
// overwritten): every column it gets is whole and in order, never half old and half new.
TEST(SpectrogramHistoryTest, ReaderNeverSeesATornColumn) {
  constexpr int32_t kRows = 2048;
  constexpr int32_t kCapacity = 4;
  constexpr uint64_t kColumns = 10000;
  SpectrogramHistory history(kRows, kCapacity);
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<int> copies{0};
  std::thread reader([&] {
    std::vector<float> out(static_cast<size_t>(kRows) * kCapacity);
    uint64_t next = 0;
    for (int i = 0; !done; ++i) {
      const uint64_t from = i % 2 == 0 ? next : 0;
      const auto copied = history.copyColumns(from, out.data(), kCapacity);
      if (copied.count > 0 && copied.first < from) ++torn;
      for (int32_t c = 0; c < copied.count; ++c)
        for (int32_t r = 0; r < kRows; ++r)
          if (out[static_cast<size_t>(c) * kRows + r] != static_cast<float>(copied.first + c)) {
            ++torn;
            break;
          }
      if (copied.count > 0) {
        next = copied.first + static_cast<uint64_t>(copied.count);
        ++copies;
      }
    }
  });
  std::vector<float> column(kRows);
  for (uint64_t c = 0; c < kColumns; ++c) {
    std::fill(column.begin(), column.end(), static_cast<float>(c));
    history.addColumn(column.data());
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_GT(copies, 0);
  EXPECT_EQ(history.columnCount(), kColumns);
}

}  // namespace
}  // namespace qv
