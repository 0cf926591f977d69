#include <gtest/gtest.h>

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
  return trimmed(runTool(argv).out);
}

// Index of a sink by its name, from pactl's short list.
std::optional<std::uint32_t> sinkIndex(const std::string& name) {
  std::istringstream list(pactl({"list", "short", "sinks"}));
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::uint32_t index;
    std::string n;
    if (fields >> index >> n && n == name) return index;
  }
  return std::nullopt;
}

// The sinks of the playing streams.
std::vector<std::uint32_t> streamSinks() {
  std::istringstream list(pactl({"list", "short", "sink-inputs"}));
  std::vector<std::uint32_t> out;
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::uint32_t input, sink;
    if (fields >> input >> sink) out.push_back(sink);
  }
  return out;
}

// "55%" from pactl's volume line: the first channel.
std::string defaultVolume() {
  const std::string v = pactl({"get-sink-volume", "@DEFAULT_SINK@"});
  const auto pct = v.find('%');
  if (pct == std::string::npos) return v;
  auto start = v.rfind(' ', pct);
  return v.substr(start + 1, pct - start);
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
};

TEST_F(LinuxAudioTest, OutputsAreTheSinksByDescriptionAndSwitchingMovesTheStream) {
  const auto speakers = sinkIndex("Speakers"), headphones = sinkIndex("Headphones");
  ChildProcess player({"/usr/bin/pacat", "--playback", "--raw", "--device=Speakers", "/dev/zero"});
  ASSERT_TRUE(pollUntil([&] { return streamSinks() == std::vector{*speakers}; }));

  LinuxAudioHardware hw;
  drain();  // the first full read's notice
  int changes = 0;
  hw.setOnChange([&] { ++changes; });
  AudioOutput out(hw);
  auto devices = out.outputDevices();
  EXPECT_EQ(devices,
            (std::vector<AudioOutput::Device>{{*speakers, "Speakers"}, {*headphones, "Headphones"}}));
  EXPECT_EQ(out.currentOutputDevice(), devices.at(0));
  EXPECT_EQ(hw.outputChannelsPerBuffer(*headphones), (std::vector<std::uint32_t>{2}));
  EXPECT_EQ(hw.deviceName(*headphones + 1000), std::nullopt);
  EXPECT_EQ(out.switchToNext(), "Headphones");
  EXPECT_EQ(pactl({"get-default-sink"}), "Headphones");
  ASSERT_TRUE(out.currentOutputDevice());
  EXPECT_EQ(out.currentOutputDevice()->name, "Headphones");  // at once, before the server's notice
  EXPECT_TRUE(pollUntil([&] { return streamSinks() == std::vector{*headphones}; }));
  EXPECT_TRUE(pumpUntil([&] { return changes > 0; }));

  // The last output wraps to the first.
  EXPECT_EQ(out.switchToNext(), "Speakers");
  EXPECT_EQ(pactl({"get-default-sink"}), "Speakers");
  EXPECT_TRUE(pollUntil([&] { return streamSinks() == std::vector{*speakers}; }));
}

TEST_F(LinuxAudioTest, PluggedOutputAppearsAndGoes) {
  LinuxAudioHardware hw;
  drain();
  int changes = 0;
  hw.setOnChange([&] { ++changes; });
  AudioOutput out(hw);
  const std::string module =
      pactl({"load-module", "module-null-sink", "sink_name=Dock", "sink_properties=device.description=Dock"});
  ASSERT_FALSE(module.empty());
  EXPECT_TRUE(pumpUntil([&] { return names(out).size() == 3 && changes > 0; }));
  EXPECT_EQ(names(out), (std::vector<std::string>{"Speakers", "Headphones", "Dock"}));
  ASSERT_TRUE(out.currentOutputDevice());
  EXPECT_EQ(out.currentOutputDevice()->name, "Speakers");

  const int seen = changes;
  pactl({"unload-module", module});
  EXPECT_TRUE(pumpUntil([&] { return names(out).size() == 2 && changes > seen; }));
}

