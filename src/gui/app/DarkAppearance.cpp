#include "gui/app/DarkAppearance.h"

#include <QApplication>
#include <QStyleFactory>

#include "gui/Theme.h"

namespace qv::gui {

QPalette darkPalette() {
  QPalette p;
  const QColor text = theme::kText;
  const QColor dim = theme::kTextDim;
  p.setColor(QPalette::Window, theme::kPanelBackground);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, QColor(30, 30, 30));
  p.setColor(QPalette::AlternateBase, QColor(38, 38, 38));
  p.setColor(QPalette::ToolTipBase, theme::kControlBackground);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, dim);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, theme::kControlBackground);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, QColor(255, 80, 80));
  p.setColor(QPalette::Light, QColor(70, 70, 70));
  p.setColor(QPalette::Midlight, QColor(58, 58, 58));
  p.setColor(QPalette::Mid, QColor(40, 40, 40));
  p.setColor(QPalette::Dark, QColor(18, 18, 18));
  p.setColor(QPalette::Shadow, QColor(0, 0, 0));
  p.setColor(QPalette::Highlight, theme::kHighlight);
  p.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
  p.setColor(QPalette::Link, QColor(90, 160, 255));
  p.setColor(QPalette::LinkVisited, QColor(160, 120, 255));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, QColor(100, 100, 100));
  }
  p.setColor(QPalette::Disabled, QPalette::Base, QColor(24, 24, 24));
  p.setColor(QPalette::Disabled, QPalette::Button, QColor(34, 34, 34));
  return p;
}

void applyDarkAppearance(QApplication& app) {
  // The desktop's own style may ignore palettes (GTK themes do); Fusion honours them.
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
  app.setPalette(darkPalette());
}

}  // namespace qv::gui
