// The CLIPBOARD selection as other X clients see it (xclip, a GTK owner that offers chosen targets).
#include <gtest/gtest.h>

#include "DesktopTools.h"
#include "actions/ClipboardWatcher.h"
#include "platform/linux/Pasteboard.h"
#include "support/ChildProcess.h"

namespace quib::test {
namespace {

// Hangul, an emoji sequence, a combining accent and an RTL word, with a line break and a tab.
const std::string kMixed =
    "한글 입력\n\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 "
    "e\xCC\x81\t\xD7\xA9\xD7\x9C\xD7"
    "\x95\xD7\x9D";
const std::string kHint = LinuxPasteboard::kHintTarget;

class LinuxPasteboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtkReady()) GTEST_SKIP() << "no X display";
    pb.emplace();
    settle();  // what the previous test's clipboard owners did is not this test's business
  }
  // What another client reads from the CLIPBOARD under one target.
  ToolResult xclipOut(const std::string& target = "UTF8_STRING") {
    return runTool({"xclip", "-selection", "clipboard", "-o", "-t", target});
  }
  // Another client copies (env settings first, `input` on its standard input); returns once our
  // side has seen the change.
  std::unique_ptr<ChildProcess> copyForeign(std::vector<std::string> argv, const std::string& input = "") {
    const auto before = pb->changeCount();
    argv.insert(argv.begin(), "/usr/bin/env");
    auto owner = std::make_unique<ChildProcess>(argv, ChildProcess::Output::pipe);
    owner->write(input);
    owner->closeInput();
    EXPECT_TRUE(pumpUntil([&] { return pb->changeCount() != before; })) << argv[1] << " took no ownership";
    return owner;
  }
  std::unique_ptr<ChildProcess> xclipIn(const std::string& text) {
    return copyForeign({"xclip", "-selection", "clipboard", "-quiet", "-i"}, text);
  }
  std::optional<LinuxPasteboard> pb;
};

TEST_F(LinuxPasteboardTest, OurCopiesReachOtherClientsWithTheirHintAndCountOnce) {
  const auto start = pb->changeCount();
  ASSERT_TRUE(pb->writeItems({PasteboardItem::text(kMixed)}));
  EXPECT_EQ(pb->changeCount(), start + 1);
  EXPECT_EQ(xclipOut("text/plain;charset=utf-8").out, kMixed);
  const std::string targets = xclipOut("TARGETS").out;
  for (const char* t : {"UTF8_STRING", "STRING", "TEXT"}) EXPECT_NE(targets.find(t), std::string::npos) << t;
  EXPECT_EQ(targets.find(kHint), std::string::npos);
  // The server's notice of our own ownership has come and gone: not counted.
  settle();
  EXPECT_EQ(pb->changeCount(), start + 1);
  for (const char* marker : {PasteboardType::concealed, PasteboardType::transient}) {
    PasteboardItem item = PasteboardItem::text("hunter2");
    item.entries.emplace_back(marker, "");
    ASSERT_TRUE(pb->writeItems({item}));
    EXPECT_EQ(xclipOut(kHint).out, "secret") << marker;
    // A typed text is the window's alone: read before its paste chord (by a clipboard manager) it
    // is refused.
    EXPECT_EQ(xclipOut().out == "hunter2", marker == PasteboardType::concealed) << marker;
  }
}

// A copy far bigger than one X request, read in increments: LinuxProgram.EveryActionActsOnTheSession.
TEST_F(LinuxPasteboardTest, ForeignCopiesReadBackWholeAndAreTakenAwayByClearing) {
  auto first = xclipIn(kMixed);
  const auto afterFirst = pb->changeCount();
  EXPECT_EQ(pb->string(), kMixed);
  pb->clearContents();
  EXPECT_EQ(pb->changeCount(), afterFirst + 1);
  // The owner lost the selection (dispatching meanwhile: our side may still have to tell the server).
  EXPECT_TRUE(pumpUntil([&] { return first->wait(std::chrono::milliseconds(0)) >= 0; }));
  EXPECT_NE(xclipOut().status, 0);
  EXPECT_EQ(pb->string(), std::nullopt);
}

TEST_F(LinuxPasteboardTest, PasswordManagerCopyStaysOutOfTheHistory) {
  ManualClock clock;
  MainQueue queue{clock};
  ClipboardWatcher watcher(*pb, queue);
  auto plain = xclipIn("보통 복사");
  watcher.tick();
  auto secret = copyForeign(
      {"ASAN_OPTIONS=detect_leaks=0", QUIB_CLIPBOARD_OWNER, "UTF8_STRING=hunter2", kHint + "=secret"});
  watcher.tick();
  EXPECT_EQ(watcher.history(), (std::vector<std::string>{"보통 복사"}));
}

}  // namespace
}  // namespace quib::test
