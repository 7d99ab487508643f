#pragma once
// Tabs shown as toolbar buttons: each child page has an identifier (its object name),
// gets one TabItemView in the window's toolbar (centred between two flexible spaces, set
// up on first appearance), and exactly the selected tab's button is on. Main thread.
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class QStackedWidget;
class QToolBar;

namespace qv::gui {

class TabItemView;

class QXTabViewController final : public QWidget {
  Q_OBJECT

 public:
  explicit QXTabViewController(QWidget* parent = nullptr);
  ~QXTabViewController() override;

  // `page`'s object name is its identifier; the page becomes a child of this view.
  void addTabViewItem(QWidget* page, const QString& label);
  int count() const;
  QWidget* page(int index) const;
  QString label(int index) const;

  int selectedTabViewItemIndex() const { return selected_; }
  // An index outside the tabs changes nothing.
  void setSelectedTabViewItemIndex(int index);

  // Selects the tab whose identifier is the sender's; none such changes nothing.
  void changeTab(TabItemView* sender);
  // The tab index of an identifier, -1 when no tab has it.
  int indexOfChild(const QString& identifier) const;
  TabItemView* tabItemWithIdentifier(const QString& identifier) const;
  QList<TabItemView*> tabItemViews() const;
  bool isConfigured() const { return isConfigured_; }

 signals:
  void selectedTabViewItemIndexChanged(int index);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct Tab {
    QPointer<QWidget> page;
    QString label;
  };
  void configureToolbar();
  void updateItemStates();

  QStackedWidget* stack_ = nullptr;
  QList<Tab> tabs_;
  QList<TabItemView*> items_;
  QPointer<QToolBar> toolbar_;
  int selected_ = -1;
  bool isConfigured_ = false;
};

}  // namespace qv::gui
