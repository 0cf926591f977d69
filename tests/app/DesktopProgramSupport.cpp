#include "DesktopProgramSupport.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "support/TempDir.h"
#include "support/TestServer.h"

namespace quib::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

bool eventually(const std::function<bool()>& f) {
  for (int i = 0; i < 100; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return f();
}

QuibAction action(QuibActionKind kind, std::optional<std::string> value, std::vector<std::string> modifiers) {
  QuibAction a;
  a.kind = kind;
  a.value = std::move(value);
  a.modifiers = std::move(modifiers);
  return a;
}

namespace {

ClientMessage actionMessage(QuibAction a) {
  ClientMessage m = request(ClientMessage::Kind::action);
  m.action = std::move(a);
  return m;
}

}  // namespace

ServerMessage act(QuibClient& phone, QuibAction a) {
  return phone.request(actionMessage(std::move(a)));
}

std::vector<std::string> history(QuibClient& phone) {
  return phone.request(request(ClientMessage::Kind::clipboard))
      .clipboardItems.value_or(std::vector<std::string>{});
}

bool historyComesToStartWith(QuibClient& phone, const std::string& text) {
  return eventually([&] {
    const auto items = history(phone);
    return !items.empty() && items.front() == text;
  });
}

std::unique_ptr<ChildProcess> openWindow(bool wayland) {
  auto w = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/env", wayland ? "GDK_BACKEND=wayland" : "GDK_BACKEND=x11",
                               "/usr/bin/python3", QUIB_TEST_WINDOW});
  if (w->waitFor("ready\n", 30s)) return w;
  ADD_FAILURE() << w->output();
  return nullptr;
}

std::unique_ptr<ChildProcess> startPaired(QuibClient& phone, std::vector<std::string> args,
                                          const std::vector<std::string>& said, const Consent& consent) {
  args.insert(args.begin(), {QUIBBLETON_BINARY, "--port", "0", "--menu", "terminal"});
  auto p = std::make_unique<ChildProcess>(args);
  const bool started = p->waitFor("데스크톱: ") && p->waitFor("\n");
  for (const auto& line : said) EXPECT_NE(p->output().find(line), std::string::npos) << p->output();
  const StartedProgram s = started ? readStart(*p) : StartedProgram{};
  // A portal's session starts a moment after the program: the menu says so when it has (after the
  // desktop's dialog, which `consent` answers). Without it every action would be refused.
  if (consent && s.port != 0) {
    consent(*p);
  } else if (s.port == 0 || !p->waitFor("✓ 손쉬운 사용 권한 허용됨", 30s)) {
    ADD_FAILURE() << p->output();
    return nullptr;
  }
  EXPECT_NE(p->output().find("현재 출력: Speakers"), std::string::npos) << p->output();
  phone.connect("127.0.0.1", s.port);
  if (phone.pair(s.code, "Test Phone").type == ServerMessage::Kind::paired) return p;
  ADD_FAILURE() << "no pairing";
  return nullptr;
}

Consent answering(const std::string& title, const std::vector<std::string>& controls) {
  return [=](ChildProcess& program) {
    std::vector<std::string> argv{"/usr/bin/python3", QUIB_ATSPI_WINDOW, title, "30", "--press"};
    argv.insert(argv.end(), controls.begin(), controls.end());
    ChildProcess dialog(argv, ChildProcess::Output::pipe);
    EXPECT_EQ(dialog.wait(40s), 0) << dialog.output();
    EXPECT_TRUE(program.waitFor("✓ 손쉬운 사용 권한 허용됨", 30s)) << program.output();
  };
}

