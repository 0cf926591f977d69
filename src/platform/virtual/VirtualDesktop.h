#pragma once
// An in-memory desktop: every effect is recorded so that tests can read it back, and every
// service can be told how to answer or to fail. Thread-safe: its state sits under one mutex.
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace quib {

class VirtualDesktop final : public Accessibility,
                             public HostInfo,
                             public EventPoster,
                             public Pasteboard,
                             public Workspace,
                             public AudioHardware {
 public:
  struct AudioDevice {
    std::uint32_t id = 0;
    std::optional<std::string> name;                          // none: the name cannot be read
    std::optional<std::vector<std::uint32_t>> outputBuffers;  // none: the configuration cannot be read
  };

  // Application folders live under `root` (a temporary folder in tests); the home folder is
  // "/Users/me" inside it.
  explicit VirtualDesktop(std::filesystem::path root = std::filesystem::temp_directory_path() /
                                                       "quib-virtual-root");

  Platform platform() { return Platform{*this, *this, *this, *this, *this, *this, files_}; }

  // Every effect as one readable line (for example "key down 8 flags command"), on the thread that
  // caused it. The program prints them; tests may collect them.
  void setEffectObserver(std::function<void(const std::string&)> observer);

  // Accessibility
  bool isTrusted() override { return trusted_; }
  bool isTrustedPrompting() override;
  void setTrusted(bool trusted) { trusted_ = trusted; }
  int promptCount() const { return prompts_; }

  // HostInfo
  std::optional<std::string> localizedHostName() override;
  void setHostName(std::optional<std::string> name);

  // EventPoster
  std::optional<Point> pointerLocation() override;
  std::optional<InputEvent> makeKeyboardEvent(std::uint16_t keyCode, bool down) override;
  std::optional<InputEvent> makeMouseEvent(int type, Point location, MouseButton button) override;
  std::optional<InputEvent> makeScrollEvent(std::int32_t vertical, std::int32_t horizontal) override;
  std::optional<InputEvent> makeSystemDefinedEvent(int subtype, std::uint64_t modifierFlags,
                                                   std::int64_t data1, std::int64_t data2) override;
  void post(const InputEvent& event) override;
  void pause(std::chrono::microseconds duration) override;
  // Posted events, and the pauses between them as events of type -1 with data1 = microseconds.
  std::vector<InputEvent> events();
  void clearEvents();
  void setPointer(Point p);
  // Events of these kinds cannot be made (pointer location: the mouse kind).
  void failEvents(std::set<InputEvent::Kind> kinds);

  // Pasteboard
  std::int64_t changeCount() override;
  std::vector<PasteboardItem> items() override;
  std::vector<std::string> types() override;
  std::optional<std::string> string() override;
  void clearContents() override;
  bool writeItems(const std::vector<PasteboardItem>& items) override;
  // As another application copying text.
  void copyText(const std::string& text, std::vector<std::string> extraTypes = {});

  // Workspace
  bool openURL(const std::string& url) override;
  bool openApplication(const std::string& bundlePath) override;
  std::optional<std::string> applicationPath(const std::string& bundleIdentifier) override;
  std::optional<std::string> iconData(const std::string& path) override;
  void setBundleIdentifier(const std::string& identifier, const std::string& path);
  // The icon of a path; without one, a bundle's "icon.png" (or "icon.svg") file is its icon.
  void setIcon(const std::string& path, std::string encodedImage);
  std::vector<std::string> openedURLs();
  std::vector<std::string> openedApplications();

  // AudioHardware
  std::optional<std::vector<std::uint32_t>> deviceIds() override;
  std::optional<std::uint32_t> defaultOutputDevice() override;
  std::optional<std::vector<std::uint32_t>> outputChannelsPerBuffer(std::uint32_t device) override;
  std::optional<std::string> deviceName(std::uint32_t device) override;
  bool setDefaultOutputDevice(std::uint32_t device) override;
  void setAudioDevices(std::vector<AudioDevice> devices, std::optional<std::uint32_t> defaultOutput);

  FileSystem& files() { return files_; }
  const std::filesystem::path& root() const { return root_; }

 private:
  void emit(const std::string& effect);
  std::optional<InputEvent> make(InputEvent e);

  std::mutex mutex_;
  std::function<void(const std::string&)> observer_;
  std::atomic<bool> trusted_{true};
  std::atomic<int> prompts_{0};
  std::optional<std::string> hostName_;

  std::vector<InputEvent> events_;
  std::set<InputEvent::Kind> failing_;
  Point pointer_{500, 400};

  std::int64_t changeCount_ = 0;
  std::vector<PasteboardItem> items_;

  std::map<std::string, std::string> bundleIds_;
  std::map<std::string, std::string> icons_;
  std::vector<std::string> openedURLs_;
  std::vector<std::string> openedApps_;

  std::vector<AudioDevice> audio_;
  std::optional<std::uint32_t> defaultOutput_;

  std::filesystem::path root_;
  FileSystem files_;
};

}  // namespace quib
