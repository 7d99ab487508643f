#pragma once
// The level meter's scale: one green–yellow–red line per channel row and, below the rows, a
// dBFS scale of ticks and labels, drawn once into the meter's cached background.
// Main thread only.
#include <QFont>
#include <QPainter>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <cstdint>
#include <vector>

namespace qv::gui {

class QVLevelMeterBackLayer {
 public:
  // One mark of the dBFS scale; only some carry a label, where there is room for one.
  struct ScaleMark {
    double db;
    bool labelled;
  };
  static const std::vector<ScaleMark>& scaleMarks();

  // The row of channel i among n in a layer of height h (y grows downward).
  static double rowY(int32_t channel, int32_t channelCount, double height);
  // Where a linear level (1.0 = full scale) lies on a scale of width w: 20 dB per third,
  // -60 dB at the left edge.
  static double xForLevel(double level, double width);
  // Where the bar ends for a level of `db` dBFS.
  static double xForDb(double db, double width);
  // "−20", "0": the label of a mark.
  static QString labelText(double db);

  void drawInContext(QPainter& painter, QSizeF size) const;
  // The labels' font, and where each labelled mark's text goes in a layer of `size` (empty
  // when the layer is too low for a scale below the rows).
  QFont scaleFont() const;
  std::vector<QRectF> labelRects(QSizeF size) const;

  int32_t channelCount() const { return channelCount_; }
  void setChannelCount(int32_t count) { channelCount_ = count; }
  double lineWidth() const { return lineWidth_; }
  void setLineWidth(double width) { lineWidth_ = width; }

 private:
  // The top of the scale's ticks: just below the last row's line.
  double scaleTop(QSizeF size) const;
  void drawScale(QPainter& painter, QSizeF size) const;

  int32_t channelCount_ = 2;
  double lineWidth_ = 3.0;
};

}  // namespace qv::gui
