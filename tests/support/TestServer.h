#pragma once
// A server on an ephemeral loopback port with a virtual desktop, a temporary defaults store, a test
// clock for its guards, and a main queue run by a thread of its own (the test's "main thread").
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "actions/ActionExecutor.h"
#include "actions/ClipboardWatcher.h"
#include "client/QuibClient.h"
#include "icons/DesktopQueries.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "platform/SqliteDefaults.h"
#include "platform/virtual/Desktop.h"
#include "server/QuibServer.h"
#include "support/QueueCall.h"
#include "support/TempDir.h"

namespace quib::test {

class TestServer {
 public:
  // With start false the server is left for the test to start (as the shell does).
  explicit TestServer(QuibServer::Options options = {}, bool start = true, HttpFetcher::Options fetch = {});
  ~TestServer();

  QuibServer& server() { return *server_; }
  VirtualDesktop& desktop() { return desktop_; }
  SqliteDefaults& defaults() { return *defaults_; }
  ClipboardWatcher& clipboard() { return *clipboard_; }
  ManualClock& clock() { return clock_; }
  MainQueue& mainQueue() { return mainQueue_; }
  std::uint16_t port() const { return server_->boundPort(); }
  const std::filesystem::path& dataDir() const { return dir_.path(); }

  // A client connected to the server, greeting read.
  std::unique_ptr<QuibClient> connect() { return connectFrom("127.0.0.1"); }
  // The same from a given loopback address (127.0.0.2, ...), as another machine would.
  std::unique_ptr<QuibClient> connectFrom(const std::string& localAddress);
  // A client paired with the current code; its token is in the client's last reply.
  std::unique_ptr<QuibClient> connectPaired(std::optional<std::string> deviceName,
                                            std::string* token = nullptr);

  // Runs f on the main queue and waits for it.
  template <typename F>
  decltype(auto) onMain(F&& f) {
    return onQueue(mainQueue_, std::forward<F>(f));
  }

  std::vector<std::string> states();
  std::vector<int> counts();
  // Waits (bounded) until the last reported count is n.
  bool waitForCount(int n);

 private:
  TempDir dir_;
  ManualClock clock_;
  MainQueue mainQueue_{clock_};
  VirtualDesktop desktop_{dir_.path() / "root"};
  std::unique_ptr<SqliteDefaults> defaults_;
  std::unique_ptr<ActionExecutor> executor_;
  std::unique_ptr<ClipboardWatcher> clipboard_;
  std::unique_ptr<DesktopQueries> queries_;
  std::unique_ptr<QuibServer> server_;
  std::thread mainThread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> states_;
  std::vector<int> counts_;
};

ClientMessage request(ClientMessage::Kind type, std::optional<std::string> requestId = std::nullopt);
ClientMessage actionRequest(std::optional<std::string> requestId,
                            QuibAction action = {QuibActionKind::mute, {}, {}, {}, {}, {}, {}});
// What a line that opens under none of its connection's keys is answered.
inline constexpr const char* kWrongKey = "암호화되지 않았거나 키가 틀립니다";
// A pairing code that is not `code`.
inline std::string otherCode(const std::string& code) {
  return code == "111111" ? "222222" : "111111";
}

}  // namespace quib::test
