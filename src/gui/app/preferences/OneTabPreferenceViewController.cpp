#include "gui/app/preferences/OneTabPreferenceViewController.h"

#include <QLabel>

#include "gui/Theme.h"

namespace qv::gui {

OneTabPreferenceViewController::OneTabPreferenceViewController(AppSettings& settings,
                                                               QWidget* parent)
    : QWidget(parent), settings_(settings) {
  QPalette p = palette();
  p.setColor(QPalette::Window, theme::kPrefsBackground);
  setPalette(p);
  setAutoFillBackground(true);
}

OneTabPreferenceViewController::~OneTabPreferenceViewController() = default;

QLabel* OneTabPreferenceViewController::heading(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

}  // namespace qv::gui
