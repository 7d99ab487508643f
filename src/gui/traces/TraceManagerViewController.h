#pragma once
// The trace panel: a header with the smoothing and averaging in force and a capture
// button, and the list of captured traces, newest first. It keeps no trace state of its
// own: rows are drawn from the store's list, every user action is one call into the
// store, and the list follows the store's change notifications row by row.
// Main thread only.
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/SmoothingModel.h"
#include "export/TraceExporter.h"
#include "gui/app/AppSettings.h"
#include "gui/traces/TraceOffsetsDialog.h"
#include "gui/traces/TraceShotCellViewDelegate.h"
#include "traces/TraceManager.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;

namespace qv::gui {

class AlertAsker;
class ExportFileChooser;
class TraceListModel;
class TraceShotCellView;
class TraceTableView;

class TraceManagerViewController final : public QWidget, public TraceShotCellViewDelegate {
  Q_OBJECT

 public:
  // Context menu item tags.
  static constexpr int kTitleItemTag = 0;
  static constexpr int kVisibilityItemTag = 10;
  static constexpr int kDeleteItemTag = 40;
  static constexpr int kExportCsvItemTag = 50;
  static constexpr int kExportFrdItemTag = 51;
  static constexpr int kCompareItemTag = 60;
  static constexpr int kAverageItemTag = 70;
  static constexpr int kMoveUpItemTag = 80;
  static constexpr int kMoveDownItemTag = 81;
  static constexpr int kOffsetsItemTag = 85;
  // The colour submenu: "Automatic" (the palette's), then one item per colour for dark
  // backgrounds, tagged kColorItemTagBase + its index.
  static constexpr int kAutomaticColorItemTag = 89;
  static constexpr int kColorItemTagBase = 90;

  // Comparing belongs to the plot: the panel asks it for the reference's id (0: none) and
  // hands it the new reference (null: back to absolute curves).
  struct CompareHooks {
    std::function<std::int64_t()> referenceId;
    std::function<void(const TraceShotRef&)> setReference;
  };

  // The store and the settings must outlive the panel.
  explicit TraceManagerViewController(TraceManager& traceManager,
                                      AppSettings& settings = AppSettings::set(),
                                      QWidget* parent = nullptr);
  ~TraceManagerViewController() override;

  // What the capture button does: the same as the main window's capture key.
  void setCaptureCallback(std::function<void()> callback) {
    captureCallback_ = std::move(callback);
  }
  // Alerts and file dialogs; message boxes and a save dialog unless replaced.
  void setAlertAsker(std::shared_ptr<AlertAsker> asker);
  void setExportFileChooser(std::shared_ptr<ExportFileChooser> chooser);
  void setCompareHooks(CompareHooks hooks) { compareHooks_ = std::move(hooks); }
  // Where menu actions read the held modifiers (menus carry none of their own).
  void setKeyboardModifiersSource(std::function<Qt::KeyboardModifiers()> source);

  TraceManager& traceManager() const { return traceManager_; }
  TraceListModel* model() const { return model_; }
  TraceTableView* tableView() const { return tableView_; }
  QLabel* smoothingLabel() const { return smoothingLabel_; }
  QLabel* averagingLabel() const { return averagingLabel_; }
  QPushButton* captureButton() const { return captureButton_; }
  QPushButton* importButton() const { return importButton_; }
  QMenu* popupMenu() const { return popupMenu_; }
  QAction* menuItemWithTag(int tag) const;
  // The row widget of `row`, or nullptr.
  TraceShotCellView* cellForRow(int row) const;
  // The list's selected row, or -1.
  int selectedRow() const;

  // Seconds between display updates: the averaging reads as a time at this rate.
  void setDisplayInterval(double seconds);

