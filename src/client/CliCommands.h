#pragma once
// The command-line phone's commands: each one a subcommand of the parser that, once parsed, leaves
// in CommandLine::command what to run against the remembered computer. Runs on the only thread.
#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>

#include "client/PhoneSession.h"
#include "server/QuibAction.h"
#include "shared/QuibSharedStore.h"

namespace quib {

struct CliOptions {
  std::string host;
  int port = 0;
  double timeoutSeconds = 10;
  std::string configDir;
};

// One run of quib: the shared store and the session to the computer.
class Quib {
 public:
  explicit Quib(const CliOptions& o)
      : store_(o.configDir.empty() ? QuibSharedStore::defaultDirectory()
                                   : std::filesystem::path(o.configDir)),
        session_(store_, target(o)) {}

  const QuibSharedStore& store() const { return store_; }
  PhoneSession& session() { return session_; }

  // Prints the text, records it as the last result and answers the exit status.
  int finish(const std::string& text, bool ok) {
    (ok ? std::cout : std::cerr) << text << std::endl;
    store_.recordResult(text);
    return ok ? 0 : CliError::refused;
  }

  int action(const QuibAction& a) {
    ClientMessage m;
    m.type = ClientMessage::Kind::action;
    m.action = a;
    auto reply = session_.request(m);
    std::string text = reply.message.value_or("");
    if (text.empty()) text = reply.ok == true ? "완료" : "실패";
    return finish(text, reply.ok == true);
  }

  ServerMessage query(ClientMessage m, bool showProgress = false) {
    std::function<void()> progress;
    if (showProgress && isatty(STDERR_FILENO)) progress = [] { std::cerr << "." << std::flush; };
    auto reply = session_.request(std::move(m), progress);
    if (progress) std::cerr << "\n";
    return reply;
  }

 private:
  static PhoneSession::Target target(const CliOptions& o) {
    PhoneSession::Target t;
    if (!o.host.empty()) t.host = o.host;
    if (o.port > 0) t.port = static_cast<std::uint16_t>(o.port);
    t.timeout = std::chrono::milliseconds(static_cast<long long>(o.timeoutSeconds * 1000));
    return t;
  }

  QuibSharedStore store_;
  PhoneSession session_;
};

QuibAction makeAction(QuibActionKind kind, std::optional<std::string> value = std::nullopt);
int saveIcon(Quib& q, const ServerMessage& reply, const std::string& path);
void listLines(const std::vector<std::string>& lines);

// The parsed command, and the arguments the commands' options write into: they live as long as the
// parser, since CLI11 keeps pointers to them.
struct CommandLine {
  std::function<int(Quib&)> command;
  std::string text, key, url, appName, title, id, code, deviceName = "quib";
  std::string volumeWhat, outputWhat, button = "left", outPath;
  std::vector<std::string> mods, check, widgetIds;
  double seconds = 3, dx = 0, dy = 0;
  int size = 256;
  bool toClipboard = false;

  void on(CLI::App* sub, std::function<int(Quib&)> body) {
    sub->callback([this, body] { command = body; });
  }
};

// Finding, pairing, actions, the clipboard and the queries.
void addRemoteCommands(CLI::App& app, CommandLine& c);
// The user's catalog: snippets, sites, application names, the widget's buttons.
void addCatalogCommands(CLI::App& app, CommandLine& c);

}  // namespace quib
