#include "gui/app/preferences/OneTabPreferenceViewController.h"

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

}  // namespace qv::gui
