#pragma once
// One command of the command-line phone: connects to the remembered computer with the stored
// token, sends requests and turns refusals, time-outs and unreachable computers into CliError.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "client/QuibClient.h"
#include "shared/QuibSharedStore.h"

namespace quib {

struct CliError : std::runtime_error {
  enum Code { refused = 1, usage = 2, notPaired = 3, unreachable = 4 };
  CliError(Code c, const std::string& message) : std::runtime_error(message), code(c) {}
  Code code;
};

class PhoneSession {
 public:
  struct Target {
    std::optional<std::string> host;  // overrides the remembered one
    std::optional<std::uint16_t> port;
    std::chrono::milliseconds timeout{10000};
  };

  PhoneSession(const QuibSharedStore& store, Target target) : store_(store), target_(std::move(target)) {}

  // Pairs with the code and remembers the token, host, port and computer name.
  ServerMessage pair(const std::string& code, const std::optional<std::string>& deviceName);
  // Sends one request under the stored token and returns the reply; an error reply throws.
  // While waiting, onProgress (when set) is called about every half second.
  ServerMessage request(ClientMessage message, const std::function<void()>& onProgress = {});

  std::string host() const;
  std::uint16_t port() const;

 private:
  void connect();
  void send(const ClientMessage& message);
  ServerMessage awaitReply(const std::function<void()>& onProgress);

  const QuibSharedStore& store_;
  Target target_;
  QuibClient client_;
  bool connected_ = false;
  int nextId_ = 1;
};

}  // namespace quib
