#pragma once
// The input level meter: two horizontal bars (measurement, reference) on a green–yellow–
// red scale from -60 to 0 dB of full scale. The scale is drawn once into a cached pixmap;
// each tick reads the levels and repaints the covers over it when one of them moved. It runs while
// it has a channel and is in a visible widget tree, on the main-queue timer "level.meter" at 30
// readings a second. Main thread only.
#include <QColor>
#include <QPixmap>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

#include "gui/display/QVLevelMeterBackLayer.h"
#include "gui/display/QVLevelMeterUpdateLayer.h"
#include "platform/GCDTimer.h"

namespace qv {
class AudioLibrary;
class BassLevelReader;
}  // namespace qv

namespace qv::gui {

class QVLevelMeterView : public QWidget {
  Q_OBJECT

 public:
  explicit QVLevelMeterView(QWidget* parent = nullptr);
  // Levels of `library`'s capture channels (tests use a library of their own).
  QVLevelMeterView(AudioLibrary& library, QWidget* parent = nullptr);
  ~QVLevelMeterView() override;

  // The recording channel handle to show; 0 detaches the meter. A channel starts the meter
  // only while the view is visible; showing the view later starts it.
  void setChannel(uint32_t channel);
  uint32_t channel() const;

  void startAnimating();
  void stopAnimating();
  // One tick: read the levels, repaint the covers if they moved. (Hides QWidget::update,
  // which only schedules a repaint.)
  void update();

  // The solid colour the meter lies on. The scale is drawn onto it once, and a repaint of
  // the covers then paints none of the widgets behind the meter. Invalid: see-through.
  void setBackdrop(const QColor& color);

  BassLevelReader& levelReader() { return *levelReader_; }
  void setLevelReader(std::unique_ptr<BassLevelReader> reader);

  bool isRunning() const { return running_; }
  const GCDTimer* timer() const { return timer_.get(); }
  const QVLevelMeterBackLayer& backLayer() const { return backLayer_; }
  const QVLevelMeterUpdateLayer& updateLayer() const { return updateLayer_; }
  // Paints so far, and how often the scale was drawn into the cache (tests).
  uint64_t paintCount() const { return paintCount_; }
  uint64_t backgroundDrawCount() const { return backgroundDrawCount_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void setUp(std::unique_ptr<BassLevelReader> reader);
  void invalidateBackground();
  // Per row, where the cover ends now, in half device pixels.
  std::array<int64_t, 2> coverEnds() const;
  // Whether a cover's end moved (by half a device pixel or more) since the last paint.
  bool coversMoved() const;

  bool running_ = false;
  std::unique_ptr<GCDTimer> timer_;
  std::unique_ptr<BassLevelReader> levelReader_;
  QVLevelMeterBackLayer backLayer_;
  QVLevelMeterUpdateLayer updateLayer_{nullptr};
  QPixmap background_;
  QColor backdrop_;
  std::array<int64_t, 2> drawnCoverEnds_{INT64_MIN, INT64_MIN};
  uint64_t paintCount_ = 0;
  uint64_t backgroundDrawCount_ = 0;
};

}  // namespace qv::gui
