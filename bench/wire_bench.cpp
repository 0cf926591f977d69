// Per-line costs: sealing, key derivation, record coding and line splitting.
#include <benchmark/benchmark.h>

#include "crypto/SecureChannel.h"
#include "server/LineBuffer.h"
#include "server/QuibCodec.h"

namespace quib {
namespace {

void BM_SealOpen100Bytes(benchmark::State& state) {
  const auto key = SecureChannel::pairKey("123456", Bytes(16, 1));
  const std::string json = R"({"type":"ack","requestId":"12345","ok":true,"message":")" +
                           std::string(40, 'x') + R"(","accessibilityGranted":true})";
  for (auto _ : state) {
    std::string line = SecureChannel::sealText(json, key);
    line.pop_back();
    benchmark::DoNotOptimize(SecureChannel::openText(line, key));
  }
  state.SetLabel(std::to_string(json.size()) + " bytes");
}
BENCHMARK(BM_SealOpen100Bytes);

void BM_HkdfDerive(benchmark::State& state) {
  const Bytes salt(16, 3);
  for (auto _ : state)
    benchmark::DoNotOptimize(SecureChannel::tokenKey("0F8FAD5B-D9CB-469F-A165-70867728950E", salt));
}
BENCHMARK(BM_HkdfDerive);

ClientMessage actionRequest() {
  ClientMessage m;
  m.type = ClientMessage::Kind::action;
  m.action = QuibAction{QuibActionKind::keystroke,
                        "c",
                        {"command", "shift"},
                        std::nullopt,
                        std::nullopt,
                        std::nullopt,
                        std::nullopt};
  m.requestId = "42";
  return m;
}

void BM_EncodeActionRequest(benchmark::State& state) {
  const auto m = actionRequest();
  for (auto _ : state) benchmark::DoNotOptimize(QuibCodec::encode(m));
}
BENCHMARK(BM_EncodeActionRequest);

void BM_DecodeActionRequest(benchmark::State& state) {
  const std::string text = QuibCodec::encode(actionRequest());
  for (auto _ : state) benchmark::DoNotOptimize(QuibCodec::decode<ClientMessage>(text));
}
BENCHMARK(BM_DecodeActionRequest);

// A 64 KiB chunk holding state.range(0) lines; the per-byte cost must not grow with the line count.
void BM_LineBuffer64KiB(benchmark::State& state) {
  const std::size_t lines = static_cast<std::size_t>(state.range(0));
  const std::size_t chunkBytes = 64 * 1024;
  const std::size_t lineLen = chunkBytes / lines;
  std::string chunk;
  for (std::size_t i = 0; i < lines; ++i) chunk += std::string(lineLen - 1, 'a') + "\n";
  chunk.resize(chunkBytes, 'b');  // an unfinished line carried into the next chunk
  LineBuffer buffer;
  std::size_t seen = 0;
  for (auto _ : state) {
    buffer.append(
        chunk, [&](std::string_view l) { seen += l.size(); }, [] {});
  }
  benchmark::DoNotOptimize(seen);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk.size()));
}
BENCHMARK(BM_LineBuffer64KiB)->Arg(100)->Arg(10000);

}  // namespace
}  // namespace quib
