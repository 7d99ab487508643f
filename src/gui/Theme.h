#pragma once
// Colours, fonts and sizes of the desktop program, in one place. Main thread.
#include <QColor>
#include <QFont>

#include "plot/ChartColor.h"

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
// A stored window frame of which no screen shows this much is dropped for the default.
inline constexpr int kSmallestWindowWidth = 640;
inline constexpr int kSmallestWindowHeight = 400;

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

// ---- live display: plot views, live curves, level meter ----
inline const QColor kPlotCursor = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 1.0f);
inline constexpr float kPlotScaleFontSize = 16.0f;
inline constexpr plot::Color kLiveCurve{1.0f, 1.0f, 1.0f, 1.0f};      // magnitude, phase
inline constexpr plot::Color kLiveCoherence{1.0f, 0.3f, 0.0f, 1.0f};  // orange-red
inline constexpr plot::Color kLiveImpulse{0.5f, 1.0f, 0.0f, 1.0f};    // yellow-green
inline constexpr plot::Color kZeroLine{1.0f, 1.0f, 1.0f, 0.15f};      // broad line at 0 dB, 0°
inline constexpr float kZeroLineThickness = 10.0f;
// The legend on the magnitude plot, and a target's tolerance band behind the curves.
inline const QColor kLegendBackground = QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.72f);
inline const QColor kLegendBorder{80, 80, 80};
inline constexpr int kLegendPixelSize = 12;
inline constexpr plot::Color kTargetBand{0.35f, 0.55f, 1.0f, 0.22f};
inline constexpr plot::Color kTargetLevel{0.55f, 0.7f, 1.0f, 0.75f};
inline constexpr float kTargetLevelThickness = 1.0f;
// Traces are drawn at least this much wider than the live curves, so that a trace the live
// curve lies on (a fresh capture) still shows its colour on both sides.
inline constexpr float kTraceOverLiveWidth = 1.0f;
inline const QColor kMeterGreen = QColor::fromRgbF(0.0f, 1.0f, 0.0f, 1.0f);
inline const QColor kMeterYellow = QColor::fromRgbF(1.0f, 1.0f, 0.0f, 1.0f);
inline const QColor kMeterRed = QColor::fromRgbF(1.0f, 0.0f, 0.0f, 1.0f);
inline const QColor kMeterCover = QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.5f);
inline constexpr double kMeterLineWidth = 5.0;
// The dBFS scale below the meter's rows.
inline const QColor kMeterScale{150, 150, 150};
inline constexpr int kMeterScalePixelSize = 9;

// ---- measurement view (the controls above and the read-outs below the plots) ----
namespace mainview {
inline const QColor kBarBackground{24, 24, 24};
inline const QColor kBarLine{48, 48, 48};  // the hairline between the bars and the plots
inline const QColor kButton{52, 52, 52};
inline const QColor kButtonHover{66, 66, 66};
inline const QColor kButtonBorder{78, 78, 78};
inline const QColor kButtonLitText{20, 20, 20};  // on the accent colour
inline const QColor kReadout{245, 245, 245};     // delay and coherence
inline const QColor kCursorReadout{210, 210, 210};
inline const QColor kDeviceLabelHover{255, 190, 110};
inline const QColor kFieldBackground{14, 14, 14};
inline const QColor kFieldDisabledText{110, 110, 110};
inline constexpr int kTopBarHeight = 76;
// The control bar in three rows, on a window too narrow for two.
inline constexpr int kCompactTopBarHeight = 108;
inline constexpr int kBottomBarHeight = 28;
// The plots keep room for a readable curve however small the window.
inline constexpr int kPlotsMinimumHeight = 260;
inline constexpr int kControlHeight = 26;
inline constexpr int kStartButtonWidth = 96;
inline constexpr int kStartButtonHeight = 56;
inline constexpr int kToggleWidth = 78;
inline constexpr int kDelayFieldWidth = 74;
inline constexpr int kStepButtonWidth = 24;
inline constexpr int kSmoothingComboWidth = 84;
inline constexpr int kLevelMeterWidth = 180;
// As high as the start button, with room for the dBFS scale below the rows.
inline constexpr int kLevelMeterHeight = 56;
inline constexpr int kLevelLegendWidth = 34;
inline constexpr int kSpacing = 10;
inline constexpr int kMargin = 10;
inline constexpr int kControlPointSize = 10;
inline constexpr int kLegendPointSize = 8;
inline constexpr int kDelayReadoutPointSize = 17;
inline constexpr int kCursorReadoutPointSize = 11;
inline constexpr double kDelayStep = 0.1;      // ms per click of the stepper
inline constexpr double kDelayLimit = 3000.0;  // ms, either sign
}  // namespace mainview

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

// ---- trace panel ----
namespace qv::gui::theme {
inline constexpr int kTracePanelWidth = 200;
inline constexpr int kTraceRowHeight = 48;
inline constexpr int kTraceRowMargin = 8;
inline constexpr int kTraceBadgeSize = 10;
inline constexpr int kTraceSwitchWidth = 30;
inline constexpr int kTraceSwitchHeight = 16;
inline constexpr int kTraceNamePixelSize = 14;
inline constexpr int kTraceDatePixelSize = 10;
inline constexpr int kTraceHeaderPixelSize = 11;
inline constexpr int kTraceMenuSwatchSize = 16;
inline constexpr double kTraceMenuSwatchRadius = 1.5;
// The row separators: white at level 0.3.
inline const QColor kTraceGrid = QColor::fromRgbF(0.3f, 0.3f, 0.3f, 1.0f);
inline const QColor kTraceSelection{58, 64, 74};
inline const QColor kTraceDate{170, 170, 170};
inline const QColor kTraceSwitchOff{70, 70, 70};
inline const QColor kTraceSwitchKnob{235, 235, 235};
}  // namespace qv::gui::theme

// ---- spectrum (RTA) and sound level view ----
namespace qv::gui::theme {
inline constexpr plot::Color kRtaMeasurement = kLiveCurve;            // white, as live curves
inline constexpr plot::Color kRtaReference{0.35f, 0.7f, 1.0f, 1.0f};  // light blue
inline constexpr plot::Color kRtaPeak{1.0f, 1.0f, 1.0f, 0.35f};       // the held maxima, dimmed
inline constexpr float kRtaCurveThickness = 1.5f;
inline constexpr int kSplReadoutPointSize = 22;
inline constexpr int kSpectrumBarHeight = 40;
inline const QColor kCalibrationFailed{255, 90, 60};
}  // namespace qv::gui::theme
