// Round trips through a real server on loopback.
#include <benchmark/benchmark.h>

#include "crypto/Random.h"
#include "server/DeviceRegistry.h"
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

}  // namespace
}  // namespace quib
