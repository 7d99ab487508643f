#pragma once
// Colours, fonts and sizes of the desktop program, in one place. Main thread.
#include <QColor>
#include <QFont>

namespace qv::gui::theme {

// ---- window ----
inline const QColor kWindowBackground{0, 0, 0};
inline const QColor kPanelBackground{22, 22, 22};
inline const QColor kControlBackground{45, 45, 45};
inline const QColor kText{220, 220, 220};
inline const QColor kTextDim{140, 140, 140};
inline const QColor kAccent{255, 140, 0};  // lit toggles
inline constexpr int kDefaultWindowWidth = 1400;
inline constexpr int kDefaultWindowHeight = 900;

// ---- plots ----
inline const QColor kPlotBackground = QColor::fromRgbF(0.16f, 0.16f, 0.16f, 0.16f);
inline const QColor kChartArea{0, 0, 0};
inline const QColor kGrid = QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f);
inline const QColor kChartBorder = QColor::fromRgbF(0.35f, 0.35f, 0.35f, 1.0f);
inline const QColor kScaleLabel{190, 190, 190};

// Numbers that change (delay, coherence, cursor) use fixed-width digits so they do not
// jitter.
inline QFont tabularFont(int pointSize) {
  QFont font(QStringLiteral("DejaVu Sans Mono"));
  font.setStyleHint(QFont::Monospace);
  font.setPointSize(pointSize);
  return font;
}

}  // namespace qv::gui::theme

// ---- shell: window, preferences, About ----
namespace qv::gui::theme {
inline const QColor kPrefsBackground = QColor::fromRgbF(0.2f, 0.2f, 0.2f);  // white 0.2
inline const QColor kPrefsTabOn{70, 70, 70};
inline const QColor kAboutBackground{28, 28, 30};
inline const QColor kHighlight{0, 110, 200};
inline constexpr int kTraceManagerWidth = 200;
inline constexpr int kPrefsWidth = 650;
inline constexpr int kPrefsHeight = 420;
inline constexpr int kAboutWidth = 380;
inline constexpr int kAboutHeight = 260;
}  // namespace qv::gui::theme
