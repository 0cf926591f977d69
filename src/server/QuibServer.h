#pragma once
// The one object through which phones reach this computer: listener, DNS-SD advertisement,
// connection table, pairing and request dispatch.
//
// Threads: the server queue is a serial io_context run by a thread the server owns; the listener,
// every connection, key selection and dispatch run there. The public functions are called from the
// main thread (the shell) and hop to the server queue, waiting for the answer; the server queue
// never waits on the main queue. onStateChange is called on the server queue, onClientCountChange
// on the main queue.
#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crypto/SecureChannel.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "platform/Platform.h"
#include "platform/UserDefaults.h"
#include "server/ActionPerformer.h"
#include "server/ClientMessage.h"
#include "server/DeviceRegistry.h"
#include "server/PairingGuard.h"
#include "server/QueryService.h"
#include "server/QuibService.h"
#include "server/ServerMessage.h"
#include "server/ServiceAdvertiser.h"
#include "server/TokenTrial.h"

namespace quib {

class Connection;

class QuibServer {
 public:
  struct Options {
    std::uint16_t port = QuibService::defaultPort;  // 0: any free port
    bool advertise = true;
    Clock* clock = nullptr;  // for the pairing guard; the steady clock when none
    // Connections that have no key yet, and connections that have ended but still flush their
    // replies; past this one is dropped: a lingering one first, else the oldest of the source
    // address that holds the most keyless connections.
    std::size_t maxKeylessConnections = 64;
    // The client count reaches the shell at most once per this interval (the latest count wins).
    std::chrono::milliseconds countInterval{250};
  };

  struct ConnectedDevice {
    std::string name;
    std::optional<std::string> token;
    bool operator==(const ConnectedDevice&) const = default;
  };

  static constexpr const char* kUnnamedDevice = "이름 없는 기기";
  // Characters (code points) a typed text may hold, a long text field's worth: each costs the
  // desktop work, and a grapheme cluster could hide any number of them.
  static constexpr std::size_t kMaxTypedCharacters = 20000;
  // Names one appCheck may ask about: more than a phone's buttons.
  static constexpr std::size_t kMaxAppNames = 256;

  QuibServer(Platform platform, UserDefaults& defaults, MainQueue& mainQueue, Options options);
  QuibServer(Platform platform, UserDefaults& defaults, MainQueue& mainQueue)
      : QuibServer(platform, defaults, mainQueue, Options{}) {}
  ~QuibServer();
  QuibServer(const QuibServer&) = delete;
  QuibServer& operator=(const QuibServer&) = delete;

  // Set before start().
  std::function<void(const std::string&)> onStateChange;
  // Also called, with the same count, when a connected device has identified itself.
  std::function<void(int)> onClientCountChange;
  // On the main queue, when the pairing guard closes pairing (see pairingClosedUntil()).
  std::function<void()> onPairingGuardChange;
  // On the server's queue, after a phone has paired with the code; gets the name the phone gave.
  std::function<void(const std::optional<std::string>& deviceName)> onDevicePaired;
  void setActionPerformer(ActionPerformer* performer) { actions_ = performer; }
  void setQueryService(QueryService* queries) { queries_ = queries; }

  // Listens and advertises; the listener is up (or has failed) when this returns.
  void start();
  void stop();

  std::string pairingCode() const;
  // A new code also reopens pairing after the guard closed it.
  void setPairingCode(std::string code);
  static std::string makePairingCode();

  // While too many wrong codes have closed pairing: when it opens again by itself.
  std::optional<Clock::TimePoint> pairingClosedUntil();
  Clock& clock() const { return clock_; }

  std::vector<ConnectedDevice> connectedDevices();
  void disconnect(const std::string& token);
  void forgetPairedDevices();

  // The port the listener is bound to now (0 while not listening).
  std::uint16_t boundPort() const { return boundPort_; }
  std::string advertisedName() { return advertiser_.currentName(); }

 private:
  using ConnectionPtr = std::shared_ptr<Connection>;

  template <typename F>
  auto onQueue(F&& f) -> decltype(f());

  // Accepting and shedding (Admission.cpp).
  void listen();
  void acceptNext();
  void accept(asio::ip::tcp::socket socket);
  void onAcceptError(const asio::error_code& ec);
  void shedIfOverCap();
  void connectionEnded(std::uint64_t id);
  void removeConnection(std::uint64_t id);
  void closeAll();

  // Coalesced: at most one count reaches the main queue per countInterval.
  void notifyCount();
  void postCount();
  void reportState(const std::string& text);
  std::string hostNameOrMac();

  // Sends one reply on the server queue, sealed when the connection has a key.
  void send(const ServerMessage& message, Connection& connection);
  std::optional<std::string> encode(const ServerMessage& message, Connection& connection);
  // From any thread, for a request counted with actionStarted(); into its slot when it has one.
  void sendFromAnyThread(ServerMessage message, ConnectionPtr connection,
                         std::optional<std::uint64_t> slot = std::nullopt);