TEST_F(LinuxAudioTest, VolumeKeysStepTheDefaultSinkAndStopAtFull) {
  pactl({"set-sink-volume", "@DEFAULT_SINK@", "50%"});
  pactl({"set-sink-mute", "@DEFAULT_SINK@", "0"});
  LinuxAudioHardware hw;
  ASSERT_TRUE(hw.ready());
  // Two quick presses are two steps.
  hw.mediaKey(LinuxAudioHardware::kVolumeUp);
  hw.mediaKey(LinuxAudioHardware::kVolumeUp);
  EXPECT_TRUE(pollUntil([] { return defaultVolume() == "60%"; })) << defaultVolume();
  hw.mediaKey(LinuxAudioHardware::kVolumeDown);
  EXPECT_TRUE(pollUntil([] { return defaultVolume() == "55%"; })) << defaultVolume();

  hw.mediaKey(LinuxAudioHardware::kMuteToggle);
  EXPECT_TRUE(pollUntil([] { return pactl({"get-sink-mute", "@DEFAULT_SINK@"}) == "Mute: yes"; }));
  hw.mediaKey(LinuxAudioHardware::kMuteToggle);
  EXPECT_TRUE(pollUntil([] { return pactl({"get-sink-mute", "@DEFAULT_SINK@"}) == "Mute: no"; }));
  // Raising the volume unmutes, as the desktops' own keys do.
  hw.mediaKey(LinuxAudioHardware::kMuteToggle);
  hw.mediaKey(LinuxAudioHardware::kVolumeUp);
  EXPECT_TRUE(pollUntil([] {
    return pactl({"get-sink-mute", "@DEFAULT_SINK@"}) == "Mute: no" && defaultVolume() == "60%";
  }));

  for (int i = 0; i < 12; ++i) hw.mediaKey(LinuxAudioHardware::kVolumeUp);
  EXPECT_TRUE(pollUntil([] { return defaultVolume() == "100%"; })) << defaultVolume();
  hw.mediaKey(LinuxAudioHardware::kVolumeUp);
  hw.mediaKey(LinuxAudioHardware::kMuteToggle);  // a later change, to know the one before is done
  EXPECT_TRUE(pollUntil([] { return pactl({"get-sink-mute", "@DEFAULT_SINK@"}) == "Mute: yes"; }));
  EXPECT_EQ(defaultVolume(), "100%");
  pactl({"set-sink-mute", "@DEFAULT_SINK@", "0"});
}

TEST_F(LinuxAudioTest, LostServerEmptiesTheOutputsUntilItIsBack) {
  TempDir dir;
  const std::string socket = (dir.path() / "pulse.sock").string();
  auto startServer = [&] {
    // Off the session bus, where the desktop's own server holds the name.
    auto server = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/env",
                                 "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "no-bus").string(),
                                 QUIB_SOUND_SERVER, socket, "Solo"},
        ChildProcess::Output::pipe);
    EXPECT_TRUE(server->waitFor("ready\n", 15s)) << server->output();
    return server;
  };
  auto server = startServer();
  LinuxAudioHardware hw("unix:" + socket);
  drain();
  int changes = 0;
  hw.setOnChange([&] { ++changes; });
  AudioOutput out(hw);
  EXPECT_EQ(names(out), (std::vector<std::string>{"Solo"}));

  server.reset();
  EXPECT_TRUE(pumpUntil([&] { return !hw.ready() && changes > 0; }));
  EXPECT_TRUE(out.outputDevices().empty());
  EXPECT_EQ(out.currentOutputDevice(), std::nullopt);
  EXPECT_EQ(out.switchToNext(), std::nullopt);

  server = startServer();
  EXPECT_TRUE(pumpUntil([&] { return hw.ready(); }, 15s));
  EXPECT_EQ(names(out), (std::vector<std::string>{"Solo"}));
  ASSERT_TRUE(out.currentOutputDevice());
  EXPECT_EQ(out.currentOutputDevice()->name, "Solo");
}

}  // namespace
}  // namespace quib::test
