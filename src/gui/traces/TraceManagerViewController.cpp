#include "gui/traces/TraceManagerViewController.h"

#include <QAction>
#include <QDir>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "engine/AveragingChoice.h"
#include "gui/Theme.h"
#include "gui/app/AlertAsker.h"
#include "gui/traces/ExportFileChooser.h"
#include "gui/traces/TraceDisplayName.h"
#include "gui/traces/TraceListModel.h"
#include "gui/traces/TraceShotCellView.h"
#include "gui/traces/TraceTableView.h"
#include "platform/Log.h"

namespace qv::gui {
namespace {

QLabel* headerLabel(const QString& text, const QColor& color, int pixelSize, bool bold,
                    QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  return label;
}

// The menu's title swatch: a 16 x 16 rounded square of the trace's colour, sharp on HiDPI.
QIcon swatchIcon(const QColor& color) {
  const int size = theme::kTraceMenuSwatchSize;
  QPixmap pixmap(size * 2, size * 2);
  pixmap.setDevicePixelRatio(2.0);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  p.drawRoundedRect(QRectF(0, 0, size, size), theme::kTraceMenuSwatchRadius,
                    theme::kTraceMenuSwatchRadius);
  return QIcon(pixmap);
}

}  // namespace

TraceManagerViewController::TraceManagerViewController(TraceManager& traceManager,
                                                       AppSettings& settings, QWidget* parent)
    : QWidget(parent),
      traceManager_(traceManager),
      settings_(settings),
      alertAsker_(std::make_shared<MessageBoxAlertAsker>(this)),
      exportFileChooser_(std::make_shared<FileDialogExportFileChooser>()),
      keyboardModifiers_([] { return QGuiApplication::keyboardModifiers(); }) {
  // The panel never takes the keyboard: typed keys go on to the window's shortcuts.
  setFocusPolicy(Qt::NoFocus);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, theme::kPanelBackground);
  setPalette(palette);
  setMinimumWidth(160);
  setAcceptDrops(true);

  headerView_ = makeHeaderView();
  tableView_ = new TraceTableView(this);
  model_ = new TraceListModel(traceManager_, this);
  tableView_->setModel(model_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(headerView_);
  layout->addWidget(tableView_, 1);

  connect(model_, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { installCells(first, last); });
  connect(model_, &QAbstractItemModel::modelReset, this,
          [this] { installCells(0, model_->rowCount() - 1); });
  connect(model_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
            for (int row = topLeft.row(); row <= bottomRight.row(); ++row) configureCell(row);
          });
  // A view moves its selection off removed rows by itself; the store's selection, not
  // that, is what the list shows after a change.
  model_->setChangesWillApplyCallback([this] { followingStore_ = true; });
  // Titles are numbered among all traces: a capture or a deletion renumbers other rows.
  model_->setChangesAppliedCallback([this] {
    followingStore_ = false;
    reloadData();
  });
  connect(tableView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { tableViewSelectionDidChange(); });
  connect(tableView_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& position) { showContextMenu(position); });

  buildPopupMenu();
  installCells(0, model_->rowCount() - 1);
  followStoreSelection();
}

TraceManagerViewController::~TraceManagerViewController() {
  // Rows call back into this object; they go before it does.
  model_->setChangesWillApplyCallback(nullptr);
  model_->setChangesAppliedCallback(nullptr);
  // Tearing the view down empties its selection; that must not reach the store.
  tableView_->selectionModel()->disconnect(this);
  delete tableView_;
  tableView_ = nullptr;
}

