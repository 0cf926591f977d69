#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "DesktopTools.h"
#include "actions/ClipboardWatcher.h"
#include "actions/Keyboard.h"
#include "platform/linux/Pasteboard.h"
#include "platform/virtual/Desktop.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

using namespace std::chrono_literals;

// Hangul, an emoji sequence, a combining accent and an RTL word, with a line break and a tab.
const std::string kMixed =
    "한글 입력\n\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 "
    "e\xCC\x81\t\xD7\xA9\xD7\x9C\xD7"
    "\x95\xD7\x9D";

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

bool contains(const std::vector<std::string>& v, const std::string& x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

class LinuxPasteboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtkReady()) GTEST_SKIP() << "no X display";
    pb.emplace();
    settle();  // what the previous test's clipboard owners did is not this test's business
  }

  // What another client reads from the CLIPBOARD under one target.
  ToolResult xclipOut(const std::string& target = "") {
    std::vector<std::string> argv = {"xclip", "-selection", "clipboard", "-o"};
    if (!target.empty()) argv.insert(argv.end(), {"-t", target});
    return runTool(argv);
  }
  std::vector<std::string> foreignTargets() { return lines(xclipOut("TARGETS").out); }

  // Another client copies (a program on PATH, env settings first); returns once our side has seen
  // the change.
  std::unique_ptr<ChildProcess> copyForeign(std::vector<std::string> argv, bool saysReady) {
    const auto before = pb->changeCount();
    argv.insert(argv.begin(), "/usr/bin/env");
    auto owner = std::make_unique<ChildProcess>(argv, ChildProcess::Output::pipe);
    if (saysReady) {
      EXPECT_TRUE(owner->waitFor("ready\n")) << owner->output();
    }
    EXPECT_TRUE(pumpUntil([&] { return pb->changeCount() != before; })) << argv[1] << " took no ownership";
    return owner;
  }
  std::unique_ptr<ChildProcess> xclipIn(const std::string& text) {
    const auto file = dir.path() / ("copy" + std::to_string(++files));
    std::ofstream(file, std::ios::binary) << text;
    return copyForeign({"xclip", "-selection", "clipboard", "-quiet", "-i", file.string()}, false);
  }
  std::unique_ptr<ChildProcess> helperOwner(std::vector<std::string> targets) {
    targets.insert(targets.begin(), {"ASAN_OPTIONS=detect_leaks=0", QUIB_CLIPBOARD_OWNER});
    return copyForeign(targets, true);
  }
  // Dispatching meanwhile: our side may still have to tell the server it took the selection.
  static bool ended(ChildProcess& p) {
    return pumpUntil([&] { return p.wait(std::chrono::milliseconds(0)) >= 0; });
  }
  TempDir dir;
  int files = 0;
  std::optional<LinuxPasteboard> pb;
};

TEST_F(LinuxPasteboardTest, OurTextReachesOtherClientsByteForByteAndCountsOnce) {
  const auto start = pb->changeCount();
  ASSERT_TRUE(pb->writeItems({PasteboardItem::text(kMixed)}));
  EXPECT_EQ(pb->changeCount(), start + 1);

  auto plain = xclipOut();
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out, kMixed);
  EXPECT_EQ(xclipOut("UTF8_STRING").out, kMixed);
  EXPECT_EQ(xclipOut("text/plain;charset=utf-8").out, kMixed);
  EXPECT_EQ(xclipOut("STRING").status, 0);  // not Latin-1, but still answered
  auto targets = foreignTargets();
  for (const char* t : {"TARGETS", "UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT"})
    EXPECT_TRUE(contains(targets, t)) << t;
  EXPECT_FALSE(contains(targets, LinuxPasteboard::kHintTarget));

  // The server's notice of our own ownership has come and gone: not counted.
  settle();
  EXPECT_EQ(pb->changeCount(), start + 1);
  EXPECT_EQ(pb->string(), kMixed);

  // A Latin-1 text also answers STRING, converted by the toolkit.
  pb->clearContents();
  pb->writeItems({PasteboardItem::text("caf\xC3\xA9")});
  EXPECT_EQ(pb->changeCount(), start + 3);
  EXPECT_EQ(xclipOut("STRING").out, "caf\xE9");
}

TEST_F(LinuxPasteboardTest, ConcealedAndTransientCarryThePasswordManagerHint) {
  for (const char* marker : {PasteboardType::concealed, PasteboardType::transient}) {
    PasteboardItem item = PasteboardItem::text("hunter2");
    item.entries.emplace_back(marker, "");
    pb->clearContents();
    ASSERT_TRUE(pb->writeItems({item}));
    EXPECT_TRUE(contains(foreignTargets(), LinuxPasteboard::kHintTarget)) << marker;
    EXPECT_EQ(xclipOut(LinuxPasteboard::kHintTarget).out, "secret") << marker;
    EXPECT_EQ(xclipOut().out, "hunter2");
    EXPECT_TRUE(contains(pb->types(), marker));
  }
}