void checkInput(QuibClient& phone, ChildProcess& window, const InputChecks& c) {
  EXPECT_EQ(act(phone, action(QuibActionKind::keystroke, "a")).message, " a");
  EXPECT_TRUE(window.waitFor("key a -\n")) << window.output();
  EXPECT_EQ(act(phone, action(QuibActionKind::keystroke, "z", {"command", "shift"})).message,
            "command+shift z");
  EXPECT_TRUE(window.waitFor("key Z shift+" + c.command + "\n")) << window.output();
  if (c.afterKeys) c.afterKeys();
  // Sent in one write, as a phone sends what the user queued: each arrives once, in order. Where
  // texts the keymap lacks are pasted, the second must not replace the first on the clipboard
  // before the window has read it. The field holds "a" before.
  phone.sendTogether({actionMessage(action(QuibActionKind::typeText, " Alpha")),
                      actionMessage(action(QuibActionKind::typeText, " b_t?")),
                      actionMessage(action(QuibActionKind::keystroke, "return")),
                      actionMessage(action(QuibActionKind::typeText, " 한글 ✓ e\xcc\x81 👍🏽")),
                      actionMessage(action(QuibActionKind::typeText, " ✓")),
                      actionMessage(action(QuibActionKind::keystroke, "z", {"shift", "control"}))});
  for (const char* message :
       {"입력함 (6자)", "입력함 (5자)", " return", "입력함 (9자)", "입력함 (2자)", "shift+control z"}) {
    auto reply = phone.readReply();
    EXPECT_TRUE(reply.ok.value_or(false)) << reply.message.value_or("");
    EXPECT_EQ(reply.message, message);
  }
  for (const char* seen :
       {"text a Alpha\n", "text a Alpha b_t?\n", "key Return -\n",
        "text a Alpha b_t? \\ud55c\\uae00 \\u2713 e\\u0301 \\U0001f44d\\U0001f3fd \\u2713\n",
        "key Z shift+control\n"})
    EXPECT_TRUE(window.waitFor(seen)) << seen << " in " << window.output();

  // Long texts arrive whole, typed over the field's whole contents: 1,000 ASCII characters (more keys
  // than a compositor is sent one by one), and 200 different Hangul syllables (printed escaped).
  std::string ascii, korean, koreanShown;
  while (ascii.size() < 1000) ascii += "The quick brown fox jumps over the lazy dog 0123456789. ";
  ascii.resize(1000);
  for (unsigned i = 0, u = 0xac00; i < 200; ++i, u += 53) {
    korean += {static_cast<char>(0xe0 | (u >> 12)), static_cast<char>(0x80 | ((u >> 6) & 0x3f)),
               static_cast<char>(0x80 | (u & 0x3f))};
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", u);
    koreanShown += buf;
  }
  for (const auto& [text, shown] : {std::pair{ascii, ascii}, std::pair{korean, koreanShown}}) {
    EXPECT_TRUE(act(phone, action(QuibActionKind::keystroke, "a", {"control"})).ok.value_or(false));
    auto typed = act(phone, action(QuibActionKind::typeText, text));
    EXPECT_TRUE(typed.ok.value_or(false)) << typed.message.value_or("");
    EXPECT_TRUE(window.waitFor("text " + shown + "\n", 60s)) << window.output();
  }
  if (c.afterTexts) c.afterTexts();

  // The clipboard through Control's shortcuts, whatever the command key is. The window pastes when
  // the clipboard's owner answers: the next key waits for that.
  const auto control = [&](const char* key) {
    return act(phone, action(QuibActionKind::keystroke, key, {"control"})).message;
  };
  control("a");
  EXPECT_EQ(act(phone, action(QuibActionKind::setClipboard, "from phone")).message, "클립보드에 복사됨");
  EXPECT_EQ(control("v"), "control v");
  EXPECT_TRUE(window.waitFor("text from phone\n")) << window.output();
  EXPECT_TRUE(act(phone, action(QuibActionKind::typeText, "!")).ok.value_or(false));
  EXPECT_TRUE(window.waitFor("text from phone!\n")) << window.output();
  control("a");
  control("c");
  EXPECT_TRUE(historyComesToStartWith(phone, "from phone!")) << testing::PrintToString(history(phone));

  // The pointer, from where the test placed it or else where the click found it (a Wayland client
  // knows where the pointer is only once it has moved over its surface).
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerClick, "double")).message, "클릭");
  EXPECT_TRUE(window.waitFor("button double 1\n")) << window.output();
  auto [x, y] = c.pointerAt.value_or(std::pair(-1, -1));
  const auto pressed = window.output().rfind("button press 1 ");
  if (!c.pointerAt && (pressed == std::string::npos ||
                       std::sscanf(window.output().c_str() + pressed, "button press 1 %d %d", &x, &y) != 2))
    ADD_FAILURE() << window.output();
  const auto at = [](const char* what, int px, int py) {
    return std::string(what) + " " + std::to_string(px) + " " + std::to_string(py) + "\n";
  };
  QuibAction move = action(QuibActionKind::pointerMove);
  move.dx = 40;
  move.dy = -25;
  EXPECT_TRUE(act(phone, move).ok.value_or(false));
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerClick, "left")).message, "클릭");
  EXPECT_TRUE(window.waitFor(at("button press 1", x + 40, y - 25))) << window.output();
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerClick, "right")).message, "우클릭");
  EXPECT_TRUE(window.waitFor(at("button press 3", x + 40, y - 25))) << window.output();
  QuibAction scroll = action(QuibActionKind::pointerScroll);
  scroll.dy = 60;
  EXPECT_TRUE(act(phone, scroll).ok.value_or(false));
  EXPECT_TRUE(window.waitFor(c.scrollLine)) << window.output();
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerDown)).message, "드래그 시작");
  move.dx = move.dy = 30;
  EXPECT_TRUE(act(phone, move).ok.value_or(false));
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerUp)).message, "드래그 끝");
  EXPECT_TRUE(window.waitFor(at("drag", x + 70, y + 5))) << window.output();
  EXPECT_TRUE(window.waitFor(at("button release 1", x + 70, y + 5))) << window.output();
}

