#include "gui/app/AboutWindowController.h"

#include <QLabel>
#include <QPropertyAnimation>
#include <QVBoxLayout>

#include "gui/Theme.h"

namespace qv::gui {

AboutWindowController::AboutWindowController(const QString& text, QWidget* parent)
    : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("AboutWindow"));
  setWindowTitle(tr("About Quorvex"));
  setFixedSize(theme::kAboutWidth, theme::kAboutHeight);
  QPalette p = palette();
  p.setColor(QPalette::Window, theme::kAboutBackground);
  p.setColor(QPalette::WindowText, theme::kText);
  setPalette(p);
  setAutoFillBackground(true);

  auto* name = new QLabel(QStringLiteral("Quorvex"), this);
  QFont nameFont = name->font();
  nameFont.setPointSize(22);
  nameFont.setBold(true);
  name->setFont(nameFont);
  name->setAlignment(Qt::AlignHCenter);

  versionLabel_ = new QLabel(tr("Version %1").arg(QStringLiteral(QV_VERSION)), this);
  versionLabel_->setAlignment(Qt::AlignHCenter);
  QPalette dim = versionLabel_->palette();
  dim.setColor(QPalette::WindowText, theme::kTextDim);
  versionLabel_->setPalette(dim);

  textLabel_ = new QLabel(text, this);
  textLabel_->setWordWrap(true);
  textLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  textLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 24, 28, 24);
  layout->setSpacing(8);
  layout->addWidget(name);
  layout->addWidget(versionLabel_);
  layout->addSpacing(10);
  layout->addWidget(textLabel_, 1);
}

AboutWindowController::~AboutWindowController() = default;

QString AboutWindowController::text() const { return textLabel_->text(); }
QString AboutWindowController::versionText() const { return versionLabel_->text(); }

void AboutWindowController::closeAnimated() {
  if (closing_) return;
  closing_ = true;
  auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
  fade->setDuration(150);
  fade->setStartValue(1.0);
  fade->setEndValue(0.0);
  connect(fade, &QPropertyAnimation::finished, this, [this] { close(); });
  fade->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace qv::gui
