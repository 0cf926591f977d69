// quib: a command-line phone for quibbleton. Pairs, remembers its computer, sends every request the
// protocol has, and keeps the user's catalog (snippets, sites, apps, widget buttons).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>

#include "client/Discovery.h"
#include "client/PhoneSession.h"
#include "crypto/Base64.h"
#include "crypto/Random.h"
#include "server/QuibCodec.h"
#include "server/QuibService.h"
#include "shared/CatalogStores.h"
#include "text/Unicode.h"

namespace {

using namespace quib;

struct Options {
  std::string host;
  int port = 0;
  double timeoutSeconds = 10;
  std::string configDir;
};

QuibAction makeAction(QuibActionKind kind, std::optional<std::string> value = std::nullopt) {
  QuibAction a;
  a.kind = kind;
  a.value = std::move(value);
  return a;
}

class Quib {
 public:
  explicit Quib(const Options& o)
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
  static PhoneSession::Target target(const Options& o) {
    PhoneSession::Target t;
    if (!o.host.empty()) t.host = o.host;
    if (o.port > 0) t.port = static_cast<std::uint16_t>(o.port);
    t.timeout = std::chrono::milliseconds(static_cast<long long>(o.timeoutSeconds * 1000));
    return t;
  }

  QuibSharedStore store_;
  PhoneSession session_;
};

int saveIcon(Quib& q, const ServerMessage& reply, const std::string& path) {
  if (reply.ok != true || !reply.iconPNGBase64) return q.finish("아이콘을 찾지 못했습니다", false);
  auto png = Base64::decode(*reply.iconPNGBase64);
  if (!png) return q.finish("아이콘 데이터가 올바르지 않습니다", false);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
  if (!f) return q.finish("파일에 쓸 수 없습니다: " + path, false);
  return q.finish("저장함: " + path + " (" + std::to_string(png->size()) + " bytes)", true);
}

void listLines(const std::vector<std::string>& lines) {
  for (const auto& l : lines) std::cout << l << "\n";
}

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
  Options o;
  app.add_option("--host", o.host, "Computer to reach (default: the remembered one)");
  app.add_option("--port", o.port, "Its port (default: the remembered one, else 50913)")
      ->check(CLI::Range(1, 65535));
  app.add_option("--timeout", o.timeoutSeconds, "Seconds to wait for a reply")->check(CLI::PositiveNumber);
  app.add_option("--config-dir", o.configDir,
                 "Where quib keeps its state (default: $QUIB_CONFIG_DIR or ~/.config/quib)");

  std::function<int(Quib&)> command;
  auto on = [&](CLI::App* sub, std::function<int(Quib&)> body) {
    sub->callback([&command, body] { command = body; });
  };

