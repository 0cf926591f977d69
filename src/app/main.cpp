// quibbleton: the desktop companion server. The main thread runs the main queue; the server runs
// its own queue; a signal thread turns SIGINT and SIGTERM into the quit command.
#include <pthread.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "actions/ActionExecutor.h"
#include "actions/ClipboardWatcher.h"
#include "app/AppDelegate.h"
#include "app/InstanceLock.h"
#include "app/StatusBarChoice.h"
#include "icons/DesktopQueries.h"
#include "platform/MainQueue.h"
#include "platform/SqliteDefaults.h"
#include "platform/tray/DesktopNotifier.h"
#include "platform/virtual/VirtualDesktop.h"
#include "server/QuibServer.h"

int main(int argc, char** argv) {
  CLI::App cli{"quibbleton: a desktop companion server for the Quibbleton phone button pad"};
  std::string platformName = "auto";
  int port = quib::QuibService::defaultPort;
  std::string dataDir;
  std::string virtualRoot;
  bool untrusted = false;
  bool exitOnEof = false;
  std::string menuName = "auto";
  cli.add_option("--platform", platformName, "Desktop backend: auto or virtual (auto: virtual for now)")
      ->check(CLI::IsMember({"auto", "virtual"}));
  cli.add_option("--menu", menuName,
                 "Where the status menu is shown: tray, terminal or auto (the tray when the panel has one)")
      ->check(CLI::IsMember({"auto", "tray", "terminal"}));
  cli.add_option("--port", port, "TCP port to listen on (0: any free port)")->check(CLI::Range(0, 65535));
  cli.add_option(
      "--data-dir", dataDir,
      "Where paired devices are kept (default: $QUIBBLETON_DATA_DIR, else $XDG_CONFIG_HOME/quibbleton)");
  cli.add_option("--virtual-root", virtualRoot,
                 "Folder standing for the virtual desktop's disk, with its Applications folders (default: "
                 "DATA-DIR/virtual-desktop)");
  cli.add_flag("--untrusted", untrusted,
               "The virtual desktop refuses synthetic input, as without permission");
  cli.add_flag("--exit-on-eof", exitOnEof, "Quit when standard input ends (otherwise keep serving)");
  CLI11_PARSE(cli, argc, argv);

  quib::InstanceLock instance(static_cast<std::uint16_t>(port));
  if (instance.outcome() != quib::InstanceLock::Outcome::acquired) {
    std::cerr << instance.message() << std::endl;
    return 2;
  }

  // Signals are taken by one thread with sigwait; block them before any other thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  const std::filesystem::path dir =
      dataDir.empty() ? quib::SqliteDefaults::defaultDirectory() : std::filesystem::path(dataDir);
  const std::filesystem::path root =
      virtualRoot.empty() ? dir / "virtual-desktop" : std::filesystem::path(virtualRoot);
  std::error_code ec;
  std::filesystem::create_directories(root, ec);

  quib::MainQueue mainQueue;
  quib::VirtualDesktop desktop(root);
  desktop.setTrusted(!untrusted);
  // Effects can come thousands a second: they are flushed when the main queue falls idle.
  desktop.setEffectObserver([](const std::string& effect) { std::cout << "효과: " << effect << '\n'; });
  mainQueue.setIdleHook([] { std::cout.flush(); });

  quib::DesktopNotifier notifier;
  quib::SqliteDefaults defaults(dir, "quibbleton");
  quib::ClipboardWatcher clipboard(desktop, mainQueue);
  // Outlives the server: the server answers queries through it until it stops.
  quib::DesktopQueries queries(desktop.platform(), clipboard);
  quib::QuibServer::Options options;
  options.port = static_cast<std::uint16_t>(port);
  quib::QuibServer server(desktop.platform(), defaults, mainQueue, options);
  quib::ActionExecutor executor(desktop.platform(), mainQueue);
  server.setActionPerformer(&executor);
  server.setQueryService(&queries);
  server.onDevicePaired = [&mainQueue, &notifier](const std::optional<std::string>& name) {
    mainQueue.post([&notifier, name] { notifier.devicePaired(name); });
  };

  auto quit = [&mainQueue] { mainQueue.stop(); };
  std::string menuError;
  auto statusBar = quib::StatusBarChoice::make(
      quib::StatusBarChoice::parse(menuName), mainQueue, std::cout, STDIN_FILENO, quit,
      [&] {
        if (exitOnEof) quit();
      },
      &menuError);
  if (!statusBar) {
    std::cerr << "quibbleton: " << menuError << std::endl;
    return 1;
  }
  quib::AppDelegate delegate(desktop.platform(), mainQueue, *statusBar, server, clipboard);

  std::thread([&mainQueue, signals] {
    int sig = 0;
    sigwait(&signals, &sig);
    mainQueue.post([&mainQueue] { mainQueue.stop(); });
  }).detach();

  delegate.applicationDidFinishLaunching();
  mainQueue.run();
  delegate.applicationWillTerminate();
  std::cout << "상태: 중지됨" << std::endl;
  return 0;
}
