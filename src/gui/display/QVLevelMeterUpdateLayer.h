#pragma once
// The level meter's moving part: per channel, a half-transparent black line that covers
// the scale from the channel's level to the right edge. Redrawn at every meter tick from
// the level reader. Main thread only.
#include <QPainter>
#include <QSizeF>
#include <cstdint>

namespace qv {
class BassLevelReader;
}

namespace qv::gui {

class QVLevelMeterUpdateLayer {
 public:
  explicit QVLevelMeterUpdateLayer(BassLevelReader* levelReader) : levelReader_(levelReader) {}

  // Draws the reader's current levels.
  void drawInContext(QPainter& painter, QSizeF size) const;
  // Where a channel's cover starts, in logical pixels of a layer `width` wide.
  static double coverStart(float level, double width);
  // Draws the given levels (one per channel, linear); allocates nothing.
  void drawLevels(QPainter& painter, QSizeF size, const float* levels, int32_t count) const;

  int32_t channelCount() const { return channelCount_; }
  void setChannelCount(int32_t count) { channelCount_ = count; }
  double lineWidth() const { return lineWidth_; }
  void setLineWidth(double width) { lineWidth_ = width; }
  BassLevelReader* levelReader() const { return levelReader_; }
  void setLevelReader(BassLevelReader* reader) { levelReader_ = reader; }

 private:
  int32_t channelCount_ = 2;
  double lineWidth_ = 3.0;
  BassLevelReader* levelReader_;
};

}  // namespace qv::gui
