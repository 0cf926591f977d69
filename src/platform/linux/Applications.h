#pragma once
// Installed applications on a freedesktop desktop: the desktop entries in the XDG data folders.
// A locator is a desktop-entry id ("org.gnome.Nautilus.desktop").
// find, installedNames and iconData run on any thread (they read the entries afresh each call;
// icon lookups share one icon theme under iconMutex_); launch runs on the main thread.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Applications.h"

typedef struct _GtkIconTheme GtkIconTheme;

namespace quib {

class LinuxApplications final : public Applications {
 public:
  LinuxApplications();
  ~LinuxApplications() override;
  LinuxApplications(const LinuxApplications&) = delete;
  LinuxApplications& operator=(const LinuxApplications&) = delete;

  std::optional<std::string> find(const std::string& name) override;
  std::vector<std::string> installedNames() override;
  std::optional<std::string> iconData(const std::string& locator, int size) override;
  bool launch(const std::string& locator) override;

 private:
  std::mutex iconMutex_;  // guards iconTheme_, which GTK does not make thread-safe
  GtkIconTheme* iconTheme_ = nullptr;
};

}  // namespace quib
