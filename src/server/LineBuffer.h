#pragma once
// Splits a connection's byte stream into lines. Runs on the server queue of the owning connection.
//
// Cost is linear in the bytes received: each byte is scanned once and the unfinished tail is moved
// at most once per appended chunk. The unfinished tail is capped at `maxLineBytes`; a line that
// grows past the cap is discarded up to its line feed and reported once as oversized, so memory per
// connection stays bounded whatever a peer sends.
//
// A consumer that must stop mid-chunk (its peer has too many replies waiting) returns false from
// onLine; the rest of the chunk is held here, at most one chunk, and handed out by resume().
#include <cstddef>
#include <type_traits>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

class LineBuffer {
 public:
  static constexpr std::size_t kDefaultMaxLineBytes = 8 * 1024 * 1024;

  explicit LineBuffer(std::size_t maxLineBytes = kDefaultMaxLineBytes) : maxLineBytes_(maxLineBytes) {}

  // Calls onLine(std::string_view line) for every non-empty completed line, without its line feed,
  // and onOversized() once for each line that exceeded the cap, both in stream order. The view is
  // valid only during the call. onLine may return false to stop: the bytes after that line are held.
  template <typename OnLine, typename OnOversized>
  void append(std::string_view data, OnLine&& onLine, OnOversized&& onOversized);
  // Hands out the held bytes as append would; they may stop again.
  template <typename OnLine, typename OnOversized>
  void resume(OnLine&& onLine, OnOversized&& onOversized) {
    std::string held;
    held.swap(held_);
    append(held, onLine, onOversized);
  }
  bool hasHeld() const { return !held_.empty(); }

  // The completed lines only (oversized ones are dropped).
  std::vector<std::string> append(std::string_view data);

  void setMaxLineBytes(std::size_t n) { maxLineBytes_ = n; }
  std::size_t maxLineBytes() const { return maxLineBytes_; }
  // Bytes held for the unfinished line.
  std::size_t pendingBytes() const { return buffer_.size(); }
  // Bytes of memory held now, the unfinished line and held bytes included.
  std::size_t capacityBytes() const { return buffer_.capacity() + held_.capacity(); }

 private:
  // An idle connection keeps almost nothing: large tails give their memory back once finished.
  static constexpr std::size_t kKeepCapacity = 1024;
  void clearBuffer() {
    buffer_.clear();
    if (buffer_.capacity() > kKeepCapacity) std::string().swap(buffer_);
  }

  std::string buffer_;
  std::string held_;
  std::size_t maxLineBytes_;
  bool discarding_ = false;  // inside an oversized line, dropping bytes until its line feed
};

namespace line_buffer_detail {
template <typename OnLine>
bool deliver(OnLine& onLine, std::string_view line) {
  if constexpr (std::is_same_v<decltype(onLine(line)), bool>) {
    return onLine(line);
  } else {
    onLine(line);
    return true;
  }
}
}  // namespace line_buffer_detail

template <typename OnLine, typename OnOversized>
void LineBuffer::append(std::string_view data, OnLine&& onLine, OnOversized&& onOversized) {
  using line_buffer_detail::deliver;
  std::size_t pos = 0;
  while (pos < data.size()) {
    std::size_t nl = data.find('\n', pos);
    std::string_view piece =
        data.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    if (discarding_) {
      if (nl == std::string_view::npos) return;
      discarding_ = false;
    } else if (buffer_.size() + piece.size() > maxLineBytes_) {
      std::string().swap(buffer_);
      onOversized();
      if (nl == std::string_view::npos) {
        discarding_ = true;
        return;
      }
    } else if (nl == std::string_view::npos) {
      buffer_.append(piece);
      return;
    } else if (buffer_.empty()) {
      if (!piece.empty() && !deliver(onLine, piece)) {
        held_.assign(data.substr(nl + 1));
        return;
      }
    } else {
      buffer_.append(piece);
      const bool go = deliver(onLine, std::string_view(buffer_));
      clearBuffer();
      if (!go) {
        held_.assign(data.substr(nl + 1));
        return;
      }
    }
    pos = nl + 1;
  }
}

}  // namespace quib
