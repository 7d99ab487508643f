#include "gui/display/QVLevelMeterView.h"

#include <QHideEvent>
#include <QPaintEvent>
#include <QShowEvent>
#include <cmath>

#include "audio/BassLevelReader.h"
#include "gui/Theme.h"

namespace qv::gui {
namespace {

constexpr uint64_t kMeterLeewayNs = 1'000'000;
// Single precision, as the meter has always used them.
constexpr float kTickInterval = 1.0f / 30.0f;
constexpr float kReadingInterval = 1.0f / 15.0f;
constexpr double kIdleReadingInterval = 0.25;

}  // namespace

QVLevelMeterView::QVLevelMeterView(QWidget* parent)
    : QVLevelMeterView(AudioLibrary::shared(), parent) {}

QVLevelMeterView::QVLevelMeterView(AudioLibrary& library, QWidget* parent) : QWidget(parent) {
  setUp(std::make_unique<BassLevelReader>(library));
}

QVLevelMeterView::~QVLevelMeterView() { stopAnimating(); }

void QVLevelMeterView::setUp(std::unique_ptr<BassLevelReader> reader) {
  levelReader_ = std::move(reader);
  levelReader_->setUpdateInterval(kIdleReadingInterval);
  backLayer_.setChannelCount(2);
  backLayer_.setLineWidth(theme::kMeterLineWidth);
  updateLayer_.setLevelReader(levelReader_.get());
  updateLayer_.setChannelCount(backLayer_.channelCount());
  updateLayer_.setLineWidth(backLayer_.lineWidth());
}

void QVLevelMeterView::setLevelReader(std::unique_ptr<BassLevelReader> reader) {
  if (!reader) return;
  levelReader_ = std::move(reader);
  updateLayer_.setLevelReader(levelReader_.get());
}

uint32_t QVLevelMeterView::channel() const { return levelReader_->channel(); }

void QVLevelMeterView::setChannel(uint32_t channel) {
  levelReader_->setChannel(channel);
  if (channel == 0) {
    stopAnimating();
  } else if (isVisible()) {
    startAnimating();
  }
}

void QVLevelMeterView::startAnimating() {
  timer_ = GCDTimer::timerOnMainQueue(kMeterLeewayNs, "level.meter");
  // The timer belongs to the view and fires on the main thread, where the view dies: a
  // fire queued before the view went is dropped by the invalidated timer.
  timer_->scheduleBlock([this] { update(); }, static_cast<double>(kTickInterval), true);
  levelReader_->setUpdateInterval(static_cast<double>(kReadingInterval));
  running_ = true;
}

void QVLevelMeterView::stopAnimating() {
  if (timer_) timer_->invalidate();
  // One more paint, so the covers show the state the reader was left in.
  QWidget::update();
  running_ = false;
}

void QVLevelMeterView::update() {
  levelReader_->updateLevels();
  // Thirty readings a second, but steady levels need no paint (nor the window a flush).
  if (coversMoved()) QWidget::update();
}

std::array<int64_t, 2> QVLevelMeterView::coverEnds() const {
  const float* levels = levelReader_->levels();
  const int32_t count = levels ? levelReader_->count() : 0;
  const double halfPixels = 2.0 * devicePixelRatioF();
  std::array<int64_t, 2> ends{};
  for (size_t i = 0; i < ends.size(); ++i) {
    ends[i] = static_cast<int32_t>(i) < count
                  ? static_cast<int64_t>(std::floor(
                        QVLevelMeterUpdateLayer::coverStart(levels[i], width()) * halfPixels))
                  : INT64_MAX;  // no such row
  }
  return ends;
}

bool QVLevelMeterView::coversMoved() const { return coverEnds() != drawnCoverEnds_; }

QSize QVLevelMeterView::sizeHint() const {
  return {theme::mainview::kLevelMeterWidth, theme::mainview::kLevelMeterHeight};
}

void QVLevelMeterView::invalidateBackground() { background_ = QPixmap(); }

void QVLevelMeterView::setBackdrop(const QColor& color) {
  backdrop_ = color;
  setAttribute(Qt::WA_OpaquePaintEvent, color.isValid() && color.alpha() == 255);
  invalidateBackground();
  QWidget::update();
}

void QVLevelMeterView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (levelReader_->channel() != 0) {
    startAnimating();
  } else {
    stopAnimating();
  }
  invalidateBackground();
}

void QVLevelMeterView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  stopAnimating();
}

void QVLevelMeterView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  invalidateBackground();
}

void QVLevelMeterView::paintEvent(QPaintEvent* /*event*/) {
  ++paintCount_;
  const qreal ratio = devicePixelRatioF();
  const QSize pixels = (QSizeF(size()) * ratio).toSize();
  if (background_.isNull() || background_.size() != pixels ||
      background_.devicePixelRatio() != ratio) {
    background_ = QPixmap(pixels);
    background_.setDevicePixelRatio(ratio);
    background_.fill(backdrop_.isValid() ? backdrop_ : QColor(Qt::transparent));
    QPainter back(&background_);
    backLayer_.drawInContext(back, QSizeF(size()));
    ++backgroundDrawCount_;
  }
  QPainter painter(this);
  painter.drawPixmap(0, 0, background_);
  drawnCoverEnds_ = coverEnds();
  updateLayer_.drawInContext(painter, QSizeF(size()));
}

}  // namespace qv::gui
