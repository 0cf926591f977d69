// quib: a command-line phone for quibbleton. Pairs, remembers its computer, sends every request the
// protocol has, and keeps the user's catalog (snippets, sites, apps, widget buttons).
#include <unistd.h>

#include <iostream>

#include "client/CliCommands.h"
#include "text/Unicode.h"

namespace {

using namespace quib;

// Every text or name goes on the wire or into the shared store as JSON, which needs UTF-8; only
// file paths may be any bytes. The first argument that is not UTF-8, or none.
std::optional<int> firstNonUtf8Argument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-o" || arg == "--output" || arg == "--config-dir") {
      ++i;
      continue;
    }
    if (arg.starts_with("--output=") || arg.starts_with("--config-dir=")) continue;
    if (!Unicode::isValidUtf8(arg)) return i;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"quib: a command-line phone for quibbleton"};
  app.require_subcommand(1);
  app.fallthrough();  // global options may also follow the command (quib pair CODE --host H)
  CliOptions o;
  app.add_option("--host", o.host, "Computer to reach (default: the remembered one)");
  app.add_option("--port", o.port, "Its port (default: the remembered one, else 50913)")
      ->check(CLI::Range(1, 65535));
  app.add_option("--timeout", o.timeoutSeconds, "Seconds to wait for a reply")->check(CLI::PositiveNumber);
  app.add_option("--config-dir", o.configDir,
                 "Where quib keeps its state (default: $QUIB_CONFIG_DIR or ~/.config/quib)");

  CommandLine c;
  addRemoteCommands(app, c);
  addCatalogCommands(app, c);

  if (auto bad = firstNonUtf8Argument(argc, argv)) {
    std::cerr << "quib: " << *bad << "번째 인자가 UTF-8 글이 아닙니다" << std::endl;
    return CliError::usage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version print and end well; every other parse failure is a usage error.
    const int status = app.exit(e);
    return status == 0 ? 0 : CliError::usage;
  }
  if (!c.command) return CliError::usage;
  Quib q(o);
  try {
    return c.command(q);
  } catch (const CliError& e) {
    std::cerr << "quib: " << e.what() << std::endl;
    q.store().recordResult(e.what());
    return e.code;
  }
}
