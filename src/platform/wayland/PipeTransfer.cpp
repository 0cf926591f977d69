#include "platform/wayland/PipeTransfer.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quib {

namespace {

// On the caller's thread-default context; the source comes back with a reference of its own.
GSource* attach(GSource* source, GSourceFunc callback, gpointer data) {
  g_source_set_callback(source, callback, data, nullptr);
  g_source_attach(source, g_main_context_get_thread_default());
  return source;
}

}  // namespace

std::optional<std::string> readPipeNow(int fd, std::size_t limit, std::chrono::milliseconds timeout,
                                       bool& stuck) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool complete = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
      stuck = true;
      break;
    }
    char buf[65536];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) {
      complete = true;
      break;
    }
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      break;
    }
    if (out.size() + static_cast<std::size_t>(n) > limit) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!complete) return std::nullopt;
  return out;
}

PipeRead::PipeRead(int fd, std::size_t limit, std::chrono::steady_clock::time_point deadline, Done done)
    : fd_(fd), limit_(limit), done_(std::move(done)) {
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  watch_ = attach(g_unix_fd_source_new(fd_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR)),
                  G_SOURCE_FUNC(&PipeRead::readable), this);
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  timer_ = attach(g_timeout_source_new(static_cast<guint>(std::max<std::int64_t>(left.count(), 0))),
                  &PipeRead::expired, this);
}

PipeRead::~PipeRead() {
  stop();
}

void PipeRead::stop() {
  for (GSource* s : {watch_, timer_})
    if (s) {
      g_source_destroy(s);
      g_source_unref(s);
    }
  watch_ = timer_ = nullptr;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int PipeRead::readable(int fd, unsigned, void* p) {
  auto* self = static_cast<PipeRead*>(p);
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      if (self->data_.size() + static_cast<std::size_t>(n) > self->limit_) {
        self->finish(std::nullopt, false);
        return G_SOURCE_REMOVE;
      }
      self->data_.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return G_SOURCE_CONTINUE;
    // The end of the answer, or a broken pipe.
    self->finish(n == 0 ? std::optional<std::string>(std::move(self->data_)) : std::nullopt, false);
    return G_SOURCE_REMOVE;
  }
}

int PipeRead::expired(void* p) {
  auto* self = static_cast<PipeRead*>(p);
  g_source_unref(self->timer_);
  self->timer_ = nullptr;
  self->finish(std::nullopt, true);
  return G_SOURCE_REMOVE;
}

void PipeRead::finish(std::optional<std::string> bytes, bool timedOut) {
  stop();
  // Last: the callback may destroy this object.
  Done done = std::move(done_);
  done_ = nullptr;
  if (done) done(std::move(bytes), timedOut);
}

}  // namespace quib
