#include "DesktopProgramSupport.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <tuple>

#include "support/TempDir.h"

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

std::string readFile(const fs::path& p) {
  std::ifstream in(p);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void installApplications(const fs::path& marks) {
  const fs::path data = std::getenv("XDG_DATA_HOME");
  const fs::path config = std::getenv("XDG_CONFIG_HOME");
  fs::create_directories(data / "applications");
  fs::create_directories(config);
  const fs::path recorder = marks / "record";
  std::ofstream(recorder) << "#!/bin/sh\necho \"$0 $*\" >> " << (marks / "log").string() << "\n";
  fs::permissions(recorder, fs::perms::owner_all);
  fs::create_symlink(recorder, marks / "notes");
  fs::create_symlink(recorder, marks / "browser");
  std::ofstream(data / "applications" / "quibtest-notes.desktop")
      << "[Desktop Entry]\nType=Application\nName=Notes\nExec=" << (marks / "notes").string() << "\n";
  std::ofstream(data / "applications" / "quibtest-browser.desktop")
      << "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" << (marks / "browser").string()
      << " %u\nMimeType=x-scheme-handler/https;x-scheme-handler/http;\n";
  std::ofstream(config / "mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/https=quibtest-browser.desktop\n"
         "x-scheme-handler/http=quibtest-browser.desktop\n";
}

ServerMessage act(QuibClient& phone, QuibAction a) {
  ClientMessage m;
  m.type = ClientMessage::Kind::action;
  m.action = std::move(a);
  return phone.request(m);
}

std::vector<std::string> history(QuibClient& phone) {
  ClientMessage m;
  m.type = ClientMessage::Kind::clipboard;
  return phone.request(m).clipboardItems.value_or(std::vector<std::string>{});
}

bool historyComesToStartWith(QuibClient& phone, const std::string& text) {
  return eventually([&] {
    const auto items = history(phone);
    return !items.empty() && items.front() == text;
  });
}

QuibAction action(QuibActionKind kind, std::optional<std::string> value, std::vector<std::string> modifiers) {
  QuibAction a;
  a.kind = kind;
  a.value = std::move(value);
  a.modifiers = std::move(modifiers);
  return a;
}

bool startAndPair(ChildProcess& program, QuibClient& phone, const Consent& consent) {
  StartedProgram s = readStart(program);
  if (s.port == 0) {
    ADD_FAILURE() << program.output();
    return false;
  }
  // A portal's session starts a moment after the program: the menu says so when it has (after the
  // desktop's dialog, which `consent` answers). Without it every action would be refused.
  if (consent) {
    consent(program);
  } else if (!program.waitFor("✓ 손쉬운 사용 권한 허용됨", 30s)) {
    ADD_FAILURE() << program.output();
    return false;
  }
  EXPECT_NE(program.output().find("현재 출력: Speakers"), std::string::npos) << program.output();
  phone.connect("127.0.0.1", s.port);
  return phone.pair(s.code, "Test Phone").type == ServerMessage::Kind::paired;
}

std::unique_ptr<ChildProcess> startOnWayland(const fs::path& data, const std::string& sinks,
                                             QuibClient& phone, const Consent& consent) {
  auto p = std::make_unique<ChildProcess>(std::vector<std::string>{QUIBBLETON_BINARY, "--platform", "wayland",
                                                                   "--port", "0", "--menu", "terminal",
                                                                   "--data-dir", data.string()});
  if (!p->waitFor("데스크톱: wayland (Wayland display ")) {
    ADD_FAILURE() << p->output();
    return nullptr;
  }
  EXPECT_NE(p->output().find("input through " + sinks), std::string::npos) << p->output();
  if (!startAndPair(*p, phone, consent)) return nullptr;
  return p;
}

namespace {

// The status window's lines, or "(exit status) output" when none showed in time; with `absent`,
// empty when none shows now.
std::string readWindow(bool absent = false) {
  std::vector<std::string> argv{"/usr/bin/python3", QUIB_ATSPI_WINDOW, "Quibbleton", "20"};
  if (absent) argv.push_back("--absent");
  ChildProcess reader(argv, ChildProcess::Output::pipe);
  const int status = reader.wait(std::chrono::seconds(30));
  return status == 0 ? reader.output() : "(" + std::to_string(status) + ") " + reader.output();
}

}  // namespace

void checkStatusWindow(const std::string& platform, const std::function<void()>& closeWindow) {
  TempDir data;
  const std::string port = std::to_string(freePort());
  const std::vector<std::string> start{QUIBBLETON_BINARY, "--platform",        platform, "--port", port,
                                       "--data-dir",      data.path().string()};
  const std::string bridge = std::getenv("NO_AT_BRIDGE") ? std::getenv("NO_AT_BRIDGE") : "";
  unsetenv("NO_AT_BRIDGE");  // the program's window talks to the accessibility bus
  {
    // No phone paired yet: the window opens by itself, the code in it.
    ChildProcess first(start);
    ASSERT_TRUE(first.waitFor("the status menu is in a window\n", 60s)) << first.output();
    const std::string shown = readWindow();
    const std::string codeLine = "button\t페어링 코드:  ";
    const auto at = shown.find(codeLine);
    ASSERT_NE(at, std::string::npos) << shown;
    const std::string code = shown.substr(at + codeLine.size(), 6);
    for (const char* line :
         {"label\t대기 중 (포트 ", "label\t  아이폰 앱에 이 코드를 입력하세요 (클릭 시 복사)\t",
          "label\t✓ 손쉬운 사용 권한 허용됨\t", "label\t현재 출력: ", "button\t페어링 코드 새로 만들기\t",
          "button\t페어링된 기기 모두 지우기\t", "button\tQuibox 종료\t"})
      EXPECT_NE(shown.find(line), std::string::npos) << line << " in\n" << shown;
    // The code the window shows is the one that pairs; the phone then appears, ready to unpair.
    QuibClient phone;
    phone.connect("127.0.0.1", static_cast<std::uint16_t>(std::stoi(port)));
    ASSERT_EQ(phone.pair(code, "Window Phone").type, ServerMessage::Kind::paired);
    EXPECT_TRUE(eventually([] {
      return readWindow().find("button\t  Window Phone\t클릭하면 이 기기의 페어링을 해제합니다") !=
             std::string::npos;
    })) << readWindow();
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(), 0) << first.output();
    EXPECT_EQ(first.output().find(code), std::string::npos) << "the code went to the terminal";
  }
  // A phone is paired: the next start stays quiet until the desktop entry starts it again.
  ChildProcess quiet(start);
  ASSERT_TRUE(quiet.waitFor("the status menu is in a window\n", 60s)) << quiet.output();
  EXPECT_EQ(readWindow(true), "");
  ChildProcess again(start);
  EXPECT_EQ(again.wait(), 0) << again.output();
  EXPECT_NE(again.output().find("already running for this user on port " + port), std::string::npos)
      << again.output();
  EXPECT_NE(readWindow().find("button\t페어링 코드:  "), std::string::npos);
  if (closeWindow) {
    // Closing the window keeps serving.
    closeWindow();
    EXPECT_TRUE(eventually([] { return readWindow(true).empty(); }));
    QuibClient phone;
    phone.connect("127.0.0.1", static_cast<std::uint16_t>(std::stoi(port)));
    EXPECT_EQ(phone.hello().type, ServerMessage::Kind::hello);
  }
  quiet.signal(SIGTERM);
  EXPECT_EQ(quiet.wait(), 0) << quiet.output();
  setenv("NO_AT_BRIDGE", bridge.c_str(), 1);
}

namespace {

// A Hangul text of `n` different syllables, as UTF-8 and as the window prints it.
std::pair<std::string, std::string> hangul(int n) {
  std::string utf8, shown;
  for (int i = 0; i < n; ++i) {
    const unsigned c = 0xac00 + static_cast<unsigned>(i) * 53;
    utf8 += static_cast<char>(0xe0 | (c >> 12));
    utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    utf8 += static_cast<char>(0x80 | (c & 0x3f));
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", c);
    shown += buf;
  }
  return {utf8, shown};
}

ClientMessage actionMessage(QuibAction a) {
  ClientMessage m;
  m.type = ClientMessage::Kind::action;
  m.action = std::move(a);
  return m;
}

}  // namespace

void checkTypedText(QuibClient& phone, ChildProcess& window) {
  // Sent in one write, as a phone sends what the user queued: each arrives once, in order.
  // Two texts the keymap lacks follow each other: where they are pasted, the second must not
  // replace the first on the clipboard before the window has read it.
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

  // How long a long text takes to arrive whole, typed over the field's whole contents.
  const std::string ascii = [] {
    std::string s;
    while (s.size() < 1000) s += "The quick brown fox jumps over the lazy dog 0123456789. ";
    return s.substr(0, 1000);
  }();
  const auto [korean, koreanShown] = hangul(200);
  for (const auto& [text, shown, name] :
       {std::tuple{ascii, ascii, "1000 ASCII"}, std::tuple{korean, koreanShown, "200 Korean"}}) {
    EXPECT_TRUE(act(phone, action(QuibActionKind::keystroke, "a", {"control"})).ok.value_or(false));
    const auto start = std::chrono::steady_clock::now();
    auto typed = act(phone, action(QuibActionKind::typeText, text));
    EXPECT_TRUE(typed.ok.value_or(false)) << typed.message.value_or("");
    EXPECT_TRUE(window.waitFor("text " + shown + "\n", 60s)) << name;
    std::printf("[ figure ] %s characters arrived whole in %lld ms\n", name,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count()));
  }
}

