#pragma once
// A thread-safe map that keeps at most `capacity` entries, dropping the least recently used.
#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace quib {

template <typename Value>
class BoundedCache {
 public:
  explicit BoundedCache(std::size_t capacity) : capacity_(capacity) {}

  std::optional<Value> get(const std::string& key) {
    std::lock_guard lock(mutex_);
    auto it = index_.find(key);
    if (it == index_.end()) return std::nullopt;
    order_.splice(order_.begin(), order_, it->second);
    return it->second->second;
  }

  void put(const std::string& key, Value value) {
    std::lock_guard lock(mutex_);
    if (auto it = index_.find(key); it != index_.end()) {
      it->second->second = std::move(value);
      order_.splice(order_.begin(), order_, it->second);
      return;
    }
    order_.emplace_front(key, std::move(value));
    index_.emplace(key, order_.begin());
    while (order_.size() > capacity_) {
      index_.erase(order_.back().first);
      order_.pop_back();
    }
  }

  std::size_t size() {
    std::lock_guard lock(mutex_);
    return order_.size();
  }

 private:
  std::mutex mutex_;
  std::size_t capacity_;
  std::list<std::pair<std::string, Value>> order_;
  std::unordered_map<std::string, typename std::list<std::pair<std::string, Value>>::iterator> index_;
};

}  // namespace quib
