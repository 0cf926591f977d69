#pragma once
// A thread-safe map bounded both in entries and in bytes (keys and values counted), dropping the
// least recently used entries first. An entry larger than the whole byte bound is not kept.
#include <cstddef>
#include <limits>
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
  explicit BoundedCache(std::size_t capacity, std::size_t maxBytes = std::numeric_limits<std::size_t>::max())
      : capacity_(capacity), maxBytes_(maxBytes) {}

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
      bytes_ -= cost(*it->second);
      order_.erase(it->second);
      index_.erase(it);
    }
    order_.emplace_front(key, std::move(value));
    if (cost(order_.front()) > maxBytes_) {
      order_.pop_front();
      return;
    }
    bytes_ += cost(order_.front());
    index_.emplace(key, order_.begin());
    while (order_.size() > capacity_ || bytes_ > maxBytes_) {
      bytes_ -= cost(order_.back());
      index_.erase(order_.back().first);
      order_.pop_back();
    }
  }

  std::size_t size() {
    std::lock_guard lock(mutex_);
    return order_.size();
  }
  std::size_t bytes() {
    std::lock_guard lock(mutex_);
    return bytes_;
  }

 private:
  using Entry = std::pair<std::string, Value>;
  static std::size_t cost(const Entry& e) { return e.first.size() + e.second.size(); }

  std::mutex mutex_;
  std::size_t capacity_;
  std::size_t maxBytes_;
  std::size_t bytes_ = 0;
  std::list<Entry> order_;
  std::unordered_map<std::string, typename std::list<Entry>::iterator> index_;
};

}  // namespace quib
