#pragma once
// One server per user and port. The lock is a file in $XDG_RUNTIME_DIR (else the temporary
// directory, named with the user id) keyed by the port and held with flock for the life of the
// object, so that a crashed instance never leaves it taken. Main thread, before the server starts.
#include <cstdint>
#include <filesystem>
#include <string>

namespace quib {

class InstanceLock {
 public:
  enum class Outcome { acquired, alreadyRunning, portInUse };

  // Port 0 (any free port) cannot collide and takes no lock.
  explicit InstanceLock(std::uint16_t port);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  Outcome outcome() const { return outcome_; }
  // The one line to print when the outcome is not `acquired`.
  const std::string& message() const { return message_; }

  static std::filesystem::path lockPath(std::uint16_t port);

 private:
  int fd_ = -1;
  Outcome outcome_ = Outcome::acquired;
  std::string message_;
};

}  // namespace quib
