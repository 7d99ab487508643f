#pragma once
// The program's window styling: black background, no window tabbing, the title kept for
// the window list but the content drawn up to the title bar. Main thread.
#include <QMainWindow>

namespace qv::gui {

class MYWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MYWindow(QWidget* parent = nullptr);
  ~MYWindow() override;

 signals:
  // Before the window closes (the user's close, or close()).
  void windowWillClose();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void setBackground(const QColor& color);
};

}  // namespace qv::gui
