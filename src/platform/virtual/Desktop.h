#pragma once
// An in-memory desktop: every effect is recorded so that tests can read it back, and every
// service can be told how to answer or to fail. Each service is thread-safe.
#include <filesystem>

#include "platform/Platform.h"
#include "platform/virtual/Accessibility.h"
#include "platform/virtual/Applications.h"
#include "platform/virtual/AudioHardware.h"
#include "platform/virtual/EffectLog.h"
#include "platform/virtual/EventPoster.h"
#include "platform/virtual/FileSystem.h"
#include "platform/virtual/HostInfo.h"
#include "platform/virtual/Pasteboard.h"
#include "platform/virtual/Screenshots.h"
#include "platform/virtual/Workspace.h"

namespace quib {

class VirtualDesktop {
 public:
  // Application folders live under `root` (a temporary folder in tests); the home folder is
  // "/Users/me" inside it.
  explicit VirtualDesktop(std::filesystem::path root = std::filesystem::temp_directory_path() /
                                                       "quib-virtual-root")
      : root_(root), files_(root, "/Users/me") {}
  VirtualDesktop(const VirtualDesktop&) = delete;
  VirtualDesktop& operator=(const VirtualDesktop&) = delete;

  Platform platform() {
    return Platform{accessibility_, host_, events_, pasteboard_, workspace_, applications_, audio_, screenshots_};
  }
  // Every effect as one readable line (for example "key down 8 flags command"), on the thread that
  // caused it.
  void setEffectObserver(std::function<void(const std::string&)> observer) { log_.setObserver(std::move(observer)); }

  VirtualAccessibility& accessibility() { return accessibility_; }
  VirtualHostInfo& host() { return host_; }
  VirtualEventPoster& events() { return events_; }
  VirtualPasteboard& pasteboard() { return pasteboard_; }
  VirtualWorkspace& workspace() { return workspace_; }
  VirtualApplications& applications() { return applications_; }
  VirtualAudioHardware& audio() { return audio_; }
  FileSystem& files() { return files_; }
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
  FileSystem files_;
  EffectLog log_;
  VirtualAccessibility accessibility_{log_};
  VirtualHostInfo host_;
  VirtualEventPoster events_{log_};
  VirtualPasteboard pasteboard_{log_};
  VirtualWorkspace workspace_{log_};
  VirtualApplications applications_{files_, log_};
  VirtualAudioHardware audio_{log_};
  VirtualScreenshots screenshots_;
};

}  // namespace quib