  // Finding and pairing
  double seconds = 3;
  auto* discover = app.add_subcommand("discover", "List computers that advertise quibbleton nearby");
  discover->add_option("--seconds", seconds, "How long to look")->check(CLI::PositiveNumber);
  on(discover, [&](Quib&) {
    auto r = discoverServices(std::string(QuibService::bonjourType),
                              std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
    if (r.error) throw CliError(CliError::unreachable, *r.error);
    for (const auto& s : r.services)
      std::cout << s.name << "\t" << s.host << "\t" << s.address << "\t" << s.port << "\n";
    if (r.services.empty()) std::cout << "찾은 컴퓨터가 없습니다\n";
    return 0;
  });

  std::string code, deviceName = "quib";
  auto* pair = app.add_subcommand("pair", "Pair with the six-digit code the computer shows");
  pair->add_option("CODE", code, "The pairing code")->required();
  pair->add_option("--name", deviceName, "This device's name as the computer lists it");
  on(pair, [&](Quib& q) {
    auto reply = q.session().pair(code, deviceName);
    return q.finish("페어링됨: " + q.store().macName().value_or(q.session().host()), true);
  });

  auto* status = app.add_subcommand("status", "Show the remembered computer and the last result");
  on(status, [&](Quib& q) {
    const auto& s = q.store();
    std::cout << "컴퓨터: " << s.macName().value_or("(없음)") << "\n"
              << "주소: " << s.lastHost().value_or("(없음)") << ":" << s.lastPort() << "\n"
              << "페어링: " << (s.token() ? "됨" : "안 됨") << "\n"
              << "연결: " << (s.connectionPaused() ? "일시 중지" : "사용") << "\n";
    if (auto r = s.lastResult()) std::cout << "마지막 결과: " << r->text << "\n";
    return 0;
  });
  on(app.add_subcommand("pause", "Stop quib from connecting"), [&](Quib& q) {
    q.store().setConnectionPaused(true);
    std::cout << "연결을 일시 중지했습니다\n";
    return 0;
  });
  on(app.add_subcommand("resume", "Let quib connect again"), [&](Quib& q) {
    q.store().setConnectionPaused(false);
    std::cout << "연결을 다시 켰습니다\n";
    return 0;
  });

  // Actions
  std::string key;
  std::vector<std::string> mods;
  auto* keyCmd = app.add_subcommand("key", "Press a key, optionally with modifiers");
  keyCmd->add_option("KEY", key, "Key name (a-z, 0-9, return, tab, space, delete, escape, arrows)")
      ->required();
  keyCmd->add_option("--mod", mods, "Modifier: command, shift, option, control (repeatable)");
  on(keyCmd, [&](Quib& q) {
    auto a = makeAction(QuibActionKind::keystroke, key);
    a.modifiers = mods;
    return q.action(a);
  });

  std::string text;
  auto* type = app.add_subcommand("type", "Type text into the front application");
  type->add_option("TEXT", text)->required();
  on(type, [&](Quib& q) { return q.action(makeAction(QuibActionKind::typeText, text)); });

  std::string volumeWhat;
  auto* volume = app.add_subcommand("volume", "Volume up, down or mute");
  volume->add_option("WHAT", volumeWhat)->required()->check(CLI::IsMember({"up", "down", "mute"}));
  on(volume, [&](Quib& q) {
    return q.action(makeAction(volumeWhat == "up"     ? QuibActionKind::volumeUp
                               : volumeWhat == "down" ? QuibActionKind::volumeDown
                                                      : QuibActionKind::mute));
  });

  std::string outputWhat;
  auto* output = app.add_subcommand("output", "Switch the audio output");
  output->add_option("WHAT", outputWhat)->required()->check(CLI::IsMember({"next"}));
  on(output, [&](Quib& q) { return q.action(makeAction(QuibActionKind::audioOutputNext)); });

  on(app.add_subcommand("shot", "Start a region screenshot"),
     [&](Quib& q) { return q.action(makeAction(QuibActionKind::screenshotRegion)); });

  auto* pointer = app.add_subcommand("pointer", "Move, scroll, click or drag the pointer");
  pointer->require_subcommand(1);
  double dx = 0, dy = 0;
  for (const char* name : {"move", "scroll"}) {
    auto* sub = pointer->add_subcommand(name, std::string(name) + " by DX DY");
    sub->add_option("DX", dx)->required();
    sub->add_option("DY", dy)->required();
    const bool move = std::string(name) == "move";
    on(sub, [&, move](Quib& q) {
      auto a = makeAction(move ? QuibActionKind::pointerMove : QuibActionKind::pointerScroll);
      a.dx = dx;
      a.dy = dy;
      return q.action(a);
    });
  }
  std::string button = "left";
  auto* click = pointer->add_subcommand("click", "Click: left, right or double");
  click->add_option("BUTTON", button)->check(CLI::IsMember({"left", "right", "double"}));
  on(click, [&](Quib& q) { return q.action(makeAction(QuibActionKind::pointerClick, button)); });
  on(pointer->add_subcommand("down", "Press the left button (start a drag)"),
     [&](Quib& q) { return q.action(makeAction(QuibActionKind::pointerDown)); });
  on(pointer->add_subcommand("up", "Release the left button (end a drag)"),
     [&](Quib& q) { return q.action(makeAction(QuibActionKind::pointerUp)); });

  std::string url, appName;
  auto* open = app.add_subcommand("open", "Open an address");
  open->add_option("URL", url)->required();
  on(open, [&](Quib& q) {
    auto a = makeAction(QuibActionKind::openURL);
    a.url = url;
    return q.action(a);
  });
  auto* site = app.add_subcommand("site", "Open a web site, or its application with --app");
  site->add_option("URL", url)->required();
  site->add_option("--app", appName, "Application tried first");
  on(site, [&](Quib& q) {
    auto a = makeAction(QuibActionKind::openSite, appName.empty() ? std::nullopt : std::optional(appName));
    a.url = url;
    if (!appName.empty()) a.preferApp = true;
    return q.action(a);
  });
  auto* launch = app.add_subcommand("launch", "Launch an application by name or bundle identifier");
  launch->add_option("NAME", appName)->required();
  on(launch, [&](Quib& q) { return q.action(makeAction(QuibActionKind::launchApp, appName)); });

  // Clipboard
  auto* clip = app.add_subcommand("clip", "Set the clipboard or read its history");
  clip->require_subcommand(1);
  auto* clipSet = clip->add_subcommand("set", "Put text on the clipboard");
  clipSet->add_option("TEXT", text)->required();
  on(clipSet, [&](Quib& q) { return q.action(makeAction(QuibActionKind::setClipboard, text)); });
  on(clip->add_subcommand("history", "Recent clipboard texts, newest first"), [&](Quib& q) {
    ClientMessage m;
    m.type = ClientMessage::Kind::clipboard;
    auto reply = q.query(m);
    listLines(reply.clipboardItems.value_or(std::vector<std::string>{}));
    return q.finish(std::to_string(reply.clipboardItems ? reply.clipboardItems->size() : 0) + "개",
                    reply.ok == true);
  });

  // Queries
  std::vector<std::string> check;
  auto* apps = app.add_subcommand("apps", "List installed applications, or check some with --check");
  apps->add_option("--check", check, "Names to check (repeatable)");
  on(apps, [&](Quib& q) {
    ClientMessage m;
    m.type = check.empty() ? ClientMessage::Kind::appList : ClientMessage::Kind::appCheck;
    if (!check.empty()) m.appNames = check;
    auto reply = q.query(m);
    listLines(reply.installedApps.value_or(std::vector<std::string>{}));
    return q.finish(std::to_string(reply.installedApps ? reply.installedApps->size() : 0) + "개",
                    reply.ok == true);
  });

  auto* icon = app.add_subcommand("icon", "Save an application's or a web site's icon as PNG");
  icon->require_subcommand(1);
  std::string outPath;
  int size = 256;
  auto* iconApp = icon->add_subcommand("app", "An application's icon");
  iconApp->add_option("NAME", appName)->required();
  iconApp->add_option("--size", size, "Edge length in pixels")->check(CLI::Range(1, 4096));
  iconApp->add_option("-o,--output", outPath, "PNG file to write")->required();
  on(iconApp, [&](Quib& q) {
    ClientMessage m;
    m.type = ClientMessage::Kind::appIcon;
    m.appName = appName;
    m.iconSize = size;
    return saveIcon(q, q.query(m), outPath);
  });
  auto* iconSite = icon->add_subcommand("site", "A web site's icon");
  iconSite->add_option("URL", url)->required();
  iconSite->add_option("-o,--output", outPath, "PNG file to write")->required();
  on(iconSite, [&](Quib& q) {
    ClientMessage m;
    m.type = ClientMessage::Kind::siteIcon;
    m.url = url;
    return saveIcon(q, q.query(m, true), outPath);
  });

  // The user's catalog
  std::string title, id;
  bool toClipboard = false;
  auto* snippet = app.add_subcommand("snippet", "Text snippets");
  snippet->require_subcommand(1);
  auto* snippetAdd = snippet->add_subcommand("add", "Add a snippet");
  snippetAdd->add_option("TITLE", title)->required();
  snippetAdd->add_option("TEXT", text)->required();
  snippetAdd->add_flag("--clipboard", toClipboard, "Put the text on the clipboard instead of typing it");
  on(snippetAdd, [&](Quib& q) {
    Snippet s{Random::uuidString(), title, text, toClipboard};
    SnippetStore(q.store()).upsert(s);
    std::cout << s.catalogID() << "\n";
    return 0;
  });
  on(snippet->add_subcommand("list", "List snippets"), [&](Quib& q) {
    for (const auto& s : SnippetStore(q.store()).all())
      std::cout << s.id << "\t" << s.title << "\t" << (s.toClipboard ? "clipboard" : "type") << "\t" << s.text
                << "\n";
    return 0;
  });
  auto findSnippet = [&](Quib& q) {
    auto wanted = canonicalUuid(id);
    for (const auto& s : SnippetStore(q.store()).all())
      if (wanted && s.id == *wanted) return s;
    throw CliError(CliError::usage, "그런 스니펫이 없습니다: " + id);
  };
  auto* snippetRun = snippet->add_subcommand("run", "Send a snippet to the computer");
  snippetRun->add_option("ID", id)->required();
  on(snippetRun, [&](Quib& q) { return q.action(findSnippet(q).action()); });
  auto* snippetDelete = snippet->add_subcommand("delete", "Delete a snippet");
  snippetDelete->add_option("ID", id)->required();
  on(snippetDelete, [&](Quib& q) {
    SnippetStore(q.store()).remove(findSnippet(q));
    return 0;
  });

  auto* sites = app.add_subcommand("sites", "Custom web sites");
  sites->require_subcommand(1);
  auto* sitesAdd = sites->add_subcommand("add", "Add a site");
  sitesAdd->add_option("TITLE", title)->required();
  sitesAdd->add_option("URL", url)->required();
  on(sitesAdd, [&](Quib& q) {
    CustomSite s{Random::uuidString(), title, url};
    CustomSiteStore(q.store()).upsert(s);
    std::cout << s.catalogID() << "\n";
    return 0;
  });
  on(sites->add_subcommand("list", "List sites"), [&](Quib& q) {
    for (const auto& s : CustomSiteStore(q.store()).all())
      std::cout << s.id << "\t" << s.title << "\t" << s.url << "\n";
    return 0;
  });
  auto* sitesDelete = sites->add_subcommand("delete", "Delete a site");
  sitesDelete->add_option("ID", id)->required();
  on(sitesDelete, [&](Quib& q) {
    auto wanted = canonicalUuid(id);
    if (!wanted) throw CliError(CliError::usage, "ID가 올바르지 않습니다: " + id);
    CustomSiteStore(q.store()).remove(*wanted);
    return 0;
  });

  auto* myapps = app.add_subcommand("myapps", "Custom application names");
  myapps->require_subcommand(1);
  auto* myappsAdd = myapps->add_subcommand("add", "Add an application name");
  myappsAdd->add_option("NAME", appName)->required();
  on(myappsAdd, [&](Quib& q) {
    CustomAppStore(q.store()).add(appName);
    return 0;
  });
  on(myapps->add_subcommand("list", "List application names"), [&](Quib& q) {
    listLines(CustomAppStore(q.store()).all());
    return 0;
  });

  std::vector<std::string> widgetIds;
  auto* widget = app.add_subcommand("widget", "Show or set the widget's buttons");
  auto* widgetSet = widget->add_subcommand("set", "Set the widget's buttons, in order");
  widgetSet->add_option("ID", widgetIds);
  widget->callback([&] {
    if (widget->got_subcommand(widgetSet)) return;  // its own callback has chosen the command
    command = [](Quib& q) {
      listLines(q.store().widgetButtonIDs());
      return 0;
    };
  });
  on(widgetSet, [&](Quib& q) {
    q.store().setWidgetButtonIDs(widgetIds);
    listLines(q.store().widgetButtonIDs());
    return 0;
  });

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
  if (!command) return CliError::usage;
  Quib q(o);
  try {
    return command(q);
  } catch (const CliError& e) {
    std::cerr << "quib: " << e.what() << std::endl;
    q.store().recordResult(e.what());
    return e.code;
  }
}
