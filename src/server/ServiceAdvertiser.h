#pragma once
// Advertises the listener by DNS-SD through the Avahi daemon. Best effort: without a daemon the
// server still serves, and says so once on stderr. When the daemon appears later, or restarts, the
// service is registered again; a name taken by another host gets Avahi's alternative name.
// start() and stop() are called from the server queue; Avahi's callbacks run on its own poll thread.
#include <cstdint>
#include <mutex>
#include <string>

struct AvahiThreadedPoll;
struct AvahiClient;
struct AvahiEntryGroup;

namespace quib {

class ServiceAdvertiser {
 public:
  ServiceAdvertiser() = default;
  ~ServiceAdvertiser();
  ServiceAdvertiser(const ServiceAdvertiser&) = delete;
  ServiceAdvertiser& operator=(const ServiceAdvertiser&) = delete;

  void start(std::string name, std::string type, std::uint16_t port);
  void stop();
  // The name under which the service is registered now (after any collision), for tests and logs.
  std::string currentName();

 private:
  static void clientCallback(AvahiClient* c, int state, void* self);
  static void groupCallback(AvahiEntryGroup* g, int state, void* self);
  void registerService(AvahiClient* c);  // on the poll thread, poll lock held
  void renameAfterCollision(AvahiClient* c);

  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
  std::mutex mutex_;  // guards name_ against currentName() from other threads
  std::string name_;
  std::string type_;
  std::uint16_t port_ = 0;
  bool warned_ = false;
};

}  // namespace quib
