#pragma once
// What the program tests on every real desktop (X11, sway, GNOME, KDE) share: the phone's requests
// and the checks every desktop passes alike, read back from the test window, AT-SPI and the tools.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/QuibClient.h"
#include "support/ChildProcess.h"

namespace quib::test {

// A shell command's standard output, trailing newlines and spaces cut.
std::string run(const std::string& command);
// Polls an outside view for up to five seconds (the desktop answers asynchronously).
bool eventually(const std::function<bool()>& f);
QuibAction action(QuibActionKind kind, std::optional<std::string> value = std::nullopt,
                  std::vector<std::string> modifiers = {});
ServerMessage act(QuibClient& phone, QuibAction a);
std::vector<std::string> history(QuibClient& phone);
bool historyComesToStartWith(QuibClient& phone, const std::string& text);

// The test window with the focus in its field (on the Wayland session when `wayland`); none when it
// did not show.
std::unique_ptr<ChildProcess> openWindow(bool wayland);
// The program started with `args` (port 0, menu on its terminal), having said each of `said`; its
// menu comes to say input is allowed (`consent`, when given, answers the desktop's dialog first) and
// names the default output; `phone` is paired with it. None when it did not start or pair.
using Consent = std::function<void(ChildProcess& program)>;
std::unique_ptr<ChildProcess> startPaired(QuibClient& phone, std::vector<std::string> args,
                                          const std::vector<std::string>& said, const Consent& consent = {});
// Answers the desktop's consent dialog called `title` as a user would, pressing `controls`; then
// input is allowed.
Consent answering(const std::string& title, const std::vector<std::string>& controls);
// The lines AT-SPI reads in the showing window called `title` (as a screen reader does), or
// "(exit status) output" when none shows in time; with `absent`, empty when none shows now.
std::string readWindow(const std::string& title, bool absent = false);

struct InputChecks {
  std::string command = "control";                 // the command key as the window shows it
  std::string scrollLine = "scroll up\n";          // smooth scrolling where the desktop sends no wheel clicks
  std::optional<std::pair<int, int>> pointerAt{};  // where the pointer starts, where the desktop says
  std::function<void()> afterKeys{}, afterTexts{};
};
// Keys; texts in every script and keys sent in one write, then a long text; the clipboard both ways
// through the window; a double click, a move, clicks, a scroll and a drag.
void checkInput(QuibClient& phone, ChildProcess& window, const InputChecks& c);
// On a compositor that places the pointer itself (GNOME, KDE): the window, the program started with
// `sinks` (its data in `data`, a fresh folder when empty), checkInput, and with no window left a
// paste refused.
void checkInputOnCompositor(const std::string& sinks, const InputChecks& c,
                            const std::filesystem::path& data = {}, const Consent& consent = {});
// Entries the launcher lists ("Notes", a browser for https, each recording its start in `marks`/log)
// and the default output "Speakers", before the program starts.
void prepareDesktop(const std::filesystem::path& marks);
// The volume key, the next output, launching "notes" and an https address.
void checkSoundAndApplications(QuibClient& phone, ChildProcess& window, const std::filesystem::path& marks);
// The window that stands in for a tray, read through AT-SPI: with no phone paired it opens by itself
// and its code pairs; with one paired a start stays quiet and a second start presents it and exits
// 0; `closeWindow` (when given) closes it, and the program serves on.
void checkStatusWindow(const std::string& platform, const std::function<void()>& closeWindow = {});

}  // namespace quib::test
