#pragma once
// The status menu as a small window of its own, for desktops whose panel shows no tray (stock
// GNOME): the same items, laid out for reading: the pairing code in large digits that copy it when
// clicked, the enabled items as buttons, the others as lines of text. Closing the window only hides
// it; the program keeps serving. GTK on the main thread, which must run the default main context.
#include <functional>
#include <memory>
#include <string>

#include "platform/StatusBar.h"

typedef struct _GtkWidget GtkWidget;

namespace quib {

class StatusWindow final : public StatusBar {
 public:
  static constexpr const char* kTitle = "Quibbleton";

  // Opens GTK on the session's display; none, with the reason in *error, when there is none. The
  // window starts hidden.
  static std::unique_ptr<StatusWindow> create(std::string* error);
  ~StatusWindow() override;
  StatusWindow(const StatusWindow&) = delete;
  StatusWindow& operator=(const StatusWindow&) = delete;

  void setMenu(const Menu& menu) override;
  void setOnChoose(std::function<void(const MenuItem&)> onChoose) override {
    onChoose_ = std::move(onChoose);
  }

  // Shows the window and brings it to the front.
  void present();

 private:
  StatusWindow();
  void fill(const Menu& menu);
  GtkWidget* codeRow(const MenuItem& item);
  GtkWidget* button(const MenuItem& item, const std::string& label);
  void chosen(const MenuItem& item);

  GtkWidget* window_ = nullptr;
  GtkWidget* content_ = nullptr;  // rebuilt whole with every menu
  Menu menu_;
  std::function<void(const MenuItem&)> onChoose_;
  std::shared_ptr<StatusWindow*> self_;  // held weakly by the buttons' handlers
};

}  // namespace quib
