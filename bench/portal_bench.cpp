// Pointer moves per second through the RemoteDesktop portal path: NotifyPointerMotion calls from
// the portal sink to a fake portal on a private session bus, counted once the portal has them.
// The fake answers in this process (one dbus-daemon hop each way), so the figure is the sink's and
// the bus's share; a real portal adds its own hop to the compositor.
#include <benchmark/benchmark.h>

#include <chrono>

#include "platform/wayland/portal/PortalInput.h"
#include "support/FakePortal.h"
#include "support/SessionBus.h"

namespace {

void pointerMotion(benchmark::State& state) {
  quib::test::SessionBus bus;
  if (!bus.running()) {
    state.SkipWithError("dbus-daemon did not start");
    return;
  }
  GDBusConnection* client = g_dbus_connection_new_for_address_sync(
      bus.address().c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  {
    quib::test::FakeRemoteDesktop portal(bus);
    portal.recordInput = false;
    quib::PortalInputOptions options;
    options.bus = client;
    quib::PortalInput input(std::move(options));
    input.start();
    if (!bus.pump([&] { return input.ready(); })) {
      state.SkipWithError("the portal session did not start");
    } else {
      // Moves are sent in bursts of `burst` (a phone's drag gives several per frame), then the
      // burst is waited for at the portal.
      const auto burst = static_cast<std::uint64_t>(state.range(0));
      for (auto _ : state) {
        const std::uint64_t target = portal.inputCalls() + burst;
        for (std::uint64_t i = 0; i < burst; ++i) input.motionRelative(1, 0);
        if (!bus.pump([&] { return portal.inputCalls() >= target; }, std::chrono::seconds(30))) {
          state.SkipWithError("the portal stopped receiving");
          break;
        }
      }
      state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * burst));
    }
  }
  g_dbus_connection_close_sync(client, nullptr, nullptr);
  g_object_unref(client);
}
BENCHMARK(pointerMotion)->Arg(1)->Arg(64)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
