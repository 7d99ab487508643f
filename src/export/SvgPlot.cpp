#include "export/SvgPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace qv {
namespace {

constexpr double kWidth = 1000;
constexpr double kLeft = 60, kRight = 20;
constexpr double kPanelHeight = 260, kGap = 50, kTop = 40;

struct Panel {
  double top;
  double x0, x1;  // data range on x (log10 Hz, or ms)
  double y0, y1;
  double px(double x) const { return kLeft + (x - x0) / (x1 - x0) * (kWidth - kLeft - kRight); }
  double py(double y) const { return top + (y1 - y) / (y1 - y0) * kPanelHeight; }
};

std::string fmt(const char* format, double a) {
  char b[64];
  std::snprintf(b, sizeof b, format, a);
  return b;
}

void frame(std::string& svg, const Panel& p, const char* title) {
  svg += "<rect x='" + fmt("%.1f", kLeft) + "' y='" + fmt("%.1f", p.top) + "' width='" +
         fmt("%.1f", kWidth - kLeft - kRight) + "' height='" + fmt("%.1f", kPanelHeight) +
         "' fill='black' stroke='rgb(89,89,89)'/>\n";
  svg += "<text x='" + fmt("%.1f", kLeft) + "' y='" + fmt("%.1f", p.top - 8) +
         "' fill='white' font-size='14'>" + title + "</text>\n";
}

void hline(std::string& svg, const Panel& p, double y, const std::string& label) {
  svg += "<line x1='" + fmt("%.1f", p.px(p.x0)) + "' x2='" + fmt("%.1f", p.px(p.x1)) + "' y1='" +
         fmt("%.1f", p.py(y)) + "' y2='" + fmt("%.1f", p.py(y)) +
         "' stroke='rgb(128,128,128)' stroke-width='0.5'/>\n";
  svg += "<text x='" + fmt("%.1f", kLeft - 6) + "' y='" + fmt("%.1f", p.py(y) + 4) +
         "' fill='white' font-size='11' text-anchor='end'>" + label + "</text>\n";
}

void vline(std::string& svg, const Panel& p, double x, const std::string& label) {
  if (x < p.x0 || x > p.x1) return;
  svg += "<line y1='" + fmt("%.1f", p.top) + "' y2='" + fmt("%.1f", p.top + kPanelHeight) +
         "' x1='" + fmt("%.1f", p.px(x)) + "' x2='" + fmt("%.1f", p.px(x)) +
         "' stroke='rgb(128,128,128)' stroke-width='0.5'/>\n";
  svg += "<text x='" + fmt("%.1f", p.px(x)) + "' y='" + fmt("%.1f", p.top + kPanelHeight + 14) +
         "' fill='white' font-size='11' text-anchor='middle'>" + label + "</text>\n";
}

// Octave lines every 0.3 decade from 8 Hz, labelled as the live display labels them.
void frequencyGrid(std::string& svg, const Panel& p) {
  static const char* labels[] = {"",   "16", "32", "63", "125", "250", "500",
                                 "1K", "2K", "4K", "8K", "16K", "32K"};
  const double start = std::log10(8.0);
  for (int k = 0; k < 13; ++k) vline(svg, p, start + 0.3 * k, labels[k]);
}

// One polyline; NaN and out-of-range points break it, as blanked bands show as gaps.
void curve(std::string& svg, const Panel& p, const std::vector<double>& xs,
           const std::vector<float>& ys, double scale, const char* colour) {
  std::string points;
  auto flush = [&] {
    if (points.empty()) return;
    svg += "<polyline fill='none' stroke='" + std::string(colour) +
           "' stroke-width='1.2' points='" + points + "'/>\n";
    points.clear();
  };
  for (size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
    const double y = static_cast<double>(ys[i]) * scale;
    if (!std::isfinite(y) || xs[i] < p.x0 || xs[i] > p.x1) {
      flush();
      continue;
    }
    const double clamped = std::clamp(y, p.y0, p.y1);
    points += fmt("%.1f", p.px(xs[i])) + "," + fmt("%.1f", p.py(clamped)) + " ";
  }
  flush();
}

// The target's tolerance band as filled areas (one per stretch the target covers) and its
// level as a dashed line, behind the curves.
void targetBand(std::string& svg, const Panel& p, const std::vector<double>& xs,
                const curves::TargetBands& t) {
  const size_t n = std::min({xs.size(), t.lower.size(), t.upper.size()});
  size_t i = 0;
  while (i < n) {
    while (i < n && !(std::isfinite(t.lower[i]) && std::isfinite(t.upper[i]))) ++i;
    const size_t first = i;
    while (i < n && std::isfinite(t.lower[i]) && std::isfinite(t.upper[i])) ++i;
    if (i - first < 2) continue;
    std::string points;
    auto at = [&](size_t k, float y) {
      const double x = std::clamp(xs[k], p.x0, p.x1);
      points += fmt("%.1f", p.px(x)) + "," +
                fmt("%.1f", p.py(std::clamp(static_cast<double>(y), p.y0, p.y1))) + " ";
    };
    for (size_t k = first; k < i; ++k) at(k, t.upper[k]);
    for (size_t k = i; k-- > first;) at(k, t.lower[k]);
    svg += "<polygon fill='rgb(90,150,255)' fill-opacity='0.22' stroke='none' points='" + points +
           "'/>\n";
  }
  std::string level;
  for (size_t k = 0; k < std::min(xs.size(), t.level.size()); ++k) {
    if (!std::isfinite(t.level[k]) || xs[k] < p.x0 || xs[k] > p.x1) continue;
    level += fmt("%.1f", p.px(xs[k])) + "," +
             fmt("%.1f", p.py(std::clamp(static_cast<double>(t.level[k]), p.y0, p.y1))) + " ";
  }
  if (!level.empty()) {
    svg +=
        "<polyline fill='none' stroke='rgb(120,170,255)' stroke-width='1' "
        "stroke-dasharray='6,4' points='" +
        level + "'/>\n";
  }
}

}  // namespace

