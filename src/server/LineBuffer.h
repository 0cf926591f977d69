#pragma once
// Splits a connection's byte stream into lines. Runs on the server queue of the owning connection.
//
// Cost is linear in the bytes received: each byte is scanned once and the unfinished tail is moved
// at most once per appended chunk. The unfinished tail is capped at `maxLineBytes`; a line that
// grows past the cap is discarded up to its line feed and reported once as oversized, so memory per
// connection stays bounded whatever a peer sends.
#include <cstddef>
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
  // valid only during the call.
  template <typename OnLine, typename OnOversized>
  void append(std::string_view data, OnLine&& onLine, OnOversized&& onOversized);

  // The completed lines only (oversized ones are dropped).
  std::vector<std::string> append(std::string_view data);

  void setMaxLineBytes(std::size_t n) { maxLineBytes_ = n; }
  std::size_t maxLineBytes() const { return maxLineBytes_; }
  // Bytes held for the unfinished line.
  std::size_t pendingBytes() const { return buffer_.size(); }

 private:
  std::string buffer_;
  std::size_t maxLineBytes_;
  bool discarding_ = false;  // inside an oversized line, dropping bytes until its line feed
};

template <typename OnLine, typename OnOversized>
void LineBuffer::append(std::string_view data, OnLine&& onLine, OnOversized&& onOversized) {
  std::size_t pos = 0;
  while (pos < data.size()) {
    std::size_t nl = data.find('\n', pos);
    std::string_view piece =
        data.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    if (discarding_) {
      if (nl == std::string_view::npos) return;
      discarding_ = false;
    } else if (buffer_.size() + piece.size() > maxLineBytes_) {
      buffer_.clear();
      buffer_.shrink_to_fit();
      onOversized();
      if (nl == std::string_view::npos) {
        discarding_ = true;
        return;
      }
    } else if (nl == std::string_view::npos) {
      buffer_.append(piece);
      return;
    } else if (buffer_.empty()) {
      if (!piece.empty()) onLine(piece);
    } else {
      buffer_.append(piece);
      onLine(std::string_view(buffer_));
      buffer_.clear();
    }
    pos = nl + 1;
  }
}

}  // namespace quib