QWidget* TraceManagerViewController::makeHeaderView() {
  auto* header = new QWidget(this);
  header->setAutoFillBackground(true);
  QPalette palette = header->palette();
  palette.setColor(QPalette::Window, theme::kPanelBackground);
  header->setPalette(palette);

  const int m = theme::kTraceRowMargin;
  const int px = theme::kTraceHeaderPixelSize;
  auto* title = headerLabel(QStringLiteral("Traces"), theme::kText, px + 2, true, header);
  const QString buttonStyle =
      QStringLiteral(
          "QPushButton { color: %1; background: %2; border: 1px solid %3;"
          " border-radius: 4px; padding: 2px 6px; font-size: %4px; }"
          "QPushButton:hover { background: %5; }"
          "QPushButton:pressed { background: %6; }")
          .arg(theme::kText.name(), theme::kControlBackground.name(), theme::kTraceGrid.name())
          .arg(px)
          .arg(theme::kControlBackground.lighter(130).name(), theme::kAccent.darker(160).name());
  captureButton_ = new QPushButton(QStringLiteral("Capture"), header);
  captureButton_->setFocusPolicy(Qt::NoFocus);
  captureButton_->setCursor(Qt::PointingHandCursor);
  captureButton_->setToolTip(QStringLiteral("Capture the live curves as a trace (C)"));
  captureButton_->setStyleSheet(buttonStyle);
  connect(captureButton_, &QPushButton::clicked, this, [this] { onCaptureButton(); });
  importButton_ = new QPushButton(QStringLiteral("Import\u2026"), header);
  importButton_->setFocusPolicy(Qt::NoFocus);
  importButton_->setCursor(Qt::PointingHandCursor);
  importButton_->setToolTip(
      QStringLiteral("Import a curve file (text, CSV or FRD) as a trace; files can also be "
                     "dropped on the list"));
  importButton_->setStyleSheet(buttonStyle);
  connect(importButton_, &QPushButton::clicked, this, [this] { onImportButton(); });
  // The buttons share a row of their own, so both stay whole at the panel's narrowest.
  for (QPushButton* button : {captureButton_, importButton_})
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

  auto* smoothingCaption =
      headerLabel(QStringLiteral("Smoothing"), theme::kTextDim, px, false, header);
  smoothingLabel_ = headerLabel(QString(), theme::kText, px, true, header);
  auto* averagingCaption =
      headerLabel(QStringLiteral("Averaging"), theme::kTextDim, px, false, header);
  averagingLabel_ = headerLabel(QString(), theme::kText, px, true, header);
  smoothingCaption->setToolTip(QStringLiteral("Smoothing of the live curves"));
  averagingCaption->setToolTip(QStringLiteral("Averaging of the live curves"));

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(6);
  buttons->addWidget(captureButton_, 1);
  buttons->addWidget(importButton_, 1);
  // Caption and value side by side, one setting a line: the averaging's words need the width.
  auto* settingsRow = new QGridLayout;
  settingsRow->setHorizontalSpacing(6);
  settingsRow->setVerticalSpacing(2);
  settingsRow->addWidget(smoothingCaption, 0, 0);
  settingsRow->addWidget(smoothingLabel_, 0, 1);
  settingsRow->addWidget(averagingCaption, 1, 0);
  settingsRow->addWidget(averagingLabel_, 1, 1);
  settingsRow->setColumnStretch(1, 1);
  auto* line = new QWidget(header);
  line->setFixedHeight(1);
  line->setAutoFillBackground(true);
  QPalette linePalette = line->palette();
  linePalette.setColor(QPalette::Window, theme::kTraceGrid);
  line->setPalette(linePalette);

  auto* column = new QVBoxLayout(header);
  column->setContentsMargins(0, m, 0, 0);
  column->setSpacing(6);
  auto* inner = new QVBoxLayout;
  inner->setContentsMargins(m, 0, m, 2);
  inner->setSpacing(6);
  inner->addWidget(title);
  inner->addLayout(buttons);
  inner->addLayout(settingsRow);
  column->addLayout(inner);
  column->addWidget(line);
  return header;
}

void TraceManagerViewController::buildPopupMenu() {
  popupMenu_ = new QMenu(this);
  auto add = [this](int tag, const QString& title) {
    QAction* item = popupMenu_->addAction(title);
    item->setData(tag);
    connect(item, &QAction::triggered, this, [this, item] { onPopupMenu(item); });
    return item;
  };
  add(kTitleItemTag, QString());
  popupMenu_->addSeparator();
  add(kVisibilityItemTag, QStringLiteral("Hide"));
  popupMenu_->addSeparator();
  add(kExportCsvItemTag, QStringLiteral("Export as CSV…"));
  add(kExportFrdItemTag, QStringLiteral("Export as FRD…"));
  popupMenu_->addSeparator();
  addWorkbenchItems();
  popupMenu_->addSeparator();
  add(kDeleteItemTag, QStringLiteral("Delete"));
}

void TraceManagerViewController::setAlertAsker(std::shared_ptr<AlertAsker> asker) {
  alertAsker_ = std::move(asker);
}

void TraceManagerViewController::setExportFileChooser(std::shared_ptr<ExportFileChooser> chooser) {
  exportFileChooser_ = std::move(chooser);
}

void TraceManagerViewController::setKeyboardModifiersSource(
    std::function<Qt::KeyboardModifiers()> source) {
  keyboardModifiers_ = std::move(source);
}

QAction* TraceManagerViewController::menuItemWithTag(int tag) const {
  for (QAction* item : popupMenu_->actions()) {
    if (!item->isSeparator() && item->data().toInt() == tag) return item;
  }
  return nullptr;
}

TraceShotCellView* TraceManagerViewController::cellForRow(int row) const {
  return qobject_cast<TraceShotCellView*>(tableView_->indexWidget(model_->index(row)));
}

int TraceManagerViewController::selectedRow() const {
  const QModelIndexList rows = tableView_->selectionModel()->selectedIndexes();
  return rows.isEmpty() ? -1 : rows.first().row();
}

QSize TraceManagerViewController::sizeHint() const { return {theme::kTracePanelWidth, 600}; }

