#pragma once
// The level meter's scale: one green–yellow–red line per channel row, drawn once into the
// meter's cached background. Main thread only.
#include <QPainter>
#include <QSizeF>
#include <cstdint>

namespace qv::gui {

class QVLevelMeterBackLayer {
 public:
  // The row of channel i among n in a layer of height h (y grows downward).
  static double rowY(int32_t channel, int32_t channelCount, double height);
  // Where a linear level (1.0 = full scale) lies on a scale of width w: 20 dB per third,
  // -60 dB at the left edge.
  static double xForLevel(double level, double width);

  void drawInContext(QPainter& painter, QSizeF size) const;

  int32_t channelCount() const { return channelCount_; }
  void setChannelCount(int32_t count) { channelCount_ = count; }
  double lineWidth() const { return lineWidth_; }
  void setLineWidth(double width) { lineWidth_ = width; }

 private:
  int32_t channelCount_ = 2;
  double lineWidth_ = 3.0;
};

}  // namespace qv::gui
