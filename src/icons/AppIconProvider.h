#pragma once
// Application icons as base64 PNG: the bundle's icon with transparent margins cut away, circular
// badges put inset on a white square, rendered at the requested size. Results are cached.
// iconBase64 runs on the caller's thread (the server queue); the cache is locked.
#include <optional>
#include <string>

#include "actions/AppLocator.h"
#include "icons/BoundedCache.h"
#include "platform/Image.h"
#include "platform/Applications.h"

namespace quib {

class AppIconProvider {
 public:
  // Larger requests are rendered at this size; the cache keeps this many icons.
  static constexpr int kMaxSize = 1024;
  static constexpr std::size_t kCacheEntries = 256;

  AppIconProvider(AppLocator& apps, Applications& applications) : apps_(apps), applications_(applications) {}

  // None when no application is found, the size is not a positive number, or rendering fails.
  std::optional<std::string> iconBase64(const std::string& appName, double size);

  static Image trimTransparentMargins(const Image& image);
  static bool isCircular(const Image& image);
  // The n x n rendering of an already trimmed icon.
  static std::optional<Image> render(const Image& trimmed, int n);

 private:
  AppLocator& apps_;
  Applications& applications_;
  BoundedCache<std::string> cache_{kCacheEntries};
};

}  // namespace quib
