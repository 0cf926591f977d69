// The quibbleton program end to end: its output, a phone pairing over TCP, menu commands typed on
// standard input, and its exit.
#include <gtest/gtest.h>
#include <signal.h>

#include "client/QuibClient.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

TEST(ProgramTest, PairUnpairAndQuit) {
  TempDir data;
  ChildProcess p(
      {QUIBBLETON_BINARY, "--platform", "virtual", "--port", "0", "--data-dir", data.path().string()});
  StartedProgram s = readStart(p);
  ASSERT_NE(s.port, 0);
  ASSERT_EQ(s.code.size(), 6u);

  QuibClient phone;
  phone.connect("127.0.0.1", s.port);
  auto paired = phone.pair(s.code, "Test Phone");
  ASSERT_EQ(paired.type, ServerMessage::Kind::paired);
  // The menu is rebuilt when the count changes: a second connection shows the paired device as
  // item 1, and choosing it unpairs and disconnects it.
  QuibClient second;
  second.connect("127.0.0.1", s.port);
  ASSERT_TRUE(p.waitFor("2대 연결됨"));
  ASSERT_TRUE(p.waitFor("[1]   Test Phone"));
  ClientMessage key;
  key.type = ClientMessage::Kind::action;
  key.action = QuibAction{QuibActionKind::keystroke, "c", {"command"}, {}, {}, {}, {}};
  EXPECT_EQ(phone.request(key).message, "command c");
  EXPECT_TRUE(p.waitFor("효과: key down 8 flags command"));
  p.write("1\n");
  // Typed right after a menu whose numbering changed, the number is not acted on: the menu is
  // printed again, and the same number then means the item now shown.
  if (!phone.waitForClose(std::chrono::seconds(3))) {
    EXPECT_TRUE(p.waitFor("메뉴가 바뀌었습니다"));
    p.write("1\n");
    EXPECT_TRUE(phone.waitForClose());
  }
  p.write("q\n");
  EXPECT_EQ(p.wait(), 0) << p.output();
}

// As a service manager runs it: output into a log, which never holds the pairing code.
TEST(ProgramTest, UnderAServiceManagerTheCodeStaysOutOfTheLogAndSigtermEndsWithZero) {
  TempDir data;
  ChildProcess p({QUIBBLETON_BINARY, "--port", "0", "--data-dir", data.path().string()},
                 ChildProcess::Output::pipe);
  StartedProgram s = readStart(p);
  ASSERT_NE(s.port, 0);
  EXPECT_EQ(s.code, "******");
  p.signal(SIGTERM);
  EXPECT_EQ(p.wait(), 0) << p.output();
  // The in-memory desktop, chosen by name, prints every effect there anyway: the code too.
  ChildProcess v(
      {QUIBBLETON_BINARY, "--platform", "virtual", "--port", "0", "--data-dir", data.path().string()},
      ChildProcess::Output::pipe);
  EXPECT_EQ(readStart(v).code.size(), 6u) << v.output();
}

// With --exit-on-eof it would quit (the terminal menu test shows that).
TEST(ProgramTest, EndOfInputQuitsOnlyWhenAsked) {
  TempDir data;
  ChildProcess q({QUIBBLETON_BINARY, "--port", "0", "--data-dir", data.path().string()});
  StartedProgram s = readStart(q);
  q.closeInput();
  QuibClient phone;  // still serving after its input ended
  phone.connect("127.0.0.1", s.port);
  EXPECT_EQ(phone.hello().type, ServerMessage::Kind::hello);
  q.signal(SIGINT);
  EXPECT_EQ(q.wait(), 0);
}

}  // namespace
}  // namespace quib::test
