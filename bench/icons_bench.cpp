// Icon work: app-icon rendering, candidate analysis, declaration parsing, a whole site search.
#include <benchmark/benchmark.h>

#include <fstream>
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

// Every response 100 ms late: https://a.test/ redirects to www.a.test, whose page links a manifest
// listing four icons; with the fallbacks that makes six candidates. Arg 0 fetches them one after
// another (as the original rule has it), arg 1 all at once; both choose the same icon.
void BM_SlowSiteSearch(benchmark::State& state) {
  const bool concurrent = state.range(0) == 1;
  const auto late = std::chrono::milliseconds(100);
  TestHttpsServer apex, www;
  TempDir dir;
  apex.route("/", 301, "", "https://www.a.test/", late);
  www.route("/", 200, R"(<link rel="manifest" href="/app.json">)", "", late);
  www.route("/app.json", 200,
            R"({"icons":[{"src":"/i1.png","sizes":"512x512"},{"src":"/i2.png","sizes":"256x256"},)"
            R"({"src":"/i3.png","sizes":"192x192"},{"src":"/i4.png","sizes":"96x96"}]})",
            "", late);
  for (int i = 1; i <= 4; ++i)
    www.route("/i" + std::to_string(i) + ".png", 200, pngBytes(solid(64 * i, 64 * i, kRed)), "", late);
  for (const char* fallback : {"/apple-touch-icon.png", "/apple-touch-icon-precomposed.png"})
    www.route(fallback, 404, "", "", late);
  HttpFetcher::Options o;
  o.caFile = (dir.path() / "both.pem").string();
  {
    std::ofstream both(o.caFile);
    both << std::ifstream(apex.caFile()).rdbuf() << std::ifstream(www.caFile()).rdbuf();
  }
  o.connectTo = apex.connectTo({"a.test"});
  for (const auto& c : www.connectTo({"www.a.test"})) o.connectTo.push_back(c);
  o.publicLoopbackPorts = {apex.port(), www.port()};
  o.maxConcurrent = concurrent ? 6 : 1;
  for (auto _ : state) {
    SiteIconProvider provider(o, 1);  // a fresh cache: every round searches
    std::promise<bool> done;
    provider.iconBase64("https://a.test/", 256,
                        [&](std::optional<std::string> r) { done.set_value(r.has_value()); });
    if (!done.get_future().get()) state.SkipWithError("no icon");
  }
  state.SetLabel(concurrent ? "concurrent" : "one after another");
}
BENCHMARK(BM_SlowSiteSearch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

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
