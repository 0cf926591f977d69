// Round trips through a real server on loopback.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "crypto/Random.h"
#include "server/DeviceRegistry.h"
#include "support/TestImages.h"
#include "support/TestServer.h"

namespace quib {
namespace {

void BM_SealedPingRoundTrip(benchmark::State& state) {
  test::TestServer t;
  auto c = t.connect();
  c->usePairingCode(t.server().pairingCode());
  auto ping = test::request(ClientMessage::Kind::ping, "1");
  for (auto _ : state) benchmark::DoNotOptimize(c->request(ping));
}
BENCHMARK(BM_SealedPingRoundTrip)->UseRealTime();

// A returning phone's first line must be tried against every paired token's key.
void BM_ReturningPhoneFirstLine(benchmark::State& state) {
  test::TestServer t;
  std::string token;
  t.connectPaired("bench", &token);
  std::vector<std::string> tokens{token};
  for (int i = 1; i < state.range(0); ++i) tokens.push_back(Random::uuidString());
  t.defaults().setStringArray(DeviceRegistry::kTokensKey, tokens);
  auto ping = test::request(ClientMessage::Kind::ping, "1");
  for (auto _ : state) {
    state.PauseTiming();
    QuibClient c;
    c.connect("127.0.0.1", t.port());
    c.useToken(token);
    state.ResumeTiming();
    benchmark::DoNotOptimize(c.request(ping));
  }
}
BENCHMARK(BM_ReturningPhoneFirstLine)
    ->Arg(1)
    ->Arg(100)
    ->Arg(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// A stranger's sealed first line that opens under no key: every stored token is tried on it.
// Args: stored tokens, sealed JSON bytes (1.4 KB, and the largest first line a phone may send).
void BM_GarbageFirstLine(benchmark::State& state) {
  test::TestServer t;
  std::vector<std::string> tokens;
  for (int i = 0; i < state.range(0); ++i) tokens.push_back(Random::uuidString());
  t.defaults().setStringArray(DeviceRegistry::kTokensKey, tokens);
  const std::string line = SecureChannel::sealText(std::string(static_cast<std::size_t>(state.range(1)), 'x'),
                                                   SecureChannel::pairKey("none", Bytes(16)));
  for (auto _ : state) {
    state.PauseTiming();
    t.server().setPairingCode(QuibServer::makePairingCode());  // the address is never refused
    QuibClient c;
    c.connect("127.0.0.1", t.port());
    state.ResumeTiming();
    c.sendRaw(line);
    benchmark::DoNotOptimize(c.readReply());
  }
}
BENCHMARK(BM_GarbageFirstLine)
    ->Args({1000, 1400})
    ->Args({1000, 80 * 1024})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
// One phone's pings while another phone keeps asking for icons that are not cached yet (each at a
// new size, so each one is decoded, trimmed and drawn anew). Arg 0: no icon traffic, for
// comparison. Reports the 99th percentile of the ping round trip.
void BM_PingWhileColdIconsRender(benchmark::State& state) {
  const bool rendering = state.range(0) == 1;
  test::TestServer t;
  std::filesystem::create_directories(t.desktop().files().onDisk("/Applications/Big.app"));
  Image big = test::solid(1024, 1024, test::kClear);
  test::fillDisc(big, 512, 512, 420, test::kRed);
  t.desktop().applications().setIcon("/Applications/Big.app", test::pngBytes(big));
  std::atomic<bool> stop{false};
  std::atomic<int> rendered{0};
  std::thread iconPhone;
  if (rendering)
    iconPhone = std::thread([&] {
      auto c = t.connect();
      c->usePairingCode(t.server().pairingCode());
      for (int size = 64; !stop; ++size) {
        auto m = test::request(ClientMessage::Kind::appIcon, "i");
        m.appName = "Big";
        m.iconSize = size;
        c->request(m, std::chrono::seconds(60));
        ++rendered;
      }
    });
  auto c = t.connect();
  c->usePairingCode(t.server().pairingCode());
  auto ping = test::request(ClientMessage::Kind::ping, "1");
  std::vector<double> ms;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(c->request(ping));
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // spread the pings over the renders
  }
  stop = true;
  if (iconPhone.joinable()) iconPhone.join();
  std::sort(ms.begin(), ms.end());
  state.counters["p99_ms"] = ms.empty() ? 0 : ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  state.counters["max_ms"] = ms.empty() ? 0 : ms.back();
  state.counters["cold_renders"] = rendered.load();
  state.SetLabel(rendering ? "while icons render" : "quiet");
}
BENCHMARK(BM_PingWhileColdIconsRender)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quib
