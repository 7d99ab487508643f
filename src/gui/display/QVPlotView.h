#pragma once
// A plain plot view with a name, a title and an index for its owner. Main thread only.
#include <string>

#include "gui/plot/PlotView.h"

namespace qv::gui {

class QVPlotView : public PlotView {
  Q_OBJECT

 public:
  explicit QVPlotView(QWidget* parent = nullptr) : PlotView(parent) {}

  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  int64_t index() const { return index_; }
  void setIndex(int64_t index) { index_ = index; }

 private:
  std::string name_;
  std::string title_;
  int64_t index_ = 0;
};

}  // namespace qv::gui
