#pragma once
// Reading clipboard contents from pipes, so that no other client can stall the main loop (writing
// is PipeWrite's).
//
// PipeRead reads what another client writes into a pipe (its answer to a clipboard request), so a client that
// never writes, or writes without end, costs the main thread nothing: the read ends at the end of the data,
// past `limit` bytes, or at `deadline`, whichever comes first. Main thread only: the sources run on the
// caller's thread-default GLib main context.
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

typedef struct _GSource GSource;

namespace quib {

// Reads `fd` to its end on the calling thread, waiting at most `timeout` in all, and closes it;
// none when cut off by `limit` or the timeout (then `stuck` is set) or when it failed. For reads a
// caller must wait for; the others go through PipeRead.
std::optional<std::string> readPipeNow(int fd, std::size_t limit, std::chrono::milliseconds timeout,
                                       bool& stuck);

class PipeRead {
 public:
  // `bytes` is the whole answer, or none when it was cut off (`timedOut` says whether by the
  // deadline) or failed.
  using Done = std::function<void(std::optional<std::string> bytes, bool timedOut)>;

  // Takes `fd`, the read end; `done` runs once, from the main loop, and may destroy this object.
  PipeRead(int fd, std::size_t limit, std::chrono::steady_clock::time_point deadline, Done done);
  // Stops reading; `done` does not run after this.
  ~PipeRead();
  PipeRead(const PipeRead&) = delete;
  PipeRead& operator=(const PipeRead&) = delete;

 private:
  static int readable(int fd, unsigned condition, void* self);
  static int expired(void* self);
  void finish(std::optional<std::string> bytes, bool timedOut);
  void stop();

  int fd_;
  std::size_t limit_;
  std::string data_;
  Done done_;
  GSource* watch_ = nullptr;
  GSource* timer_ = nullptr;
};

}  // namespace quib
