#pragma once
// The spectrogram view's choices as they are stored: whether it is shown, its frequency
// resolution and how many seconds it keeps. Values that do not fit read as the defaults.
// Main thread.
#include <QSettings>

namespace qv::gui {

struct SpectrogramViewSettings {
  static constexpr int kResolutionChoices[] = {12, 24, 48, 96};  // bands per 0.3 decade
  static constexpr int kSecondsChoices[] = {10, 30, 60, 120};

  bool shown = false;
  int octResolution = 24;
  int historySeconds = 30;

  static SpectrogramViewSettings read(const QSettings& settings);
  void write(QSettings& settings) const;
};

}  // namespace qv::gui