void checkInputOnCompositor(const std::string& sinks, const InputChecks& c, const fs::path& data,
                            const Consent& consent) {
  TempDir fresh;
  auto window = openWindow(true);
  ASSERT_TRUE(window);
  QuibClient phone;
  auto p = startPaired(phone,
                       {"--platform", "wayland", "--data-dir", (data.empty() ? fresh.path() : data).string()},
                       {"input through " + sinks}, consent);
  ASSERT_TRUE(p);
  // A lost connection throws: the program's own words below still say why.
  try {
    // What is typed by pasting stays out of the clipboard's history, also where the clipboard was
    // empty and the desktop keeps a copy of each selection to put back when it is let go (GNOME did,
    // with the typed text). The program lets go 0.6 s after the paste; the history is read every 0.5 s.
    EXPECT_EQ(act(phone, action(QuibActionKind::typeText, "한")).message, "입력함 (1자)");
    EXPECT_TRUE(window->waitFor("text \\ud55c\n")) << window->output();
    std::this_thread::sleep_for(1500ms);
    const auto items = history(phone);
    EXPECT_EQ(std::count(items.begin(), items.end(), "한"), 0) << testing::PrintToString(items);
    act(phone, action(QuibActionKind::keystroke, "delete"));
    checkInput(phone, *window, c);
    // With no window to take it, a paste is refused.
    window.reset();
    EXPECT_EQ(act(phone, action(QuibActionKind::typeText, "한")).message, "붙여넣기 실패");
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
  p->signal(SIGTERM);
  EXPECT_EQ(p->wait(), 0) << p->output();
  if (testing::Test::HasFailure()) std::printf("%s\n", p->output().c_str());
}

void prepareDesktop(const fs::path& marks) {
  run("pactl set-default-sink Speakers");
  const fs::path apps = fs::path(std::getenv("XDG_DATA_HOME")) / "applications";
  fs::create_directories(apps);
  fs::create_directories(std::getenv("XDG_CONFIG_HOME"));
  std::ofstream(marks / "record") << "#!/bin/sh\necho \"$0 $*\" >> " << (marks / "log").string() << "\n";
  fs::permissions(marks / "record", fs::perms::owner_all);
  fs::create_symlink(marks / "record", marks / "notes");
  fs::create_symlink(marks / "record", marks / "browser");
  std::ofstream(apps / "quibtest-notes.desktop")
      << "[Desktop Entry]\nType=Application\nName=Notes\nExec=" << (marks / "notes").string() << "\n";
  std::ofstream(apps / "quibtest-browser.desktop")
      << "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" << (marks / "browser").string()
      << " %u\nMimeType=x-scheme-handler/https;\n";
  std::ofstream(fs::path(std::getenv("XDG_CONFIG_HOME")) / "mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/https=quibtest-browser.desktop\n";
}

void checkSoundAndApplications(QuibClient& phone, ChildProcess& window, const fs::path& marks) {
  EXPECT_EQ(act(phone, action(QuibActionKind::volumeUp)).message, "볼륨 올림");
  EXPECT_TRUE(window.waitFor("key AudioRaiseVolume -\n")) << window.output();
  EXPECT_EQ(act(phone, action(QuibActionKind::audioOutputNext)).message, "출력: Headphones");
  EXPECT_EQ(run("pactl get-default-sink"), "Headphones");
  const auto logged = [&](const std::string& line) {
    return eventually([&] {
      return run("cat " + (marks / "log").string() + " 2>/dev/null").find(line) != std::string::npos;
    });
  };
  EXPECT_EQ(act(phone, action(QuibActionKind::launchApp, "notes")).message, "notes 실행");
  EXPECT_TRUE(logged("/notes"));
  QuibAction open = action(QuibActionKind::openURL);
  open.url = "https://example.com/path?q=1";
  EXPECT_EQ(act(phone, open).message, "example.com");
  EXPECT_TRUE(logged("/browser https://example.com/path?q=1"));
}

std::string readWindow(const std::string& title, bool absent) {
  std::vector<std::string> argv{"/usr/bin/python3", QUIB_ATSPI_WINDOW, title, "20"};
  if (absent) argv.push_back("--absent");
  ChildProcess reader(argv, ChildProcess::Output::pipe);
  const int status = reader.wait(30s);
  return status == 0 ? reader.output() : "(" + std::to_string(status) + ") " + reader.output();
}

void checkStatusWindow(const std::string& platform, const std::function<void()>& closeWindow) {
  TempDir data;
  const std::uint16_t port = freePort();
  const std::vector<std::string> start{
      QUIBBLETON_BINARY, "--platform",        platform, "--port", std::to_string(port),
      "--data-dir",      data.path().string()};
  const auto shown = [](bool absent = false) { return readWindow("Quibbleton", absent); };
  const std::string bridge = std::getenv("NO_AT_BRIDGE") ? std::getenv("NO_AT_BRIDGE") : "";
  unsetenv("NO_AT_BRIDGE");  // the program's window talks to the accessibility bus
  // No phone paired yet: the window opens by itself, the code in it, and that code pairs.
  auto first = std::make_unique<ChildProcess>(start);
  ASSERT_TRUE(first->waitFor("the status menu is in a window\n", 60s)) << first->output();
  const std::string lines = shown();
  for (const char* line : {"label\t대기 중 (포트 ", "label\t✓ 손쉬운 사용 권한 허용됨\t",
                           "button\tQuibox 종료\t", "button\t페어링 코드:  "})
    ASSERT_NE(lines.find(line), std::string::npos) << line << " in\n" << lines;
  const std::string code =
      lines.substr(lines.find("페어링 코드:  ") + std::string("페어링 코드:  ").size(), 6);
  QuibClient phone;
  phone.connect("127.0.0.1", port);
  ASSERT_EQ(phone.pair(code, "Window Phone").type, ServerMessage::Kind::paired);
  first->signal(SIGTERM);
  EXPECT_EQ(first->wait(), 0) << first->output();
  EXPECT_EQ(first->output().find(code), std::string::npos) << "the code went to the terminal";
  first.reset();
  // A phone is paired: the next start stays quiet until the desktop entry starts it again.
  ChildProcess quiet(start);
  ASSERT_TRUE(quiet.waitFor("the status menu is in a window\n", 60s)) << quiet.output();
  EXPECT_EQ(shown(true), "");
  // Its last words are read before its exit is taken: the exit may come first.
  ChildProcess again(start);
  EXPECT_TRUE(again.waitFor("already running for this user on port " + std::to_string(port)))
      << again.output();
  EXPECT_EQ(again.wait(), 0) << again.output();
  EXPECT_NE(shown().find("button\t페어링 코드:  "), std::string::npos);
  if (closeWindow) {
    closeWindow();
    EXPECT_TRUE(eventually([&] { return shown(true).empty(); }));
    EXPECT_EQ(QuibClient().connect("127.0.0.1", port).type, ServerMessage::Kind::hello);
  }
  quiet.signal(SIGTERM);
  EXPECT_EQ(quiet.wait(), 0) << quiet.output();
  setenv("NO_AT_BRIDGE", bridge.c_str(), 1);
}

}  // namespace quib::test
