#include "gui/app/preferences/QXTabViewController.h"

#include <QMainWindow>
#include <QSizePolicy>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include "gui/app/preferences/TabItemView.h"

namespace qv::gui {

QXTabViewController::QXTabViewController(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("tabs"));
  stack_ = new QStackedWidget(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);
}

QXTabViewController::~QXTabViewController() = default;

void QXTabViewController::addTabViewItem(QWidget* page, const QString& label) {
  tabs_.append({page, label});
  stack_->addWidget(page);
  if (selected_ < 0) setSelectedTabViewItemIndex(0);
}

int QXTabViewController::count() const { return static_cast<int>(tabs_.size()); }

QWidget* QXTabViewController::page(int index) const {
  return index >= 0 && index < count() ? tabs_[index].page.data() : nullptr;
}

QString QXTabViewController::label(int index) const {
  return index >= 0 && index < count() ? tabs_[index].label : QString();
}

void QXTabViewController::setSelectedTabViewItemIndex(int index) {
  if (index < 0 || index >= count()) return;
  const bool changed = index != selected_;
  selected_ = index;
  stack_->setCurrentIndex(index);
  updateItemStates();
  if (changed) emit selectedTabViewItemIndexChanged(index);
}

void QXTabViewController::changeTab(TabItemView* sender) {
  if (!sender) return;
  const int index = indexOfChild(sender->controllerIdentifier());
  if (index < 0) {
    updateItemStates();  // a checkable button flipped itself; put it back
    return;
  }
  setSelectedTabViewItemIndex(index);
  updateItemStates();
}

int QXTabViewController::indexOfChild(const QString& identifier) const {
  for (int i = 0; i < count(); ++i) {
    if (tabs_[i].page && tabs_[i].page->objectName() == identifier) return i;
  }
  return -1;
}

TabItemView* QXTabViewController::tabItemWithIdentifier(const QString& identifier) const {
  for (TabItemView* item : items_) {
    if (item->controllerIdentifier() == identifier) return item;
  }
  return nullptr;
}

QList<TabItemView*> QXTabViewController::tabItemViews() const { return items_; }

void QXTabViewController::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!isConfigured_) configureToolbar();
}

void QXTabViewController::configureToolbar() {
  auto* mainWindow = qobject_cast<QMainWindow*>(window());
  if (!mainWindow) return;
  isConfigured_ = true;
  toolbar_ = mainWindow->addToolBar(QStringLiteral("tabs"));
  toolbar_->setObjectName(QStringLiteral("tabs"));
  toolbar_->setMovable(false);
  toolbar_->setFloatable(false);
  toolbar_->toggleViewAction()->setVisible(false);
  toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
  toolbar_->setStyleSheet(QStringLiteral("QToolBar { border: none; spacing: 6px; padding: 6px; }"));

  auto flexibleSpace = [this] {
    auto* space = new QWidget(toolbar_);
    space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return space;
  };
  toolbar_->addWidget(flexibleSpace());
  for (int i = 0; i < count(); ++i) {
    auto* item = new TabItemView(toolbar_);
    item->setTitle(tabs_[i].label);
    const QString identifier = tabs_[i].page ? tabs_[i].page->objectName() : QString();
    item->setControllerIdentifier(identifier);
    item->setImageNamed(identifier.toLower());
    item->setState(i == selected_);
    connect(item, &QToolButton::clicked, this, [this, item] { changeTab(item); });
    toolbar_->addWidget(item);
    items_.append(item);
  }
  toolbar_->addWidget(flexibleSpace());
}

void QXTabViewController::updateItemStates() {
  if (selected_ < 0 || selected_ >= count()) return;
  for (TabItemView* item : items_) {
    const int index = indexOfChild(item->controllerIdentifier());
    if (index >= 0) item->setState(index == selected_);
  }
}

}  // namespace qv::gui
