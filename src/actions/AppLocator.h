#pragma once
// Finds an application bundle by its plain name or its bundle identifier, and launches it.
// appPath runs on any thread (it only reads the disk); launchApp on the main thread.
#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Workspace.h"
#include "server/ActionPerformer.h"

namespace quib {

class AppLocator {
 public:
  AppLocator(FileSystem& files, Workspace& workspace) : files_(files), workspace_(workspace) {}

  std::optional<std::string> appPath(const std::string& name);
  ActionResult launchApp(const std::string& name);

 private:
  FileSystem& files_;
  Workspace& workspace_;
};

}  // namespace quib
