#pragma once
// Application icons as base64 PNG: the bundle's icon with transparent margins cut away, circular
// badges put inset on a white square, rendered at the requested size. Results are cached, bounded
// in bytes. iconBase64 renders on the caller's thread (a worker, never the server queue: decoding
// and drawing take tens of milliseconds); cachedIcon only looks. The cache is locked.
#include <optional>
#include <string>

#include "actions/AppLocator.h"
#include "icons/BoundedCache.h"
#include "platform/Image.h"
#include "platform/Applications.h"

namespace quib {

class AppIconProvider {
 public:
  // Larger requests are rendered at this size; the cache keeps at most this many bytes of icons.
  static constexpr int kMaxSize = 1024;
  static constexpr std::size_t kCacheBytes = 32 * 1024 * 1024;

  AppIconProvider(AppLocator& apps, Applications& applications) : apps_(apps), applications_(applications) {}

  // None when no application is found, the size is not a positive number, or rendering fails.
  std::optional<std::string> iconBase64(const std::string& appName, double size);
  std::optional<std::string> cachedIcon(const std::string& appName, double size);
  std::size_t cacheBytes() { return cache_.bytes(); }

  static Image trimTransparentMargins(const Image& image);
  static bool isCircular(const Image& image);
  // The n x n rendering of an already trimmed icon.
  static std::optional<Image> render(const Image& trimmed, int n);

 private:
  AppLocator& apps_;
  Applications& applications_;
  static std::optional<std::string> keyFor(const std::string& appName, double size);
  BoundedCache<std::string> cache_{kCacheBytes / 1024, kCacheBytes};
};

}  // namespace quib
