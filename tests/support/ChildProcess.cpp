#include "support/ChildProcess.h"

#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace quib::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, Output output) {
  int in[2], out[2];
  if (pipe(in) != 0) throw std::runtime_error("pipe");
  if (output == Output::pipe) {
    if (pipe(out) != 0) throw std::runtime_error("pipe");
  } else {
    // out[0] is the side this process reads, out[1] the terminal the program writes to.
    if (openpty(&out[0], &out[1], nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    termios mode{};
    tcgetattr(out[1], &mode);
    cfmakeraw(&mode);
    tcsetattr(out[1], TCSANOW, &mode);
  }
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  in_ = in[1];
  outFd_ = out[0];
}

ChildProcess::~ChildProcess() {
  if (!exited_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (in_ >= 0) close(in_);
  if (outFd_ >= 0) close(outFd_);
}

void ChildProcess::write(const std::string& text) {
  if (in_ >= 0) (void)!::write(in_, text.data(), text.size());
}

void ChildProcess::closeInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

bool ChildProcess::readSome(std::chrono::milliseconds limit) {
  pollfd p{outFd_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
  char buf[4096];
  ssize_t n = read(outFd_, buf, sizeof buf);
  if (n <= 0) return false;
  out_.append(buf, static_cast<std::size_t>(n));
  return true;
}

std::optional<std::string> ChildProcess::waitFor(const std::string& needle, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto at = out_.find(needle, consumed_);
    if (at != std::string::npos) {
      std::string text = out_.substr(consumed_, at + needle.size() - consumed_);
      consumed_ = at + needle.size();
      return text;
    }
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !readSome(left)) return std::nullopt;
  }
}

void ChildProcess::signal(int sig) {
  if (pid_ > 0 && !exited_) kill(pid_, sig);
}

int ChildProcess::wait(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!exited_) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      // What it wrote just before it ended is still in the pipe.
      while (readSome(std::chrono::milliseconds(0))) continue;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    // Drain output meanwhile so the program never blocks on a full pipe.
    if (!readSome(std::chrono::milliseconds(20))) usleep(1000);
  }
  return status_;
}

StartedProgram readStart(ChildProcess& p) {
  const std::string codeLabel = "페어링 코드:  ";
  auto upToPort = p.waitFor("대기 중 (포트 ");
  auto rest = p.waitFor(")");
  if (!upToPort || !rest) return {};
  const auto at = upToPort->rfind(codeLabel);
  return {static_cast<std::uint16_t>(std::stoi(*rest)),
          at == std::string::npos ? "" : upToPort->substr(at + codeLabel.size(), 6)};
}

std::uint16_t freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace quib::test
