#include "app/InstanceLock.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quib {
namespace {

// True when some other program listens on the port. A port we may not bind for other reasons
// (a privileged one) is left for the server to report.
bool portTaken(std::uint16_t port) {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int err = 0;
  if (fd >= 0) {
    int off = 0, on = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_any;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) err = errno;
  } else {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) err = errno;
  }
  ::close(fd);
  return err == EADDRINUSE;
}

std::string readPid(int fd) {
  char buf[32] = {};
  const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  std::string s(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

std::filesystem::path InstanceLock::lockPath(std::uint16_t port) {
  const std::string name = "quibbleton-" + std::to_string(port) + ".lock";
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::filesystem::path(runtime) / name;
  std::error_code ec;
  auto tmp = std::filesystem::temp_directory_path(ec);
  if (ec) tmp = "/tmp";
  return tmp / ("quibbleton-" + std::to_string(::getuid()) + "-" + std::to_string(port) + ".lock");
}

InstanceLock::InstanceLock(std::uint16_t port) {
  if (port == 0) return;
  const std::string where = "port " + std::to_string(port);
  const auto path = lockPath(port);
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // Without a lock file (no writable runtime directory) the port check below still applies.
  if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const std::string pid = readPid(fd_);
    ::close(fd_);
    fd_ = -1;
    outcome_ = Outcome::alreadyRunning;
    message_ = "quibbleton: already running for this user on " + where +
               (pid.empty() ? std::string() : " (pid " + pid + ")");
    return;
  }
  if (portTaken(port)) {
    outcome_ = Outcome::portInUse;
    message_ = "quibbleton: " + where + " is in use by another program";
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return;
  }
  if (fd_ >= 0) {
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) == 0) (void)!::pwrite(fd_, pid.data(), pid.size(), 0);
  }
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace quib
