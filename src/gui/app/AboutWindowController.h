#pragma once
// The About window: a small dark window with the program's name, version and what it
// is for. Main thread.
#include <QString>
#include <QWidget>

class QLabel;

namespace qv::gui {

class AboutWindowController final : public QWidget {
  Q_OBJECT

 public:
  explicit AboutWindowController(const QString& text, QWidget* parent = nullptr);
  ~AboutWindowController() override;

  QString text() const;
  QString versionText() const;

  // Fades out, then closes.
  void closeAnimated();
  bool isClosing() const { return closing_; }

 private:
  QLabel* textLabel_ = nullptr;
  QLabel* versionLabel_ = nullptr;
  bool closing_ = false;
};

}  // namespace qv::gui
