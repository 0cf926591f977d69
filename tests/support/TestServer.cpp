#include "support/TestServer.h"

#include <chrono>
#include <future>

namespace quib::test {

TestServer::TestServer(QuibServer::Options options, bool start, HttpFetcher::Options fetch) {
  defaults_ = std::make_unique<SqliteDefaults>(dir_.path(), "quibbleton");
  options.port = 0;
  options.advertise = false;
  options.clock = &clock_;
  server_ = std::make_unique<QuibServer>(desktop_.platform(), *defaults_, mainQueue_, options);
  executor_ = std::make_unique<ActionExecutor>(desktop_.platform(), mainQueue_);
  server_->setActionPerformer(executor_.get());
  clipboard_ = std::make_unique<ClipboardWatcher>(desktop_.pasteboard(), mainQueue_);
  queries_ = std::make_unique<DesktopQueries>(desktop_.platform(), *clipboard_, std::move(fetch));
  server_->setQueryService(queries_.get());
  server_->onStateChange = [this](const std::string& s) {
    std::lock_guard lock(mutex_);
    states_.push_back(s);
    changed_.notify_all();
  };
  server_->onClientCountChange = [this](int n) {
    std::lock_guard lock(mutex_);
    counts_.push_back(n);
    changed_.notify_all();
  };
  mainThread_ = std::thread([this] { mainQueue_.run(); });
  if (start) server_->start();
}

TestServer::~TestServer() {
  server_->stop();
  mainQueue_.stop();
  mainThread_.join();
  server_.reset();
}

std::unique_ptr<QuibClient> TestServer::connectFrom(const std::string& localAddress) {
  auto c = std::make_unique<QuibClient>();
  c->setLocalAddress(localAddress);
  c->connect("127.0.0.1", port());
  return c;
}

std::unique_ptr<QuibClient> TestServer::connectPaired(std::optional<std::string> deviceName,
                                                      std::string* token) {
  auto c = connect();
  auto reply = c->pair(server_->pairingCode(), std::move(deviceName));
  if (reply.type != ServerMessage::Kind::paired || !reply.token) throw ClientError("pairing failed");
  if (token) *token = *reply.token;
  return c;
}

std::vector<std::string> TestServer::states() {
  std::lock_guard lock(mutex_);
  return states_;
}

std::vector<int> TestServer::counts() {
  std::lock_guard lock(mutex_);
  return counts_;
}

bool TestServer::waitForCount(int n) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(10),
                           [&] { return !counts_.empty() && counts_.back() == n; });
}

ClientMessage request(ClientMessage::Kind type, std::optional<std::string> requestId) {
  ClientMessage m;
  m.type = type;
  m.requestId = std::move(requestId);
  return m;
}

ClientMessage actionRequest(std::optional<std::string> requestId, QuibAction action) {
  ClientMessage m = request(ClientMessage::Kind::action, std::move(requestId));
  m.action = std::move(action);
  return m;
}

}  // namespace quib::test
