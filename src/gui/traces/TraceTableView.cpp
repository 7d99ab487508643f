#include "gui/traces/TraceTableView.h"

#include <QMouseEvent>
#include <QResizeEvent>

#include "gui/Theme.h"
#include "gui/traces/TraceRowDelegate.h"

namespace qv::gui {

TraceTableView::TraceTableView(QWidget* parent) : QListView(parent) {
  setItemDelegate(new TraceRowDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setAttribute(Qt::WA_MacShowFocusRect, false);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Base, theme::kPanelBackground);
  palette.setColor(QPalette::Window, theme::kPanelBackground);
  setPalette(palette);
  viewport()->setAutoFillBackground(true);
}

void TraceTableView::mousePressEvent(QMouseEvent* event) {
  if (!indexAt(event->position().toPoint()).isValid()) {
    clearSelection();
    setCurrentIndex(QModelIndex());
    event->accept();
    return;
  }
  QListView::mousePressEvent(event);
}

void TraceTableView::resizeEvent(QResizeEvent* event) {
  QListView::resizeEvent(event);
  // The list lays its rows out again only when its height changes; the uniform row size
  // it keeps was taken at the old width.
  if (event->size().width() != event->oldSize().width()) scheduleDelayedItemsLayout();
}

}  // namespace qv::gui
