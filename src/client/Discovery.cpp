#include "client/Discovery.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <algorithm>

namespace quib {

namespace {

struct Browse {
  AvahiSimplePoll* poll = nullptr;
  std::vector<DiscoveredService> found;
  int pendingResolves = 0;
};

void onResolved(AvahiServiceResolver* r, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                const char* name, const char*, const char*, const char* host, const AvahiAddress* address,
                uint16_t port, AvahiStringList*, AvahiLookupResultFlags, void* raw) {
  auto* b = static_cast<Browse*>(raw);
  if (event == AVAHI_RESOLVER_FOUND && address) {
    char text[AVAHI_ADDRESS_STR_MAX];
    avahi_address_snprint(text, sizeof text, address);
    DiscoveredService s{name ? name : "", host ? host : "", text, port};
    if (std::find(b->found.begin(), b->found.end(), s) == b->found.end()) b->found.push_back(s);
  }
  --b->pendingResolves;
  avahi_service_resolver_free(r);
}

void onBrowse(AvahiServiceBrowser* browser, AvahiIfIndex iface, AvahiProtocol protocol,
              AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
              AvahiLookupResultFlags, void* raw) {
  auto* b = static_cast<Browse*>(raw);
  if (event != AVAHI_BROWSER_NEW) return;
  AvahiClient* client = avahi_service_browser_get_client(browser);
  if (avahi_service_resolver_new(client, iface, protocol, name, type, domain, AVAHI_PROTO_UNSPEC,
                                 AvahiLookupFlags(0), onResolved, b))
    ++b->pendingResolves;
}

}  // namespace

DiscoveryResult discoverServices(const std::string& type, std::chrono::milliseconds duration) {
  DiscoveryResult result;
  Browse b;
  b.poll = avahi_simple_poll_new();
  if (!b.poll) {
    result.error = "cannot start DNS-SD";
    return result;
  }
  int error = 0;
  AvahiClient* client =
      avahi_client_new(avahi_simple_poll_get(b.poll), AvahiClientFlags(0), nullptr, nullptr, &error);
  if (!client) {
    result.error = std::string("DNS-SD is not available: ") + avahi_strerror(error);
    avahi_simple_poll_free(b.poll);
    return result;
  }
  AvahiServiceBrowser* browser = avahi_service_browser_new(
      client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type.c_str(), nullptr, AvahiLookupFlags(0), onBrowse, &b);
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (browser) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (avahi_simple_poll_iterate(b.poll, static_cast<int>(std::min<long long>(left.count(), 100))) < 0)
      break;
  }
  if (browser) avahi_service_browser_free(browser);
  avahi_client_free(client);  // frees resolvers still pending
  avahi_simple_poll_free(b.poll);
  result.services = std::move(b.found);
  return result;
}

}  // namespace quib