TEST_F(LinuxPasteboardTest, ForeignCopiesMoveTheCountAndReadBack) {
  auto first = xclipIn(kMixed);
  const auto afterFirst = pb->changeCount();
  EXPECT_EQ(pb->string(), kMixed);
  auto types = pb->types();
  EXPECT_TRUE(contains(types, PasteboardType::plainText));
  EXPECT_FALSE(contains(types, PasteboardType::concealed));
  // Reading changes nothing.
  EXPECT_EQ(pb->changeCount(), afterFirst);

  // A text far bigger than one X request travels in increments.
  std::string big;
  for (int i = 0; big.size() < (1u << 20); ++i) big += "줄 " + std::to_string(i) + " \xE2\x9C\x93\n";
  auto second = xclipIn(big);
  EXPECT_GT(pb->changeCount(), afterFirst);
  EXPECT_TRUE(ended(*first));  // the first owner lost the selection
  auto read = pb->string();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->size(), big.size());
  EXPECT_TRUE(*read == big);

  // Clearing takes the copy away from its owner, once our clear's own notice has passed.
  const auto beforeClear = pb->changeCount();
  pb->clearContents();
  EXPECT_EQ(pb->changeCount(), beforeClear + 1);
  EXPECT_TRUE(ended(*second));
  EXPECT_NE(xclipOut().status, 0);
  EXPECT_EQ(pb->string(), std::nullopt);
  EXPECT_TRUE(pb->items().empty());
  settle();
  EXPECT_EQ(pb->changeCount(), beforeClear + 1);
}

TEST_F(LinuxPasteboardTest, StuckOwnerIsGivenUpOn) {
  auto owner = helperOwner({"--stall", "UTF8_STRING=never"});
  EXPECT_EQ(pb->string(), std::nullopt);
  EXPECT_TRUE(pb->items().empty());
  // We can still take the clipboard back.
  EXPECT_TRUE(pb->writeItems({PasteboardItem::text("mine")}));
  EXPECT_EQ(xclipOut().out, "mine");
}

TEST_F(LinuxPasteboardTest, PasswordManagerCopyStaysOutOfTheHistory) {
  ManualClock clock;
  MainQueue queue{clock};
  ClipboardWatcher watcher(*pb, queue);

  auto plain = xclipIn("보통 복사");
  watcher.tick();
  EXPECT_EQ(watcher.history(), (std::vector<std::string>{"보통 복사"}));

  auto secret = helperOwner({"UTF8_STRING=hunter2", "text/plain;charset=utf-8=hunter2",
                             std::string(LinuxPasteboard::kHintTarget) + "=secret"});
  EXPECT_TRUE(contains(pb->types(), PasteboardType::concealed));
  watcher.tick();
  EXPECT_EQ(watcher.history(), (std::vector<std::string>{"보통 복사"}));

  // A hint with another value is no password.
  auto other = helperOwner({"UTF8_STRING=visible", std::string(LinuxPasteboard::kHintTarget) + "=plain"});
  watcher.tick();
  EXPECT_EQ(watcher.history(), (std::vector<std::string>{"visible", "보통 복사"}));
}

class LinuxTypedTextTest : public LinuxPasteboardTest {
 protected:
  void SetUp() override {
    LinuxPasteboardTest::SetUp();
    if (!pb) return;
    Platform v = desktop.platform();
    platform.emplace(Platform{v.accessibility, v.host, v.events, *pb, v.workspace, v.applications, v.audio,
                              v.screenshots});
    keyboard.emplace(*platform, queue);
  }
  void advance(std::chrono::milliseconds d) {
    clock.advance(d);
    queue.runUntilIdle();
  }

  TempDir root;
  VirtualDesktop desktop{root.path()};
  ManualClock clock;
  MainQueue queue{clock};
  std::optional<Platform> platform;
  std::optional<Keyboard> keyboard;
};

TEST_F(LinuxTypedTextTest, NewerForeignCopyWinsAndEmptyStaysEmpty) {
  // Nothing on the clipboard before typing: nothing after.
  pb->clearContents();
  settle();
  keyboard->typeText("typed");
  advance(600ms);
  settle();
  EXPECT_NE(xclipOut().status, 0);

  auto before = xclipIn("before");
  keyboard->typeText("typed");
  auto newer = xclipIn("copied meanwhile");
  advance(600ms);
  EXPECT_EQ(xclipOut().out, "copied meanwhile");
  EXPECT_EQ(newer->wait(0ms), -1);  // still serving
}

}  // namespace
}  // namespace quib::test