void TraceManagerViewController::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  reloadData();
  smoothingObservation_ = settings_.observe(
      "smoothingFactor", [this](const QVariant&) { formatSmoothingLabel(); }, true);
  averagingObservation_ = settings_.observe(
      "averaging", [this](const QVariant&) { formatAveragingLabel(); }, true);
}

void TraceManagerViewController::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  smoothingObservation_.reset();
  averagingObservation_.reset();
}

void TraceManagerViewController::onCaptureButton() {
  if (captureCallback_) captureCallback_();
}

void TraceManagerViewController::formatSmoothingLabel() {
  smoothingLabel_->setText(QString::fromStdString(
      smoothingModel_.smoothingStringFromSmoothing(settings_.smoothingFactor())));
}

void TraceManagerViewController::formatAveragingLabel() {
  // In words ("Fast (≈ 0.3 s)"); the tooltip says what the choice does.
  const int index = static_cast<int>(settings_.averaging());
  const double tick = model_->displayInterval();
  averagingLabel_->setText(QString::fromStdString(AveragingChoice::label(index, tick)));
  averagingLabel_->setToolTip(QString::fromStdString(AveragingChoice::description(index, tick)));
}

void TraceManagerViewController::setDisplayInterval(double seconds) {
  if (!(seconds > 0.0)) return;
  model_->setDisplayInterval(seconds);
  formatAveragingLabel();
  reloadData();
}

void TraceManagerViewController::reloadData() {
  for (int row = 0; row < model_->rowCount(); ++row) configureCell(row);
  followStoreSelection();
}

void TraceManagerViewController::installCells(int first, int last) {
  for (int row = first; row <= last; ++row) {
    auto* cell = new TraceShotCellView;
    cell->setDelegate(this);
    tableView_->setIndexWidget(model_->index(row), cell);
    configureCell(row);
  }
}

void TraceManagerViewController::configureCell(int row) {
  TraceShotCellView* cell = cellForRow(row);
  const TraceShotRef shot = model_->shotAt(row);
  if (!cell || !shot) return;
  cell->setObjectValue(shot);
  cell->setPrimaryTitle(model_->titleForRow(row), TraceDisplayName::isUnnamed(*shot));
  cell->setSecondaryText(TraceShotCellView::readableDescription(shot->dateCreated));
  cell->setColor(model_->data(model_->index(row), Qt::DecorationRole).value<QColor>());
  cell->setVisibility(shot->visible);
  cell->setSelected(shot->selected);
  cell->setToolTip(model_->data(model_->index(row), Qt::ToolTipRole).toString());
}

void TraceManagerViewController::followStoreSelection() {
  int selected = -1;
  for (int row = 0; row < model_->rowCount() && selected < 0; ++row) {
    if (model_->shotAt(row)->selected) selected = row;
  }
  if (selected == selectedRow()) return;
  followingStore_ = true;
  QItemSelectionModel* selection = tableView_->selectionModel();
  if (selected < 0) {
    selection->clearSelection();
  } else {
    selection->select(model_->index(selected), QItemSelectionModel::ClearAndSelect);
    selection->setCurrentIndex(model_->index(selected), QItemSelectionModel::NoUpdate);
  }
  followingStore_ = false;
}

void TraceManagerViewController::tableViewSelectionDidChange() {
  if (followingStore_) return;
  const int row = selectedRow();
  if (row < 0) {
    traceManager_.setSelectedForIndex(true, TraceManager::kNotFound);
    return;
  }
  const std::size_t index = storeIndexForRow(row);
  if (index != TraceManager::kNotFound) traceManager_.setSelectedForIndex(true, index);
}

std::size_t TraceManagerViewController::storeIndexForRow(int row) const {
  const TraceShotRef shot = model_->shotAt(row);
  if (!shot) return TraceManager::kNotFound;
  const TraceShotResults list = traceManager_.allTraceShots();
  for (std::size_t index = 0; index < list.count(); ++index) {
    if (list[index].id == shot->id) return index;
  }
  return TraceManager::kNotFound;
}

bool TraceManagerViewController::commandModifierHeld(Qt::KeyboardModifiers modifiers) const {
  return modifiers.testFlag(Qt::ControlModifier);
}

void TraceManagerViewController::cellVisibilitySwitchChangedVisible(
    const TraceShotRef& object, bool visible, Qt::KeyboardModifiers modifiers) {
  if (commandModifierHeld(modifiers)) {
    traceManager_.setVisibilityForAllTraces(visible);
  } else if (object) {
    traceManager_.toggleVisibilityForShot(*object);
  }
}

void TraceManagerViewController::cellTitleChangedTitle(const TraceShotRef& object,
                                                       const QString& title) {
  if (object) traceManager_.setNameForShot(title.toStdString(), *object);
}

