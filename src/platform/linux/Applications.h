#pragma once
// Installed applications on a freedesktop desktop: the desktop entries in the XDG data folders.
// A locator is a desktop-entry id ("org.gnome.Nautilus.desktop").
//
// Every desktop entry is read into an index once, and again on a worker thread each time the
// desktop says its entries changed (GAppInfoMonitor, on the main thread), so that a request never
// waits on the disk: find, installedNames and iconData run on any thread and only search the
// current index (icon lookups share one icon theme under iconMutex_). Made, destroyed and launch
// called on the main thread.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Applications.h"
#include "platform/linux/ChildLimits.h"

typedef struct _GtkIconTheme GtkIconTheme;
typedef struct _GAppInfoMonitor GAppInfoMonitor;

namespace quib {

class LinuxApplications final : public Applications {
 public:
  explicit LinuxApplications(ChildLimits childLimits = {});
  ~LinuxApplications() override;
  LinuxApplications(const LinuxApplications&) = delete;
  LinuxApplications& operator=(const LinuxApplications&) = delete;

  std::optional<std::string> find(const std::string& name) override;
  std::vector<std::string> installedNames() override;
  std::optional<std::string> iconData(const std::string& locator, int size) override;
  bool launch(const std::string& locator) override;

  struct Index;

 private:
  std::shared_ptr<const Index> index();
  void reindexLoop();

  const ChildLimits childLimits_;
  std::mutex iconMutex_;  // guards iconTheme_, which GTK does not make thread-safe
  GtkIconTheme* iconTheme_ = nullptr;

  std::mutex indexMutex_;  // guards index_, stale_ and stopping_
  std::condition_variable wake_;
  std::shared_ptr<const Index> index_;
  bool stale_ = false;
  bool stopping_ = false;
  GAppInfoMonitor* monitor_ = nullptr;
  unsigned long changedHandler_ = 0;
  std::thread indexer_;
};

}  // namespace quib
