#include "server/ServiceAdvertiser.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <cstdio>

namespace quib {

ServiceAdvertiser::~ServiceAdvertiser() {
  stop();
}

void ServiceAdvertiser::start(std::string name, std::string type, std::uint16_t port) {
  stop();
  {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
  }
  type_ = std::move(type);
  port_ = port;
  poll_ = avahi_threaded_poll_new();
  if (!poll_) return;
  int error = 0;
  // NO_FAIL: keep a client even while no daemon runs, and register once one appears.
  client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
                             reinterpret_cast<AvahiClientCallback>(&ServiceAdvertiser::clientCallback), this,
                             &error);
  if (!client_) {
    std::fprintf(stderr, "quibbleton: not advertised by DNS-SD (%s)\n", avahi_strerror(error));
    warned_ = true;
    avahi_threaded_poll_free(poll_);
    poll_ = nullptr;
    return;
  }
  avahi_threaded_poll_start(poll_);
}

void ServiceAdvertiser::stop() {
  if (!poll_) return;
  avahi_threaded_poll_stop(poll_);
  if (client_) avahi_client_free(client_);  // also frees the entry group
  client_ = nullptr;
  group_ = nullptr;
  avahi_threaded_poll_free(poll_);
  poll_ = nullptr;
}

std::string ServiceAdvertiser::currentName() {
  std::lock_guard lock(mutex_);
  return name_;
}

void ServiceAdvertiser::clientCallback(AvahiClient* c, int state, void* raw) {
  auto* self = static_cast<ServiceAdvertiser*>(raw);
  switch (static_cast<AvahiClientState>(state)) {
    case AVAHI_CLIENT_S_RUNNING:
      self->registerService(c);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      if (self->group_) avahi_entry_group_reset(self->group_);
      break;
    case AVAHI_CLIENT_CONNECTING:
      // After a daemon restart the old group belongs to the lost session; start a new one.
      self->group_ = nullptr;
      if (!self->warned_) {
        std::fputs("quibbleton: not advertised by DNS-SD (no Avahi daemon is running)\n", stderr);
        self->warned_ = true;
      }
      break;
    case AVAHI_CLIENT_FAILURE:
      // The daemon went away; NO_FAIL clients get here only on fatal errors. Stay quiet and serve.
      self->group_ = nullptr;
      break;
  }
}

void ServiceAdvertiser::groupCallback(AvahiEntryGroup* g, int state, void* raw) {
  auto* self = static_cast<ServiceAdvertiser*>(raw);
  if (static_cast<AvahiEntryGroupState>(state) == AVAHI_ENTRY_GROUP_COLLISION)
    self->renameAfterCollision(avahi_entry_group_get_client(g));
}

void ServiceAdvertiser::renameAfterCollision(AvahiClient* c) {
  {
    std::lock_guard lock(mutex_);
    char* alt = avahi_alternative_service_name(name_.c_str());
    name_ = alt;
    avahi_free(alt);
  }
  if (group_) avahi_entry_group_reset(group_);
  registerService(c);
}

void ServiceAdvertiser::registerService(AvahiClient* c) {
  if (!group_) {
    group_ = avahi_entry_group_new(
        c, reinterpret_cast<AvahiEntryGroupCallback>(&ServiceAdvertiser::groupCallback), this);
    if (!group_) return;
  }
  if (!avahi_entry_group_is_empty(group_)) return;
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name = currentName();
    int rc = avahi_entry_group_add_service(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                           name.c_str(), type_.c_str(), nullptr, nullptr, port_, nullptr);
    if (rc == AVAHI_ERR_COLLISION) {
      std::lock_guard lock(mutex_);
      char* alt = avahi_alternative_service_name(name_.c_str());
      name_ = alt;
      avahi_free(alt);
      continue;
    }
    if (rc < 0) {
      std::fprintf(stderr, "quibbleton: DNS-SD registration failed (%s)\n", avahi_strerror(rc));
      return;
    }
    avahi_entry_group_commit(group_);
    return;
  }
}

}  // namespace quib
