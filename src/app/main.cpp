// quibbleton: the desktop companion server. The main thread runs the main queue; the server runs
// its own queue; a signal thread turns SIGINT and SIGTERM into the quit command.
#include <glib.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "actions/ActionExecutor.h"
#include "actions/ClipboardWatcher.h"
#include "app/AppDelegate.h"
#include "app/Backend.h"
#include "app/InstanceLock.h"
#include "app/StatusBarChoice.h"
#include "app/WindowActivation.h"
#include "icons/DesktopQueries.h"
#include "platform/MainQueue.h"
#include "platform/PrivateDirectory.h"
#include "platform/SqliteDefaults.h"
#include "platform/tray/DesktopNotifier.h"
#include "platform/window/StatusWindow.h"
#include "server/DeviceRegistry.h"
#include "server/QuibServer.h"
#include "text/DisplayText.h"

int main(int argc, char** argv) {
  // The desktop entry is quibbleton.desktop: windows say so in their class.
  g_set_prgname("quibbleton");
  CLI::App cli{"quibbleton: a desktop companion server for the Quibbleton phone button pad"};
  std::string platformName = "auto";
  int port = quib::QuibService::defaultPort;
  std::string dataDir;
  std::string virtualRoot;
  bool untrusted = false;
  bool exitOnEof = false;
  std::string commandKey;
  std::string mediaKeys = "keys";
  cli.add_option("--platform", platformName,
                 "Desktop backend: linux (the X11 session on $DISPLAY), wayland (the Wayland session on "
                 "$WAYLAND_DISPLAY), virtual (in memory, effects printed) or auto (wayland in a Wayland "
                 "session, else linux when an X display opens, else virtual)")
      ->check(CLI::IsMember({"auto", "virtual", "linux", "wayland"}));
  cli.add_option(
         "--command-key", commandKey,
         "What the phone's command key presses: control (default) or super; remembered for later starts")
      ->check(CLI::IsMember({"control", "super"}));
  cli.add_option("--media-keys", mediaKeys,
                 "Volume buttons: keys (the desktop's volume keys, default) or pulse (PulseAudio's default "
                 "output directly, for sessions without a volume-key handler)")
      ->check(CLI::IsMember({"keys", "pulse"}));
  std::string menuName = "auto";
  cli.add_option(
         "--menu", menuName,
         "Where the status menu is shown: tray, window, terminal or auto (the tray whenever the panel "
         "has one, else a window when there is a display, else the terminal)")
      ->check(CLI::IsMember({"auto", "tray", "window", "terminal"}));
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
    // Started again (the desktop entry, say) while serving: the running one shows its window.
    if (instance.outcome() == quib::InstanceLock::Outcome::alreadyRunning &&
        quib::WindowActivation::activateRunning(nullptr)) {
      std::cerr << instance.message() << "; its window is shown" << std::endl;
      return 0;
    }
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
  // Every connection is a descriptor: take all the system allows this process (not what it starts).
  const quib::ChildLimits childLimits = quib::ChildLimits::raiseOwnDescriptorLimit();

  const std::filesystem::path dir =
      dataDir.empty() ? quib::SqliteDefaults::defaultDirectory() : std::filesystem::path(dataDir);
  const std::filesystem::path root =
      virtualRoot.empty() ? dir / "virtual-desktop" : std::filesystem::path(virtualRoot);
  // Before anything is written there: it holds every paired phone's token.
  quib::makePrivateDirectory(dir);
  std::error_code ec;
  std::filesystem::create_directories(root, ec);

  // GTK, GIO and PulseAudio dispatch on the default context: the main queue runs on it too.
  quib::MainQueue mainQueue(quib::SteadyClock::instance(), g_main_context_default());
  mainQueue.setIdleHook([] { std::cout.flush(); });

  quib::DesktopNotifier notifier;
  quib::SqliteDefaults defaults(dir, "quibbleton");
  // The command key is a choice the user makes once.
  if (!commandKey.empty())
    defaults.setString("commandKey", commandKey);
  else if (auto stored = defaults.string("commandKey"); stored == "super" || stored == "control")
    commandKey = *stored;
  else
    commandKey = "control";

  quib::BackendOptions backendOptions{platformName, commandKey, mediaKeys, untrusted, root, dir, childLimits};
  auto backend = quib::chooseBackend(backendOptions, std::cout, std::cerr);
  if (!backend) return 2;
  backend->printEffects(std::cout);
  const quib::Platform desktop = backend->platform();
  quib::ClipboardWatcher clipboard(desktop.pasteboard, mainQueue);
  // Outlives the server: the server answers queries through it until it stops.
  quib::DesktopQueries queries(desktop, clipboard);
  quib::QuibServer::Options options;
  options.port = static_cast<std::uint16_t>(port);
  quib::QuibServer server(desktop, defaults, mainQueue, options);
  quib::ActionExecutor executor(desktop, mainQueue);
  server.setActionPerformer(&executor);
  server.setQueryService(&queries);
  server.onDevicePaired = [&mainQueue, &notifier](const std::optional<std::string>& name) {
    // The name is the phone's own choice: no control characters reach the notification.
    std::optional<std::string> shown;
    if (name) shown = quib::displaySafe(*name);
    mainQueue.post([&notifier, shown] { notifier.devicePaired(shown); });
  };

  auto quit = [&mainQueue] { mainQueue.stop(); };
  quib::StatusBarChoice::Options menuOptions;
  menuOptions.mode = quib::StatusBarChoice::parse(menuName);
  menuOptions.out = &std::cout;
  menuOptions.inputFd = STDIN_FILENO;
  // The code stays out of logs (a service manager's journal) unless standard output is a terminal, or
  // the user chose the in-memory desktop, which prints every effect there, typed text included.
  menuOptions.codeOnOut = isatty(STDOUT_FILENO) == 1 || platformName == "virtual";
  menuOptions.nothingPaired = quib::DeviceRegistry(defaults).tokens().empty();
  menuOptions.onQuit = quit;
  menuOptions.onEndOfInput = [&] {
    if (exitOnEof) quit();
  };
  std::string menuError;
  auto menu = quib::StatusBarChoice::make(mainQueue, std::move(menuOptions), &menuError);
  if (!menu.bar) {
    std::cerr << "quibbleton: " << menuError << std::endl;
    return 1;
  }
  quib::AppDelegate delegate(desktop, mainQueue, *menu.bar, server, clipboard);
  std::optional<quib::WindowActivation> activation;
  if (menu.window) activation.emplace([window = menu.window] { window->present(); });

  std::thread([&mainQueue, signals] {
    int sig = 0;
    sigwait(&signals, &sig);
    mainQueue.post([&mainQueue] { mainQueue.stop(); });
    // A second signal while the first is being served ends the program at once.
    sigwait(&signals, &sig);
    _exit(128 + sig);
  }).detach();

  delegate.applicationDidFinishLaunching();
  if (menu.openWindow) menu.window->present();
  mainQueue.run();
  queries.cancelAll();  // searches in flight must not hold up the exit
  // Quitting takes at most a second, whatever is still in flight (registry writes are
  // transactions, so ending here loses nothing that was acknowledged).
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    constexpr char kStopped[] = "상태: 중지됨\n";
    (void)!write(STDOUT_FILENO, kStopped, sizeof kStopped - 1);
    _exit(0);
  }).detach();
  delegate.applicationWillTerminate();
  backend->willQuit();
  std::cout << "상태: 중지됨" << std::endl;
  return 0;
}
