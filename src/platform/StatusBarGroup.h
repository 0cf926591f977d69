#pragma once
// Several front ends showing one menu: the panel's tray, which may appear or go at any time, beside
// a window or the terminal that shows the menu meanwhile. Main thread only.
#include <memory>
#include <vector>

#include "platform/StatusBar.h"

namespace quib {

class StatusBarGroup final : public StatusBar {
 public:
  void add(std::unique_ptr<StatusBar> bar) { bars_.push_back(std::move(bar)); }
  bool empty() const { return bars_.empty(); }

  void setMenu(const Menu& menu) override {
    for (auto& bar : bars_) bar->setMenu(menu);
  }
  void setOnChoose(std::function<void(const MenuItem&)> onChoose) override {
    for (auto& bar : bars_) bar->setOnChoose(onChoose);
  }

 private:
  std::vector<std::unique_ptr<StatusBar>> bars_;
};

}  // namespace quib