std::string renderSvg(const AnalysisResult& r) {
  const double height = kTop + 3 * kPanelHeight + 2 * kGap + 40;
  std::string svg = "<?xml version='1.0' encoding='UTF-8'?>\n";
  svg += "<svg xmlns='http://www.w3.org/2000/svg' width='" + fmt("%.0f", kWidth) + "' height='" +
         fmt("%.0f", height) + "' font-family='sans-serif'>\n";
  svg += "<rect width='100%' height='100%' fill='rgb(41,41,41)'/>\n";

  std::vector<double> logF(r.frequency.size());
  for (size_t i = 0; i < logF.size(); ++i) logF[i] = std::log10(std::max(1e-3f, r.frequency[i]));
  const double xMin = std::log10(14.0), xMax = std::log10(22000.0);

  // Magnitude: the live view's visible range, widened when the curve needs more room.
  double lo = -28, hi = 22;
  for (float m : r.magnitude)
    if (std::isfinite(m)) lo = std::min(lo, double(m) - 3), hi = std::max(hi, double(m) + 3);
  lo = std::max(lo, -60.0);
  hi = std::min(hi, 60.0);
  Panel mag{kTop, xMin, xMax, lo, hi};
  frame(svg, mag, "Magnitude (dB)");
  for (double y = std::ceil(lo / 6) * 6; y <= hi; y += 6) hline(svg, mag, y, fmt("%.0f", y));
  frequencyGrid(svg, mag);
  if (r.target) targetBand(svg, mag, logF, r.target->bands);
  curve(svg, mag, logF, r.magnitude, 1.0, "white");

  Panel phs{kTop + kPanelHeight + kGap, xMin, xMax, -180, 180};
  frame(svg, phs, "Phase (degrees, white) and coherence (orange, 0 to 1 over the height)");
  for (double y = -180; y <= 180; y += 45) hline(svg, phs, y, fmt("%.0f", y));
  frequencyGrid(svg, phs);
  // Coherence is drawn as the live display does: 0 … 1 mapped onto 0 … 180.
  curve(svg, phs, logF, r.coherence, 180.0, "rgb(255,77,0)");
  curve(svg, phs, logF, r.phase, 1.0, "white");

  // Impulse: 212.5 ms in milliseconds of lag, normalised to its peak; from −12.5 ms, or
  // moved on by whole 25 ms so that the arrival lies in it.
  const double rate = r.sampleRate ? r.sampleRate : 44100.0;
  const double found = r.delayFoundMs.value_or(0.0);
  const double shift = std::isfinite(found) ? std::floor(found / 25.0) * 25.0 - 25.0 : 0.0;
  const double from = -12.5 + (found >= 0.0 && found < 175.0 ? 0.0 : shift);
  Panel imp{kTop + 2 * (kPanelHeight + kGap), from, from + 212.5, -1.05, 1.05};
  frame(svg, imp, "Impulse response (normalised; lag in ms)");
  for (double y = -1; y <= 1.01; y += 0.5) hline(svg, imp, y, fmt("%.1f", y));
  for (double t = from + 12.5; t <= imp.x1; t += 25) vline(svg, imp, t, fmt("%.0f", t));
  if (!r.impulse.empty()) {
    const auto n = static_cast<long>(r.impulse.size());
    float peak = 0;
    for (float v : r.impulse)
      if (std::isfinite(v)) peak = std::max(peak, std::fabs(v));
    std::vector<double> xs;
    std::vector<float> ys;
    const long first = static_cast<long>(std::floor(imp.x0 / 1000 * rate));
    const long last = static_cast<long>(std::ceil(imp.x1 / 1000 * rate));
    // Point i lies at a lag of impulseStart + i; outside the impulse there is nothing. Each
    // drawn point stands for a bucket of samples and keeps the bucket's largest excursion,
    // so a one-sample spike is never stepped over.
    const long step = std::max(1L, (last - first) / 4000);
    const auto start = static_cast<long>(r.impulseStart);
    for (long t = first; t <= last; t += step) {
      float extreme = 0.0f;
      for (long u = t; u < t + step && u <= last; ++u) {
        if (u < start || u >= start + n) continue;
        const float v = r.impulse[static_cast<size_t>(u - start)];
        if (std::fabs(v) > std::fabs(extreme)) extreme = v;
      }
      xs.push_back(static_cast<double>(t) / rate * 1000);
      ys.push_back(peak > 0 ? extreme / peak : 0.0f);
    }
    curve(svg, imp, xs, ys, 1.0, "rgb(128,255,0)");
  }

  char caption[256];
  std::snprintf(caption, sizeof caption, "%u Hz, FFT %d, 1/%ld oct, averaging %d, delay %.2f ms",
                r.sampleRate, r.fftSize, r.smoothing, r.averaging, r.delaySetMs);
  svg += "<text x='" + fmt("%.0f", kLeft) + "' y='" + fmt("%.0f", height - 12) +
         "' fill='white' font-size='12'>" + caption + "</text>\n";
  svg += "</svg>\n";
  return svg;
}

}  // namespace qv
