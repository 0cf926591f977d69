#pragma once
// A connection of its own to a test's bus, dispatched on a thread of its own, for a fake desktop
// service that must answer while the test thread waits in a call to it (as a real service, in
// another process, does). Work for the service's state runs there through run().
#include <gio/gio.h>

#include <functional>
#include <string>
#include <thread>

namespace quib::test {

class BusThread {
 public:
  // Connects to `address` on the new thread and runs `setUp` there with the connection (null when
  // it failed); returns once `setUp` did. `tearDown` runs there before the connection closes.
  BusThread(const std::string& address, std::function<void(GDBusConnection*)> setUp,
            std::function<void(GDBusConnection*)> tearDown);
  ~BusThread();
  BusThread(const BusThread&) = delete;
  BusThread& operator=(const BusThread&) = delete;

  // Runs `work` on the thread and waits for it.
  void run(const std::function<void()>& work);

 private:
  GMainContext* context_;
  GMainLoop* loop_;
  std::thread thread_;
};

}  // namespace quib::test
