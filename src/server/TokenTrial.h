#pragma once
// Tries a keyless connection's first sealed line under every stored token's key, off the server
// queue: with many paired phones that is thousands of key derivations and openings, and the
// server queue must stay free for the phones it already serves. One worker thread, a bounded
// queue of jobs; each result is handed to the job's callback on the worker thread.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "server/ClientMessage.h"
#include "server/DeviceRegistry.h"
#include "server/SealedLine.h"

namespace quib {

class TokenTrial {
 public:
  static constexpr std::size_t kMaxWaiting = 64;  // each holds one first line, 112 KiB at most

  struct Result {
    Bytes box;  // the line's sealed box, handed back for the pairing key
    std::optional<std::string> token;
    std::optional<ClientMessage> message;  // what the line carries under that token
    bool revoked = false;                  // it opens under a revoked token
  };
  using Done = std::function<void(Result)>;

  explicit TokenTrial(DeviceRegistry& registry);
  ~TokenTrial();  // waits for the job in progress; drops the waiting ones

  // Tokens in `preferred` (newest last) are tried first. False, with `box` left to the caller,
  // when too many jobs wait already.
  bool submit(Bytes&& box, Bytes salt, std::shared_ptr<const std::vector<std::string>> preferred, Done done);

  // The trial itself, on the calling thread.
  static Result run(Bytes box, const Bytes& salt, const std::vector<std::string>& tokens,
                    const std::vector<std::string>& revoked);
  // Paired tokens, the preferred ones first (most recent first).
  static std::vector<std::string> ordered(const std::set<std::string>& paired,
                                          const std::vector<std::string>& preferred);

 private:
  struct Job {
    Bytes box, salt;
    std::shared_ptr<const std::vector<std::string>> preferred;
    Done done;
  };
  void work();

  DeviceRegistry& registry_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace quib
