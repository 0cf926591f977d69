#include "support/BusThread.h"

#include <condition_variable>
#include <mutex>

namespace quib::test {

BusThread::BusThread(const std::string& address, std::function<void(GDBusConnection*)> setUp,
                     std::function<void(GDBusConnection*)> tearDown)
    : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
  std::mutex m;
  std::condition_variable cv;
  bool started = false;
  thread_ = std::thread([&, setUp = std::move(setUp), tearDown = std::move(tearDown)] {
    g_main_context_push_thread_default(context_);
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    setUp(connection);
    {
      std::lock_guard lock(m);
      started = true;
      cv.notify_all();
    }
    g_main_loop_run(loop_);
    tearDown(connection);
    if (connection) {
      g_dbus_connection_close_sync(connection, nullptr, nullptr);
      g_object_unref(connection);
    }
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
  });
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return started; });
}

BusThread::~BusThread() {
  run([this] { g_main_loop_quit(loop_); });
  thread_.join();
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

void BusThread::run(const std::function<void()>& work) {
  struct Job {
    const std::function<void()>* work;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  } job{&work, {}, {}, false};
  g_main_context_invoke(
      context_,
      [](gpointer data) -> gboolean {
        auto* j = static_cast<Job*>(data);
        (*j->work)();
        std::lock_guard lock(j->m);
        j->done = true;
        j->cv.notify_all();
        return G_SOURCE_REMOVE;
      },
      &job);
  std::unique_lock lock(job.m);
  job.cv.wait(lock, [&] { return job.done; });
}

}  // namespace quib::test