void checkKeys(QuibClient& phone, ChildProcess& window, const std::string& command) {
  EXPECT_EQ(act(phone, action(QuibActionKind::keystroke, "a")).message, " a");
  EXPECT_TRUE(window.waitFor("key a -\n")) << window.output();
  EXPECT_EQ(act(phone, action(QuibActionKind::keystroke, "z", {"command", "shift"})).message,
            "command+shift z");
  EXPECT_TRUE(window.waitFor("key Z shift+" + command + "\n")) << window.output();
}

void checkPointer(QuibClient& phone, ChildProcess& window, int x, int y, const std::string& scrollLine) {
  auto at = [](const char* what, int px, int py) {
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
  EXPECT_TRUE(window.waitFor(scrollLine)) << window.output();
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerDown)).message, "드래그 시작");
  move.dx = 30;
  move.dy = 30;
  EXPECT_TRUE(act(phone, move).ok.value_or(false));
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerUp)).message, "드래그 끝");
  EXPECT_TRUE(window.waitFor(at("drag", x + 70, y + 5))) << window.output();
  EXPECT_TRUE(window.waitFor(at("button release 1", x + 70, y + 5))) << window.output();
}

void checkClipboardThroughWindow(QuibClient& phone, ChildProcess& window) {
  auto control = [&](const char* key) {
    return act(phone, action(QuibActionKind::keystroke, key, {"control"})).message;
  };
  control("a");
  EXPECT_EQ(act(phone, action(QuibActionKind::setClipboard, "from phone")).message, "클립보드에 복사됨");
  EXPECT_EQ(control("v"), "control v");
  // The window pastes when the clipboard's owner answers: the next key waits for that.
  EXPECT_TRUE(window.waitFor("text from phone\n")) << window.output();
  EXPECT_TRUE(act(phone, action(QuibActionKind::typeText, "!")).ok.value_or(false));
  EXPECT_TRUE(window.waitFor("text from phone!\n")) << window.output();
  control("a");
  control("c");
  EXPECT_TRUE(historyComesToStartWith(phone, "from phone!")) << testing::PrintToString(history(phone));
}

