// Icon work: app-icon rendering, candidate analysis, declaration parsing, a whole site search.
#include <benchmark/benchmark.h>

#include <future>

#include "icons/AppIconProvider.h"
#include "icons/IconDeclarations.h"
#include "icons/SiteIconAnalysis.h"
#include "icons/SiteIconProvider.h"
#include "platform/virtual/Desktop.h"
#include "support/TempDir.h"
#include "support/TestHttpsServer.h"
#include "support/TestImages.h"

namespace quib {
namespace {

using namespace test;

Image bigIcon() {
  Image img = solid(1024, 1024, kClear);
  fillDisc(img, 512, 512, 420, kRed);
  return img;
}

void BM_AppIcon1024At256(benchmark::State& state) {
  const bool cached = state.range(0) == 1;
  TempDir root;
  VirtualDesktop desktop(root.path());
  std::filesystem::create_directories(desktop.files().onDisk("/Applications/Big.app"));
  desktop.applications().setIcon("/Applications/Big.app", pngBytes(bigIcon()));
  AppLocator apps(desktop.applications());
  std::unique_ptr<AppIconProvider> provider = std::make_unique<AppIconProvider>(apps, desktop.applications());
  if (cached) provider->iconBase64("Big", 256);
  for (auto _ : state) {
    if (!cached) {
      state.PauseTiming();
      provider = std::make_unique<AppIconProvider>(apps, desktop.applications());  // an empty cache each round
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(provider->iconBase64("Big", 256));
  }
  state.SetLabel(cached ? "cached" : "first");
}
BENCHMARK(BM_AppIcon1024At256)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Analyze512(benchmark::State& state) {
  Image img = solid(512, 512, kWhite);
  fillDisc(img, 256, 256, 200, kRed);
  for (auto _ : state) benchmark::DoNotOptimize(SiteIconAnalysis::analyze(img));
}
BENCHMARK(BM_Analyze512);

void BM_DeclaredIconsOneMegabytePage(benchmark::State& state) {
  std::string page = "<html><head>";
  while (page.size() < 1024 * 1024)
    page += R"(<link rel="icon" href="/i.png" sizes="32x32"><p>filler text here</p>)";
  for (auto _ : state) benchmark::DoNotOptimize(IconDeclarations::declaredIcons(page, "https://site.test/"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_DeclaredIconsOneMegabytePage)->Unit(benchmark::kMillisecond);

void BM_WholeSiteSearch(benchmark::State& state) {
  TestHttpsServer server;
  server.route("/", 200, R"(<link rel="apple-touch-icon" href="/touch.png" sizes="180x180">)");
  server.route("/touch.png", 200, pngBytes(solid(180, 180, kRed)));
  HttpFetcher::Options o;
  o.caFile = server.caFile();
  o.connectTo = server.connectTo();
  for (auto _ : state) {
    SiteIconProvider provider(o, 1);  // a fresh cache: every round searches
    std::promise<bool> done;
    provider.iconBase64("https://site.test/", 256,
                        [&](std::optional<std::string> r) { done.set_value(r.has_value()); });
    benchmark::DoNotOptimize(done.get_future().get());
  }
}
BENCHMARK(BM_WholeSiteSearch)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quib
