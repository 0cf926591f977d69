#pragma once
// Finds an application by its plain name or an identifier, and launches it. appPath runs on any
// thread (it only asks the desktop's application list); launchApp on the main thread.
#include <optional>
#include <string>

#include "platform/Applications.h"
#include "server/ActionPerformer.h"

namespace quib {

class AppLocator {
 public:
  explicit AppLocator(Applications& applications) : applications_(applications) {}

  // The application's locator; none when nothing matches.
  std::optional<std::string> appPath(const std::string& name);
  ActionResult launchApp(const std::string& name);

 private:
  Applications& applications_;
};

}  // namespace quib
