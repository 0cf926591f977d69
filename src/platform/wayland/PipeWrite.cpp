#include "platform/wayland/PipeWrite.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace quib {

namespace {

// On the caller's thread-default context, as the rest of its work.
void attach(GSource* source, GSourceFunc callback, gpointer data) {
  g_source_set_callback(source, callback, data, nullptr);
  g_source_attach(source, g_main_context_get_thread_default());
  g_source_unref(source);
}

struct PipeWrite {
  static constexpr guint kDrainPollMs = 2;
  static constexpr int kDrainPolls = 500;
  static constexpr guint kReaderGraceMs = 100;

  int fd;
  std::string data;
  std::function<void(bool)> written;
  std::size_t done = 0;
  int polls = 0;

  static gboolean step(gint fd, GIOCondition, gpointer p) {
    auto* w = static_cast<PipeWrite*>(p);
    while (w->done < w->data.size()) {
      const ssize_t n = ::write(fd, w->data.data() + w->done, w->data.size() - w->done);
      if (n > 0) {
        w->done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return G_SOURCE_CONTINUE;
      break;  // the reader went away
    }
    if (w->done == w->data.size() && w->written) {
      attach(g_timeout_source_new(kDrainPollMs), drained, w);
      return G_SOURCE_REMOVE;
    }
    ::close(fd);
    if (w->written) w->written(false);
    delete w;
    return G_SOURCE_REMOVE;
  }

  static gboolean drained(gpointer p) {
    auto* w = static_cast<PipeWrite*>(p);
    int left = 0;
    if (ioctl(w->fd, FIONREAD, &left) == 0 && left > 0 && ++w->polls < kDrainPolls) return G_SOURCE_CONTINUE;
    ::close(w->fd);
    attach(
        g_timeout_source_new(kReaderGraceMs),
        [](gpointer p) -> gboolean {
          auto* w = static_cast<PipeWrite*>(p);
          w->written(true);
          delete w;
          return G_SOURCE_REMOVE;
        },
        w);
    return G_SOURCE_REMOVE;
  }

  static void start(int fd, std::string data, std::function<void(bool)> written) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto* w = new PipeWrite{fd, std::move(data), std::move(written)};
    if (step(fd, G_IO_OUT, w) == G_SOURCE_CONTINUE)
      attach(g_unix_fd_source_new(fd, static_cast<GIOCondition>(G_IO_OUT | G_IO_ERR | G_IO_HUP)),
             G_SOURCE_FUNC(step), w);
  }
};

}  // namespace

void writeToPipe(int fd, std::string data, std::function<void(bool)> written) {
  PipeWrite::start(fd, std::move(data), std::move(written));
}

}  // namespace quib
