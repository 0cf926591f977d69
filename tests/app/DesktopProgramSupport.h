#pragma once
// What the program tests on a real desktop (X11 or Wayland) share: a shell to the desktop's own
// tools, polling an outside view, the desktop entries a launcher lists, and the phone's requests.
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

// Runs a shell command; its standard output without the trailing newline and spaces.
std::string run(const std::string& command);

// Polls an outside view for up to five seconds (the desktop answers asynchronously).
bool eventually(const std::function<bool()>& f);

std::string readFile(const std::filesystem::path& p);

// Desktop entries the launcher would list: "Notes", and a browser for https and http; each
// records how it was started in `marks`/log.
void installApplications(const std::filesystem::path& marks);

ServerMessage act(QuibClient& phone, QuibAction a);
std::vector<std::string> history(QuibClient& phone);
// Whether the phone's clipboard history comes to start with `text` (the copy is seen by polling).
bool historyComesToStartWith(QuibClient& phone, const std::string& text);
// The checks every desktop passes alike, read back from the test window and the launch records.
// The menu comes to say input is allowed (at once, or once a portal session starts; `consent`, when
// given, answers the desktop's dialog and waits for it) and names the default output; the phone pairs.
using Consent = std::function<void(ChildProcess& program)>;
bool startAndPair(ChildProcess& program, QuibClient& phone, const Consent& consent = {});
// The program on the Wayland session, its menu on its terminal, having said that input and the
// clipboard go through `sinks`; `phone` is paired with it (none when it did not start or pair).
std::unique_ptr<ChildProcess> startOnWayland(const std::filesystem::path& data, const std::string& sinks,
                                             QuibClient& phone, const Consent& consent = {});
// The window that stands in for a tray on a desktop without one (`platform` is the backend), read
// through AT-SPI as a screen reader reads it. With no phone paired the program opens it by itself,
// and the code shown there pairs; with a phone paired a start stays quiet, and a second start
// presents the window and exits 0. Then `closeWindow` (when given) closes it, and the program serves on.
void checkStatusWindow(const std::string& platform, const std::function<void()>& closeWindow = {});
// Keys: "a", then command+shift+z, the window showing the command key as `command`.
void checkKeys(QuibClient& phone, ChildProcess& window, const std::string& command = "control");
// Texts in every script and keys, sent in one write, arrive each once and in order in the field
// (which holds "a" from checkKeys); then prints how long 1,000 ASCII and 200 Hangul characters
// take to arrive whole.
void checkTypedText(QuibClient& phone, ChildProcess& window);
// The phone's copy pasted in the window, and the window's copy in the history (through Control's
// shortcuts, whatever the command key is).
void checkClipboardThroughWindow(QuibClient& phone, ChildProcess& window);
// From the pointer at (x, y): a move by (40, -25), a click, a right click, a scroll up (the window's
// line for it: wheel clicks, or smooth scrolling where the desktop sends no clicks), and a drag by
// (30, 30).
void checkPointer(QuibClient& phone, ChildProcess& window, int x, int y,
                  const std::string& scrollLine = "scroll up\n");
// On a compositor that places the pointer itself (GNOME, KDE): the program started with `sinks`
// (its data in `data`, a fresh folder when empty; `consent` as for startAndPair); keys, texts (then
// `afterTexts`), the clipboard both ways through the window, and the pointer from where a click
// finds it.
void checkInputOnCompositor(const std::string& sinks, const std::string& scrollLine,
                            const std::function<void()>& afterTexts = {},
                            const std::filesystem::path& data = {}, const Consent& consent = {});
// Launching "notes", opening an https address, and which of two names are installed.
// The program asked for a desktop it cannot reach: exit status 2, saying why.
void checkRefused(const std::string& platform, const std::string& why, const std::filesystem::path& data);

void checkApplicationsAndAddresses(QuibClient& phone, const std::filesystem::path& marks);
QuibAction action(QuibActionKind kind, std::optional<std::string> value = std::nullopt,
                  std::vector<std::string> modifiers = {});

}  // namespace quib::test
