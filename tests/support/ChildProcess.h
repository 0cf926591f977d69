#pragma once
// A program run by a test, its standard input on a pipe and its output on a terminal as when a user
// starts it (a pseudo-terminal in raw mode, so the bytes arrive as written), or on a pipe as under a
// service manager; standard error joins the output. Reads wait at most a bounded real time so that a broken
// program fails the test, not hangs it.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quib::test {

class ChildProcess {
 public:
  enum class Output { terminal, pipe };
  explicit ChildProcess(const std::vector<std::string>& argv, Output output = Output::terminal);
  ~ChildProcess();

  void write(const std::string& text);
  void closeInput();
  // Reads output until `needle` appears after what earlier waits consumed; returns the text up to
  // and including it, or none when the program ends or the wait runs out first.
  std::optional<std::string> waitFor(const std::string& needle,
                                     std::chrono::milliseconds limit = std::chrono::seconds(15));
  void signal(int sig);
  // Exit status, or -1 when it did not end within the limit (it is then killed).
  int wait(std::chrono::milliseconds limit = std::chrono::seconds(15));
  const std::string& output() const { return out_; }
  pid_t pid() const { return pid_; }

 private:
  bool readSome(std::chrono::milliseconds limit);

  pid_t pid_ = -1;
  int in_ = -1;
  int outFd_ = -1;
  std::string out_;
  std::size_t consumed_ = 0;
  bool exited_ = false;
  int status_ = -1;
};

// What quibbleton prints once it is serving: its port and the pairing code (zero and empty when
// they did not appear in time).
struct StartedProgram {
  std::uint16_t port = 0;
  std::string code;
};
StartedProgram readStart(ChildProcess& program);

// A TCP port free at the moment, for a program whose port a test must know before it starts.
std::uint16_t freePort();

}  // namespace quib::test
