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

}  // namespace
}  // namespace quib