  // Dispatch (RequestHandler.cpp).
  void handle(std::string_view line, const ConnectionPtr& connection);
  // Answers one line from the message it yielded (none: unreadable; line: for the plain fallback).
  void dispatch(std::optional<ClientMessage> message, std::string_view line, const ConnectionPtr& connection);
  void handleOversized(Connection& connection);
  bool authorize(const ClientMessage& request, Connection& connection);
  void handleAction(const ClientMessage& request, const ConnectionPtr& connection);
  void handOverActions();        // server queue, after each received chunk
  void performPendingActions();  // main thread
  void flushReplies();           // server queue
  void handleQuery(const ClientMessage& request, const ConnectionPtr& connection);

  // Pairing (Pairing.cpp).
  std::optional<ClientMessage> decrypt(std::string_view line, Connection& connection);
  void handlePair(const ClientMessage& request, Connection& connection);
  void setConnectionKey(Connection& connection, const SymmetricKey& key);
  // A keyless connection's sealed box goes to the token trial; its lines wait meanwhile.
  void openKeyless(Bytes box, const ConnectionPtr& connection);
  void finishTokenTrial(const std::weak_ptr<Connection>& connection, TokenTrial::Result result);
  // What the trial's answer makes of the line: a token's message, the pairing key's, or none.
  std::optional<ClientMessage> concludeTrial(Connection& c, TokenTrial::Result result);
  // The answer to a sealed line that was not tried at all (no request in it was read).
  void refuseUntried(Connection& connection);
  void adoptToken(Connection& c, const std::string& token, const SymmetricKey& key,
                  const ClientMessage& message);
  std::optional<ClientMessage> tryPairingKey(Connection& c, const Bytes& box);
  void applyPendingGuardReset();
  // Paired tokens, the most recently used first.
  std::vector<std::string> tokensByRecentUse();
  void noteTokenUsed(const std::string& token);
  void recordGuessFailure(const std::string& source, bool triedPairingKey);

  Platform platform_;
  MainQueue& mainQueue_;
  Options options_;
  Clock& clock_;
  DeviceRegistry registry_;
  PairingGuard guard_;
  ActionPerformer* actions_ = nullptr;
  QueryService* queries_ = nullptr;

  mutable std::mutex codeMutex_;  // pairingCode_ is written from the main thread, read on the queue
  std::string pairingCode_;
  bool guardResetPending_ = false;  // under codeMutex_: a new code reopens the guard on the queue

  // Work that outlives a call (main-queue blocks, icon completions on other threads) reaches the
  // server only through this: it runs with the mutex held and only while the server exists.
  struct Life {
    explicit Life(QuibServer* s) : server(s) {}
    std::mutex mutex;
    QuibServer* server;
  };
  template <typename F>
  static void withServer(const std::weak_ptr<Life>& life, F&& f) {
    auto l = life.lock();
    if (!l) return;
    std::lock_guard lock(l->mutex);
    if (l->server) f(*l->server);
  }
  std::shared_ptr<Life> life_;
  // The same for other threads that only post a reply to the server queue: held just long enough
  // to post, never while running callers' code, so it cannot deadlock with the main queue.
  std::shared_ptr<Life> postLife_;

  // Actions hop to the main queue and their replies hop back through these two lists; a task is
  // posted only when a list turns non-empty, so a burst of lines costs one wake-up per hop, not one
  // per line, while every action still runs and answers in line order.
  struct PendingAction {
    ConnectionPtr connection;  // held until the reply is sent, even if the peer has gone
    QuibAction action;
    std::optional<std::string> requestId;
    std::optional<ActionResult> refused;  // answered without being performed, in its turn
  };
  std::vector<PendingAction> chunkActions_;  // server queue: this chunk's actions, not yet handed over
  std::mutex actionsMutex_;
  std::vector<PendingAction> pendingActions_;
  std::mutex repliesMutex_;
  std::vector<std::pair<ConnectionPtr, ServerMessage>> pendingReplies_;

  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::optional<asio::ip::tcp::acceptor> listener_;
  asio::steady_timer acceptRetry_{io_};                 // out of descriptors: accepting pauses, then resumes
  std::map<std::uint64_t, ConnectionPtr> connections_;  // in acceptance order
  std::set<std::uint64_t> keyless_;                     // open connections without a key
  std::map<std::uint64_t, ConnectionPtr> lingering_;    // ended, still flushing replies
  std::vector<char> readBuffer_ = std::vector<char>(65536);  // lent to the connection being read
  // Recently used tokens, newest last; bounded, in memory only. The trial reads a snapshot.
  std::vector<std::string> recentTokens_;
  std::shared_ptr<const std::vector<std::string>> recentSnapshot_;
  asio::steady_timer countTimer_{io_};
  bool countTimerArmed_ = false;
  bool countDirty_ = false;
  std::chrono::steady_clock::time_point nextCountPost_{};
  asio::steady_timer trimTimer_{io_};
  bool trimArmed_ = false;
  std::size_t closedSinceTrim_ = 0;
  std::uint64_t nextConnectionId_ = 1;
  std::atomic<std::uint16_t> boundPort_{0};
  ServiceAdvertiser advertiser_;
  std::unique_ptr<TokenTrial> trial_;  // stopped before the server queue ends
  std::thread thread_;
};

}  // namespace quib
