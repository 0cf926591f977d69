// quibbleton: the desktop companion server. The main thread runs the main queue; the server runs
// its own queue; a signal thread turns SIGINT and SIGTERM into an orderly quit.
#include <pthread.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "actions/ActionExecutor.h"
#include "actions/ClipboardWatcher.h"
#include "platform/MainQueue.h"
#include "platform/SqliteDefaults.h"
#include "platform/virtual/VirtualDesktop.h"
#include "server/QuibServer.h"

namespace {

// Effects can come thousands a second; they are flushed when the main queue falls idle, while
// state lines, which people and scripts wait for, are flushed at once.
void printLine(const std::string& text, bool flush = true) {
  std::cout << text << '\n';
  if (flush) std::cout.flush();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App cli{"quibbleton: a desktop companion server for the Quibbleton phone button pad"};
  std::string platformName = "auto";
  int port = quib::QuibService::defaultPort;
  std::string dataDir;
  bool untrusted = false;
  cli.add_option("--platform", platformName, "Desktop backend: auto or virtual")
      ->check(CLI::IsMember({"auto", "virtual"}));
  cli.add_option("--port", port, "TCP port to listen on (0: any free port)")->check(CLI::Range(0, 65535));
  cli.add_option("--data-dir", dataDir,
                 "Where paired devices are kept (default: $XDG_CONFIG_HOME/quibbleton)");
  cli.add_flag("--untrusted", untrusted,
               "The virtual desktop refuses synthetic input (as without permission)");
  CLI11_PARSE(cli, argc, argv);

  // Signals are taken by one thread with sigwait; block them before any other thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  quib::MainQueue mainQueue;
  quib::VirtualDesktop desktop;
  desktop.setTrusted(!untrusted);
  desktop.setEffectObserver([](const std::string& effect) { printLine("효과: " + effect, false); });
  mainQueue.setIdleHook([] { std::cout.flush(); });

  const std::filesystem::path dir =
      dataDir.empty() ? quib::SqliteDefaults::defaultDirectory() : std::filesystem::path(dataDir);
  quib::SqliteDefaults defaults(dir, "quibbleton");

  quib::QuibServer::Options options;
  options.port = static_cast<std::uint16_t>(port);
  auto server = std::make_unique<quib::QuibServer>(desktop.platform(), defaults, mainQueue, options);
  quib::ActionExecutor executor(desktop.platform(), mainQueue);
  server->setActionPerformer(&executor);
  quib::ClipboardWatcher clipboard(desktop, mainQueue);
  clipboard.start();
  server->onStateChange = [&mainQueue](const std::string& text) {
    mainQueue.post([text] { printLine("상태: " + text); });
  };
  server->onClientCountChange = [](int count) { printLine("연결된 기기: " + std::to_string(count)); };

  std::thread([&mainQueue, signals] {
    int sig = 0;
    sigwait(&signals, &sig);
    mainQueue.post([&mainQueue] { mainQueue.stop(); });
  }).detach();

  server->start();
  printLine("페어링 코드:  " + server->pairingCode());
  mainQueue.run();
  server->stop();
  mainQueue.runUntilIdle();  // the last state and count
  server.reset();
  return 0;
}