namespace {

// Where the pointer is, from a left click on the window.
std::pair<int, int> clickedAt(QuibClient& phone, ChildProcess& window) {
  EXPECT_EQ(act(phone, action(QuibActionKind::pointerClick, "left")).message, "클릭");
  EXPECT_TRUE(window.waitFor("button release 1 ")) << window.output();
  int x = -1, y = -1;
  const auto at = window.output().rfind("button press 1 ");
  if (at == std::string::npos ||
      std::sscanf(window.output().c_str() + at, "button press 1 %d %d", &x, &y) != 2)
    ADD_FAILURE() << window.output();
  return {x, y};
}

}  // namespace

void checkInputOnCompositor(const std::string& sinks, const std::string& scrollLine,
                            const std::function<void()>& afterTexts, const fs::path& data,
                            const Consent& consent) {
  TempDir fresh;
  ChildProcess window(
      {"/usr/bin/env", "GDK_BACKEND=wayland", "/usr/bin/python3", QUIB_TEST_WINDOW, "--no-menu"});
  ASSERT_TRUE(window.waitFor("ready\n", 30s)) << window.output();
  QuibClient phone;
  auto p = startOnWayland(data.empty() ? fresh.path() : data, sinks, phone, consent);
  ASSERT_TRUE(p);
  // The first key of the session is not lost; command is Control here.
  checkKeys(phone, window);
  checkTypedText(phone, window);
  if (afterTexts) afterTexts();
  checkClipboardThroughWindow(phone, window);
  const auto [x, y] = clickedAt(phone, window);
  checkPointer(phone, window, x, y, scrollLine);
  // With no window to take it, a paste is refused, though the desktop's clipboard manager
  // (mutter's) has read the text the moment it was offered.
  window.signal(SIGTERM);
  window.wait();
  EXPECT_EQ(act(phone, action(QuibActionKind::typeText, "한")).message, "붙여넣기 실패");
  p->signal(SIGTERM);
  EXPECT_EQ(p->wait(), 0) << p->output();
  // What the program said, for a failure above that only shows the window's side.
  if (testing::Test::HasFailure()) std::printf("%s\n", p->output().c_str());
}

void checkRefused(const std::string& platform, const std::string& why, const fs::path& data) {
  ChildProcess refused(
      {QUIBBLETON_BINARY, "--platform", platform, "--port", "0", "--data-dir", data.string()});
  EXPECT_EQ(refused.wait(), 2);
  EXPECT_NE(refused.output().find(why), std::string::npos) << refused.output();
}

void checkApplicationsAndAddresses(QuibClient& phone, const fs::path& marks) {
  EXPECT_EQ(act(phone, action(QuibActionKind::launchApp, "notes")).message, "notes 실행");
  EXPECT_TRUE(eventually([&] { return readFile(marks / "log").find("/notes") != std::string::npos; }));
  QuibAction open = action(QuibActionKind::openURL);
  open.url = "https://example.com/path?q=1";
  EXPECT_EQ(act(phone, open).message, "example.com");
  EXPECT_TRUE(eventually([&] {
    return readFile(marks / "log").find("/browser https://example.com/path?q=1") != std::string::npos;
  }));
  ClientMessage check;
  check.type = ClientMessage::Kind::appCheck;
  check.appNames = std::vector<std::string>{"Notes", "No Such App"};
  EXPECT_EQ(phone.request(check).installedApps, std::vector<std::string>{"Notes"});
}

}  // namespace quib::test
