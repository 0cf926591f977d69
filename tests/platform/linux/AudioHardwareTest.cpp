// The sound server's outputs and volume as pactl sees them, on the private server with-desktop.sh
// starts (sinks "Speakers" and "Headphones") or one a test starts and stops itself.
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
  std::vector<std::string> argv = {"env", "LANGUAGE=C", "LC_ALL=C", "pactl"};
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

// The default sink's first channel's volume and whether it is muted: "55% no".
std::string sinkState() {
  const std::string v = pactl({"get-sink-volume", "@DEFAULT_SINK@"});
  const auto pct = v.find('%'), start = v.rfind(' ', pct);
  return v.substr(start + 1, pct - start) + " " + pactl({"get-sink-mute", "@DEFAULT_SINK@"}).erase(0, 6);
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
  EXPECT_EQ(out.outputDevices(), (std::vector<AudioOutput::Device>{{sink["Speakers"], "Speakers"},
                                                                   {sink["Headphones"], "Headphones"}}));
  EXPECT_EQ(out.currentOutputDevice(), out.outputDevices().at(0));
  EXPECT_EQ(hw.outputChannelsPerBuffer(sink["Headphones"]), (std::vector<std::uint32_t>{2}));
  EXPECT_EQ(hw.deviceName(sink["Headphones"] + 1000), std::nullopt);
  EXPECT_EQ(out.switchToNext(), "Headphones");
  EXPECT_EQ(pactl({"get-default-sink"}), "Headphones");
  ASSERT_TRUE(out.currentOutputDevice());
  EXPECT_EQ(out.currentOutputDevice()->name, "Headphones");  // at once, before the server's notice
  EXPECT_TRUE(playsOn("Headphones"));
  EXPECT_TRUE(pumpUntil([&] { return changes > 0; }));
  // The last output wraps to the first.
  EXPECT_EQ(out.switchToNext(), "Speakers");
  EXPECT_TRUE(playsOn("Speakers"));

  const int seen = changes;
  const std::string module =
      pactl({"load-module", "module-null-sink", "sink_name=Dock", "sink_properties=device.description=Dock"});
  EXPECT_TRUE(pumpUntil([&] { return names(out).size() == 3 && changes > seen; }));
  EXPECT_EQ(names(out), (std::vector<std::string>{"Speakers", "Headphones", "Dock"}));
  pactl({"unload-module", module});
  EXPECT_TRUE(pumpUntil([&] { return names(out).size() == 2; }));
}

TEST_F(LinuxAudioTest, VolumeKeysStepTheDefaultSinkAndStopAtFull) {
  pactl({"set-sink-volume", "@DEFAULT_SINK@", "50%"});
  pactl({"set-sink-mute", "@DEFAULT_SINK@", "0"});
  LinuxAudioHardware hw;
  ASSERT_TRUE(hw.ready());
  using H = LinuxAudioHardware;
  // Each row waits for its own state, so a step too many in one row fails the next.
  const struct {
    int key, presses;
    std::string state;
  } steps[] = {{H::kVolumeUp, 2, "60% no"},  // two quick presses are two steps
               {H::kVolumeDown, 1, "55% no"},   {H::kMuteToggle, 1, "55% yes"},
               {H::kVolumeUp, 1, "60% no"},  // raising the volume unmutes, as the desktops' own keys do
               {H::kVolumeUp, 12, "100% no"},   {H::kVolumeUp, 1, "100% no"},
               {H::kMuteToggle, 1, "100% yes"}, {H::kMuteToggle, 1, "100% no"}};
  for (const auto& s : steps) {
    for (int i = 0; i < s.presses; ++i) hw.mediaKey(s.key);
    EXPECT_TRUE(pollUntil([&] { return sinkState() == s.state; })) << s.state << ": " << sinkState();
  }
}

TEST_F(LinuxAudioTest, LostServerEmptiesTheOutputsUntilItIsBack) {
  TempDir dir;
  const std::string socket = (dir.path() / "pulse.sock").string();
  auto startServer = [&] {
    // Off the session bus, where the desktop's own server holds the name.
    auto server = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/env", "DBUS_SESSION_BUS_ADDRESS=unix:path=" + socket + ".no-bus",
                                 QUIB_SOUND_SERVER, socket, "Solo"},
        ChildProcess::Output::pipe);
    EXPECT_TRUE(server->waitFor("ready\n", 15s)) << server->output();
    return server;
  };
  auto server = startServer();
  LinuxAudioHardware hw("unix:" + socket);
  watch(hw);
  AudioOutput out(hw);
  EXPECT_EQ(names(out), (std::vector<std::string>{"Solo"}));

  server.reset();
  EXPECT_TRUE(pumpUntil([&] { return !hw.ready() && changes > 0; }));
  EXPECT_EQ(out.currentOutputDevice(), std::nullopt);
  EXPECT_EQ(out.switchToNext(), std::nullopt);

  server = startServer();
  EXPECT_TRUE(pumpUntil([&] { return hw.ready(); }, 15s));
  ASSERT_TRUE(out.currentOutputDevice());
  EXPECT_EQ(out.currentOutputDevice()->name, "Solo");
}

}  // namespace
}  // namespace quib::test
