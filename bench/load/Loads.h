#pragma once
// The hostile and careless loads quib-load runs against a server, by name. Each runs until `stop`
// is set, on the thread that calls it, and may start helpers of its own. Loopback only.
#include <atomic>
#include <functional>
#include <map>
#include <string>

#include "load/ServerProcess.h"
#include "server/ClientMessage.h"

namespace quib::load {

struct Run {
  const Server& server;
  std::string token;
  std::atomic<bool>& stop;
  // The source address every load connects from (127.0.0.2, say); empty: the kernel's choice.
  std::string attacker;
  const char* from() const { return attacker.empty() ? nullptr : attacker.c_str(); }
};

using Load = std::function<void(Run&)>;
const std::map<std::string, Load>& loads();

inline ClientMessage ping(const std::string& id) {
  ClientMessage m;
  m.type = ClientMessage::Kind::ping;
  m.requestId = id;
  return m;
}

}  // namespace quib::load