bool TraceManagerViewController::validateMenuForRow(int row) {
  const TraceShotRef shot = model_->shotAt(row);
  clickedTraceId_ = shot ? shot->id : 0;
  for (QAction* item : popupMenu_->actions()) {
    if (item->isSeparator()) continue;
    const int tag = item->data().toInt();
    switch (tag) {
      case kTitleItemTag:
        item->setText(shot ? model_->titleForRow(row) : QString());
        item->setIcon(
            shot ? swatchIcon(model_->data(model_->index(row), Qt::DecorationRole).value<QColor>())
                 : QIcon());
        break;
      case kVisibilityItemTag:
        item->setText(shot && shot->visible ? QStringLiteral("Hide") : QStringLiteral("Show"));
        break;
      default:
        validateWorkbenchItem(item, shot);
        break;
    }
    if (tag == kCompareItemTag || tag == kAverageItemTag || tag == kMoveUpItemTag ||
        tag == kMoveDownItemTag || tag == kOffsetsItemTag)
      continue;
    const bool known = tag == kTitleItemTag || tag == kVisibilityItemTag || tag == kDeleteItemTag ||
                       tag == kExportCsvItemTag || tag == kExportFrdItemTag;
    item->setEnabled(shot && known);
  }
  return shot != nullptr;
}

void TraceManagerViewController::showContextMenu(const QPoint& position) {
  const QModelIndex index = tableView_->indexAt(position);
  if (!index.isValid() || !validateMenuForRow(index.row())) return;
  popupMenu_->popup(tableView_->viewport()->mapToGlobal(position));
}

void TraceManagerViewController::onPopupMenu(QAction* item) {
  // The row is found again by its trace: the list may have changed while the menu was open.
  const int row = clickedTraceId_ != 0 ? model_->rowForId(clickedTraceId_) : -1;
  const TraceShotRef shot = model_->shotAt(row);
  if (!item || !shot) return;
  switch (item->data().toInt()) {
    case kDeleteItemTag:
      askForItemDeletion(row);
      break;
    case kVisibilityItemTag:
      setVisibilityUsingKeyMaskForRowChecked(row, !shot->visible, keyboardModifiers_());
      break;
    case kExportCsvItemTag:
      exportRow(row, TraceExportFormat::Csv);
      break;
    case kExportFrdItemTag:
      exportRow(row, TraceExportFormat::Frd);
      break;
    case kCompareItemTag:
      compareRow(row);
      break;
    case kAverageItemTag:
      averageVisibleTraces();
      break;
    case kMoveUpItemTag:
      moveRow(row, -1);
      break;
    case kMoveDownItemTag:
      moveRow(row, +1);
      break;
    case kOffsetsItemTag:
      editOffsetsForRow(row);
      break;
    default:
      break;
  }
}

void TraceManagerViewController::setVisibilityUsingKeyMaskForRowChecked(
    int row, bool checked, Qt::KeyboardModifiers modifiers) {
  if (commandModifierHeld(modifiers)) {
    traceManager_.setVisibilityForAllTraces(checked);
    return;
  }
  const std::size_t index = storeIndexForRow(row);
  if (index != TraceManager::kNotFound) traceManager_.toggleVisibilityForIndex(index);
}

void TraceManagerViewController::askForItemDeletion(int row) {
  const TraceShotRef shot = model_->shotAt(row);
  if (!shot) return;
  tableView_->selectionModel()->select(model_->index(row), QItemSelectionModel::ClearAndSelect);
  tableView_->selectionModel()->setCurrentIndex(model_->index(row), QItemSelectionModel::NoUpdate);
  if (!alertAsker_ || !alertAsker_->confirm(QStringLiteral("Trace shot deletion"),
                                            QStringLiteral("Do You want to delete this trace?"))) {
    return;
  }
  // While the alert was up the list may have moved; delete the trace that was asked about.
  const std::size_t index = storeIndexForRow(model_->rowForId(shot->id));
  if (index != TraceManager::kNotFound) traceManager_.deleteShotAtIndex(index);
}

void TraceManagerViewController::exportRow(int row, TraceExportFormat format) {
  const TraceShotRef shot = model_->shotAt(row);
  if (!shot || !exportFileChooser_) return;
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty()) folder = QDir::homePath();
  const QString suggested = QDir(folder).filePath(
      QString::fromStdString(TraceExporter::suggestedFileName(*shot, format)));
  const std::optional<QString> path = exportFileChooser_->chooseExportPath(this, suggested, format);
  if (!path) return;
  std::string error;
  if (TraceExporter::exportShot(*shot, format, path->toStdString(), &error)) return;
  qv::log("Trace export failed: %s", error.c_str());
  if (alertAsker_) {
    alertAsker_->inform(QStringLiteral("The trace could not be exported"),
                        QString::fromStdString(error));
  }
}

}  // namespace qv::gui
