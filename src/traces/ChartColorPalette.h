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
  // Colours that read well on the plots' dark background and differ from the live curves
  // (white, orange-red, yellow-green): the palette's seven first, then seven more. New
  // traces take one of these when their palette colour is already shown; the colour menu
  // offers them.
  static const std::vector<RGBAColor>& darkBackgroundColors();
  // Whether a colour is too close to a live curve drawn on the same plots as the traces
  // (white magnitude and phase, orange-red coherence) to tell apart as a thin line: the
  // palette's orange and red are. New captures skip such colours; stored traces keep theirs.
  static bool nearLiveCurve(const RGBAColor& color);
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
