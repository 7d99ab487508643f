#pragma once
// The colours captured traces are drawn in, with a cycling index and a set of colours not
// yet in use. Main thread only (owned by the trace store); no locks.
#include <vector>

#include "traces/RGBAColor.h"

namespace qv {

class ChartColorPalette {
 public:
  ChartColorPalette();

  // The fixed palette, in order; index into it with a trace's colour index.
  const std::vector<RGBAColor>& colors() const;
  void reset();
  RGBAColor nextColor();
  long nextColorIndex();
  void incrementColorIndex();
  // The first colour not in use, or nullptr when every colour is taken.
  const RGBAColor* nextUnusedColor() const;
  void setColorAsUsed(const RGBAColor& color, bool used);

  const std::vector<RGBAColor>& unusedColors() const { return _unusedColors; }
  long colorIndex() const { return colorIndex_; }

 private:
  std::vector<RGBAColor> _unusedColors;
  std::vector<RGBAColor> colors_;
  long colorIndex_ = 0;
};

}  // namespace qv
