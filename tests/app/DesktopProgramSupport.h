#pragma once
// What the program tests on a real desktop (X11 or Wayland) share: a shell to the desktop's own
// tools, polling an outside view, the desktop entries a launcher lists, and the phone's requests.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/QuibClient.h"

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
QuibAction action(QuibActionKind kind, std::optional<std::string> value = std::nullopt,
                  std::vector<std::string> modifiers = {});

}  // namespace quib::test