  void onCaptureButton();
  void formatSmoothingLabel();
  void formatAveragingLabel();
  // Points the context menu at `row` and sets its titles, swatch and enabled items; false
  // (and a menu that does nothing) when the row shows no trace.
  bool validateMenuForRow(int row);
  void onPopupMenu(QAction* item);
  void setVisibilityUsingKeyMaskForRowChecked(int row, bool checked,
                                              Qt::KeyboardModifiers modifiers);
  void askForItemDeletion(int row);
  void exportRow(int row, TraceExportFormat format);

  // Asks for a curve file and imports it.
  void onImportButton();
  // Stores the curve file at `path` as a trace named after the file. A file that cannot be
  // read or has a malformed line is refused with an alert naming the line, and nothing is
  // stored. True when the trace was stored or is pending.
  bool importFile(const QString& path);
  // Makes the row's trace the plot's compare reference, or ends comparing when it is.
  void compareRow(int row);
  // Stores the average of the visible traces as a new trace; warns when their phases
  // disagree so much that the averaged phase means nothing.
  void averageVisibleTraces();
  // Moves the row's trace one place up (-1) or down (+1) in the list, and so in the
  // drawing order and the legend.
  void moveRow(int row, int by);
  // A colour of ChartColorPalette::darkBackgroundColors(), or none for the palette's own.
  void recolorRow(int row, const std::optional<RGBAColor>& color);
  QMenu* colorMenu() const { return colorMenu_; }
  // Asks for the row's level and delay offsets and keeps them with the trace.
  void editOffsetsForRow(int row);
  // What asks for offsets: TraceOffsetsDialog unless replaced (tests answer for the user).
  using OffsetsAsker =
      std::function<std::optional<TraceOffsets>(QWidget* parent, const TraceShot& shot)>;
  void setOffsetsAsker(OffsetsAsker asker) { offsetsAsker_ = std::move(asker); }

  void cellVisibilitySwitchChangedVisible(const TraceShotRef& object, bool visible,
                                          Qt::KeyboardModifiers modifiers) override;
  void cellTitleChangedTitle(const TraceShotRef& object, const QString& title) override;

  QSize sizeHint() const override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  // Curve files dropped on the panel are imported.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QWidget* makeHeaderView();
  void addWorkbenchItems();
  void validateWorkbenchItem(QAction* item, const TraceShotRef& shot);
  void reportStoreFailure(const CaptureOutcome& outcome, const QString& title);
  void buildPopupMenu();
  void showContextMenu(const QPoint& position);
  void tableViewSelectionDidChange();
  void reloadData();
  void installCells(int first, int last);
  void configureCell(int row);
  // The view's selection shows the store's.
  void followStoreSelection();
  // The trace's position in the store's list now (the mirror may lag by one
  // notification), or kNotFound.
  std::size_t storeIndexForRow(int row) const;
  bool commandModifierHeld(Qt::KeyboardModifiers modifiers) const;

  TraceManager& traceManager_;
  AppSettings& settings_;
  SmoothingModel smoothingModel_;
  TraceListModel* model_ = nullptr;
  TraceTableView* tableView_ = nullptr;
  QWidget* headerView_ = nullptr;
  QLabel* smoothingLabel_ = nullptr;
  QLabel* averagingLabel_ = nullptr;
  QPushButton* captureButton_ = nullptr;
  QPushButton* importButton_ = nullptr;
  QMenu* popupMenu_ = nullptr;
  QMenu* colorMenu_ = nullptr;
  std::int64_t clickedTraceId_ = 0;
  bool followingStore_ = false;
  std::function<void()> captureCallback_;
  std::shared_ptr<AlertAsker> alertAsker_;
  std::shared_ptr<ExportFileChooser> exportFileChooser_;
  CompareHooks compareHooks_;
  OffsetsAsker offsetsAsker_;
  std::function<Qt::KeyboardModifiers()> keyboardModifiers_;
  AppSettings::ObservationToken smoothingObservation_;
  AppSettings::ObservationToken averagingObservation_;
};

}  // namespace qv::gui
