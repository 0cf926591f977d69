#include <fstream>
#include <iostream>

#include "client/CliCommands.h"
#include "client/Discovery.h"
#include "crypto/Base64.h"
#include "server/QuibCodec.h"
#include "server/QuibService.h"

namespace quib {

QuibAction makeAction(QuibActionKind kind, std::optional<std::string> value) {
  QuibAction a;
  a.kind = kind;
  a.value = std::move(value);
  return a;
}

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

void addRemoteCommands(CLI::App& app, CommandLine& c) {
  // Finding and pairing
  auto* discover = app.add_subcommand("discover", "List computers that advertise quibbleton nearby");
  discover->add_option("--seconds", c.seconds, "How long to look")->check(CLI::PositiveNumber);
  c.on(discover, [&](Quib&) {
    auto r = discoverServices(std::string(QuibService::bonjourType),
                              std::chrono::milliseconds(static_cast<long long>(c.seconds * 1000)));
    if (r.error) throw CliError(CliError::unreachable, *r.error);
    for (const auto& s : r.services)
      std::cout << s.name << "\t" << s.host << "\t" << s.address << "\t" << s.port << "\n";
    if (r.services.empty()) std::cout << "찾은 컴퓨터가 없습니다\n";
    return 0;
  });

  auto* pair = app.add_subcommand("pair", "Pair with the six-digit code the computer shows");
  pair->add_option("CODE", c.code, "The pairing code")->required();
  pair->add_option("--name", c.deviceName, "This device's name as the computer lists it");
  c.on(pair, [&](Quib& q) {
    auto reply = q.session().pair(c.code, c.deviceName);
    return q.finish("페어링됨: " + q.store().macName().value_or(q.session().host()), true);
  });

  auto* status = app.add_subcommand("status", "Show the remembered computer and the last result");
  c.on(status, [&](Quib& q) {
    const auto& s = q.store();
    std::cout << "컴퓨터: " << s.macName().value_or("(없음)") << "\n"
              << "주소: " << s.lastHost().value_or("(없음)") << ":" << s.lastPort() << "\n"
              << "페어링: " << (s.token() ? "됨" : "안 됨") << "\n"
              << "연결: " << (s.connectionPaused() ? "일시 중지" : "사용") << "\n";
    if (auto r = s.lastResult()) std::cout << "마지막 결과: " << r->text << "\n";
    return 0;
  });
  c.on(app.add_subcommand("pause", "Stop quib from connecting"), [&](Quib& q) {
    q.store().setConnectionPaused(true);
    std::cout << "연결을 일시 중지했습니다\n";
    return 0;
  });
  c.on(app.add_subcommand("resume", "Let quib connect again"), [&](Quib& q) {
    q.store().setConnectionPaused(false);
    std::cout << "연결을 다시 켰습니다\n";
    return 0;
  });

  // Actions
  auto* keyCmd = app.add_subcommand("key", "Press a key, optionally with modifiers");
  keyCmd->add_option("KEY", c.key, "Key name (a-z, 0-9, return, tab, space, delete, escape, arrows)")
      ->required();
  keyCmd->add_option("--mod", c.mods, "Modifier: command, shift, option, control (repeatable)");
  c.on(keyCmd, [&](Quib& q) {
    auto a = makeAction(QuibActionKind::keystroke, c.key);
    a.modifiers = c.mods;
    return q.action(a);
  });

  auto* type = app.add_subcommand("type", "Type text into the front application");
  type->add_option("TEXT", c.text)->required();
  c.on(type, [&](Quib& q) { return q.action(makeAction(QuibActionKind::typeText, c.text)); });

  auto* volume = app.add_subcommand("volume", "Volume up, down or mute");
  volume->add_option("WHAT", c.volumeWhat)->required()->check(CLI::IsMember({"up", "down", "mute"}));
  c.on(volume, [&](Quib& q) {
    return q.action(makeAction(c.volumeWhat == "up"     ? QuibActionKind::volumeUp
                               : c.volumeWhat == "down" ? QuibActionKind::volumeDown
                                                        : QuibActionKind::mute));
  });

  auto* output = app.add_subcommand("output", "Switch the audio output");
  output->add_option("WHAT", c.outputWhat)->required()->check(CLI::IsMember({"next"}));
  c.on(output, [&](Quib& q) { return q.action(makeAction(QuibActionKind::audioOutputNext)); });

  c.on(app.add_subcommand("shot", "Start a region screenshot"),
       [&](Quib& q) { return q.action(makeAction(QuibActionKind::screenshotRegion)); });

  auto* pointer = app.add_subcommand("pointer", "Move, scroll, click or drag the pointer");
  pointer->require_subcommand(1);
  for (const char* name : {"move", "scroll"}) {
    auto* sub = pointer->add_subcommand(name, std::string(name) + " by DX DY");
    sub->add_option("DX", c.dx)->required();
    sub->add_option("DY", c.dy)->required();
    const bool move = std::string(name) == "move";
    c.on(sub, [&c, move](Quib& q) {
      auto a = makeAction(move ? QuibActionKind::pointerMove : QuibActionKind::pointerScroll);
      a.dx = c.dx;
      a.dy = c.dy;
      return q.action(a);
    });
  }
  auto* click = pointer->add_subcommand("click", "Click: left, right or double");
  click->add_option("BUTTON", c.button)->check(CLI::IsMember({"left", "right", "double"}));
  c.on(click, [&](Quib& q) { return q.action(makeAction(QuibActionKind::pointerClick, c.button)); });
  c.on(pointer->add_subcommand("down", "Press the left button (start a drag)"),
       [&](Quib& q) { return q.action(makeAction(QuibActionKind::pointerDown)); });
  c.on(pointer->add_subcommand("up", "Release the left button (end a drag)"),
       [&](Quib& q) { return q.action(makeAction(QuibActionKind::pointerUp)); });

  auto* open = app.add_subcommand("open", "Open an address");
  open->add_option("URL", c.url)->required();
  c.on(open, [&](Quib& q) {
    auto a = makeAction(QuibActionKind::openURL);
    a.url = c.url;
    return q.action(a);
  });
  auto* site = app.add_subcommand("site", "Open a web site, or its application with --app");
  site->add_option("URL", c.url)->required();
  site->add_option("--app", c.appName, "Application tried first");
  c.on(site, [&](Quib& q) {
    auto a =
        makeAction(QuibActionKind::openSite, c.appName.empty() ? std::nullopt : std::optional(c.appName));
    a.url = c.url;
    if (!c.appName.empty()) a.preferApp = true;
    return q.action(a);
  });
  auto* launch = app.add_subcommand("launch", "Launch an application by name or bundle identifier");
  launch->add_option("NAME", c.appName)->required();
  c.on(launch, [&](Quib& q) { return q.action(makeAction(QuibActionKind::launchApp, c.appName)); });

  // Clipboard
  auto* clip = app.add_subcommand("clip", "Set the clipboard or read its history");
  clip->require_subcommand(1);
  auto* clipSet = clip->add_subcommand("set", "Put text on the clipboard");
  clipSet->add_option("TEXT", c.text)->required();
  c.on(clipSet, [&](Quib& q) { return q.action(makeAction(QuibActionKind::setClipboard, c.text)); });
  c.on(clip->add_subcommand("history", "Recent clipboard texts, newest first"), [&](Quib& q) {
    ClientMessage m;
    m.type = ClientMessage::Kind::clipboard;
    auto reply = q.query(m);
    listLines(reply.clipboardItems.value_or(std::vector<std::string>{}));
    return q.finish(std::to_string(reply.clipboardItems ? reply.clipboardItems->size() : 0) + "개",
                    reply.ok == true);
  });

  // Queries
  auto* apps = app.add_subcommand("apps", "List installed applications, or check some with --check");
  apps->add_option("--check", c.check, "Names to check (repeatable)");
  c.on(apps, [&](Quib& q) {
    ClientMessage m;
    m.type = c.check.empty() ? ClientMessage::Kind::appList : ClientMessage::Kind::appCheck;
    if (!c.check.empty()) m.appNames = c.check;
    auto reply = q.query(m);
    listLines(reply.installedApps.value_or(std::vector<std::string>{}));
    return q.finish(std::to_string(reply.installedApps ? reply.installedApps->size() : 0) + "개",
                    reply.ok == true);
  });

  auto* icon = app.add_subcommand("icon", "Save an application's or a web site's icon as PNG");
  icon->require_subcommand(1);
  auto* iconApp = icon->add_subcommand("app", "An application's icon");
  iconApp->add_option("NAME", c.appName)->required();
  iconApp->add_option("--size", c.size, "Edge length in pixels")->check(CLI::Range(1, 4096));
  iconApp->add_option("-o,--output", c.outPath, "PNG file to write")->required();
  c.on(iconApp, [&](Quib& q) {
    ClientMessage m;
    m.type = ClientMessage::Kind::appIcon;
    m.appName = c.appName;
    m.iconSize = c.size;
    return saveIcon(q, q.query(m), c.outPath);
  });
  auto* iconSite = icon->add_subcommand("site", "A web site's icon");
  iconSite->add_option("URL", c.url)->required();
  iconSite->add_option("-o,--output", c.outPath, "PNG file to write")->required();
  c.on(iconSite, [&](Quib& q) {
    ClientMessage m;
    m.type = ClientMessage::Kind::siteIcon;
    m.url = c.url;
    return saveIcon(q, q.query(m, true), c.outPath);
  });
}

}  // namespace quib
