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
#include "server/QuibCodec.h"
#include "server/QuibServer.h"
#include "support/QueueCall.h"
#include "support/TempDir.h"

namespace quib::test {

class TestServer {
 public:
  // On a free port unless options name one; with start false the test starts it (as the shell does).
  explicit TestServer(QuibServer::Options options = {}, bool start = true, HttpFetcher::Options fetch = {})
      : defaults_(dir_.path(), "quibbleton"),
        executor_(desktop_.platform(), mainQueue_),
        clipboard_(desktop_.pasteboard(), mainQueue_),
        queries_(desktop_.platform(), clipboard_, std::move(fetch)),
        server_(desktop_.platform(), defaults_, mainQueue_, [&] {
          if (options.port == QuibServer::Options{}.port) options.port = 0;  // any free one
          options.advertise = false;
          options.clock = &clock_;
          return options;
        }()) {
    server_.setActionPerformer(&executor_);
    server_.setQueryService(&queries_);
    server_.onStateChange = [this](const std::string& s) { record(states_, s); };
    server_.onClientCountChange = [this](int n) { record(counts_, n); };
    mainThread_ = std::thread([this] { mainQueue_.run(); });
    if (start) server_.start();
  }
  ~TestServer() {
    server_.stop();
    mainQueue_.stop();
    mainThread_.join();
  }

  QuibServer& server() { return server_; }
  VirtualDesktop& desktop() { return desktop_; }
  SqliteDefaults& defaults() { return defaults_; }
  ClipboardWatcher& clipboard() { return clipboard_; }
  ManualClock& clock() { return clock_; }
  MainQueue& mainQueue() { return mainQueue_; }
  std::uint16_t port() const { return server_.boundPort(); }

  // A client connected to the server, greeting read.
  std::unique_ptr<QuibClient> connect() { return connectFrom("127.0.0.1"); }
  // The same from a given loopback address (127.0.0.2, ...), as another machine would.
  std::unique_ptr<QuibClient> connectFrom(const std::string& localAddress) {
    auto c = std::make_unique<QuibClient>();
    c->setLocalAddress(localAddress);
    c->connect("127.0.0.1", port());
    return c;
  }
  // A client paired with the current code; its token is in the client's last reply.
  std::unique_ptr<QuibClient> connectPaired(std::optional<std::string> deviceName,
                                            std::string* token = nullptr) {
    auto c = connect();
    auto reply = c->pair(server_.pairingCode(), std::move(deviceName));
    if (reply.type != ServerMessage::Kind::paired || !reply.token) throw ClientError("pairing failed");
    if (token) *token = *reply.token;
    return c;
  }

  // Runs f on the main queue and waits for it.
  template <typename F>
  decltype(auto) onMain(F&& f) {
    return onQueue(mainQueue_, std::forward<F>(f));
  }

  std::vector<std::string> states() {
    std::lock_guard lock(mutex_);
    return states_;
  }
  // Waits (bounded) until the last reported count is n.
  bool waitForCount(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return !counts_.empty() && counts_.back() == n; });
  }

 private:
  template <typename T>
  void record(std::vector<T>& to, T value) {
    std::lock_guard lock(mutex_);
    to.push_back(std::move(value));
    changed_.notify_all();
  }

  TempDir dir_;
  ManualClock clock_;
  MainQueue mainQueue_{clock_};
  VirtualDesktop desktop_{dir_.path() / "root"};
  SqliteDefaults defaults_;
  ActionExecutor executor_;
  ClipboardWatcher clipboard_;
  DesktopQueries queries_;
  QuibServer server_;
  std::thread mainThread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> states_;
  std::vector<int> counts_;
};

inline ClientMessage request(ClientMessage::Kind type, std::optional<std::string> requestId = std::nullopt) {
  ClientMessage m;
  m.type = type;
  m.requestId = std::move(requestId);
  return m;
}
inline ClientMessage actionRequest(std::optional<std::string> requestId,
                                   QuibAction action = {QuibActionKind::mute, {}, {}, {}, {}, {}, {}}) {
  ClientMessage m = request(ClientMessage::Kind::action, std::move(requestId));
  m.action = std::move(action);
  return m;
}
// A reply as its line carries it, every field in wire order: one comparison checks its whole shape.
inline std::string wire(const ServerMessage& m) {
  return QuibCodec::encode(m);
}
// What a line that opens under none of its connection's keys is answered.
inline constexpr const char* kWrongKey = "암호화되지 않았거나 키가 틀립니다";
inline const std::string kPairAgain =
    R"({"type":"error","message":")" + std::string(kWrongKey) + R"(","needsPairing":true})";
inline std::string otherCode(const std::string& code) {
  return code == "111111" ? "222222" : "111111";
}

}  // namespace quib::test
