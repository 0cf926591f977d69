// The sound server's outputs as pactl sees them, on the private server with-desktop.sh starts
// (sinks "Speakers" and "Headphones") or one a test starts and stops itself.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "DesktopTools.h"
#include "actions/AudioOutput.h"
#include "platform/linux/AudioHardware.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

using namespace std::chrono_literals;

std::string pactl(const std::vector<std::string>& args) {
  // pactl's answers are read in English whatever language other tests chose for the process.
  std::vector<std::string> argv = {"LANGUAGE=C", "LC_ALL=C", "pactl"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string out = runTool(argv).out;
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// The first two columns of `pactl list short WHAT`: a sink's index and name, or a stream's index
// and its sink's.
std::map<std::uint32_t, std::string> shortList(const std::string& what) {
  std::istringstream list(pactl({"list", "short", what}));
  std::map<std::uint32_t, std::string> out;
  std::uint32_t index;
  for (std::string second, rest; list >> index >> second && std::getline(list, rest);) out[index] = second;
  return out;
}

std::vector<std::string> names(AudioOutput& out) {
  std::vector<std::string> n;
  for (const auto& d : out.outputDevices()) n.push_back(d.name);
  return n;
}

class LinuxAudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!getenv("PULSE_SERVER")) GTEST_SKIP() << "no private sound server";
  }
  void watch(LinuxAudioHardware& hw) {
    drain();  // the first full read's notice
    hw.setOnChange([this] { ++changes; });
  }
  int changes = 0;
};

TEST_F(LinuxAudioTest, OutputsAreTheSinksAndSwitchingMovesTheStreamAndFollowsPlugging) {
  std::map<std::string, std::uint32_t> sink;
  for (const auto& [index, name] : shortList("sinks")) sink[name] = index;
  ChildProcess player({"/usr/bin/pacat", "--playback", "--raw", "--device=Speakers", "/dev/zero"});
  auto playsOn = [&](const std::string& name) {
    return pollUntil([&] {
      const auto streams = shortList("sink-inputs");
      return streams.size() == 1 && streams.begin()->second == std::to_string(sink[name]);
    });
  };
  ASSERT_TRUE(playsOn("Speakers"));

  LinuxAudioHardware hw;
  watch(hw);
  AudioOutput out(hw);
  EXPECT_EQ(names(out), (std::vector<std::string>{"Speakers", "Headphones"}));
  EXPECT_EQ(out.switchToNext(), "Headphones");
  EXPECT_EQ(pactl({"get-default-sink"}), "Headphones");
  // At once, before the server's notice.
  EXPECT_EQ(out.currentOutputDevice().value_or(AudioOutput::Device{}).name, "Headphones");
  EXPECT_TRUE(playsOn("Headphones"));

  pactl({"load-module", "module-null-sink", "sink_name=Dock", "sink_properties=device.description=Dock"});
  EXPECT_TRUE(pumpUntil([&] { return names(out).size() == 3 && changes > 0; }));
  EXPECT_EQ(names(out), (std::vector<std::string>{"Speakers", "Headphones", "Dock"}));
}

TEST_F(LinuxAudioTest, StartsWithoutTheServerAndFollowsItComingAndGoing) {
  TempDir dir;
  const std::string socket = (dir.path() / "pulse.sock").string();
  // The program's start goes on at once rather than waiting out the limit for a server not there.
  const auto start = std::chrono::steady_clock::now();
  LinuxAudioHardware hw("unix:" + socket, 30s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  AudioOutput out(hw);
  EXPECT_EQ(out.switchToNext(), std::nullopt);

  // Off the session bus, where the desktop's own server holds the name.
  auto server = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/env", "DBUS_SESSION_BUS_ADDRESS=unix:path=" + socket + ".no-bus",
                               QUIB_SOUND_SERVER, socket, "Solo"},
      ChildProcess::Output::pipe);
  ASSERT_TRUE(server->waitFor("ready\n", 15s)) << server->output();
  EXPECT_TRUE(pumpUntil([&] { return hw.ready(); }, 15s));
  watch(hw);
  EXPECT_EQ(names(out), (std::vector<std::string>{"Solo"}));

  server.reset();
  EXPECT_TRUE(pumpUntil([&] { return !hw.ready() && changes > 0; }));
  EXPECT_EQ(out.currentOutputDevice(), std::nullopt);
}

}  // namespace
}  // namespace quib::test
