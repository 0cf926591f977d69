#include "server/JsonLimits.h"

namespace quib::JsonLimits {

bool withinLimits(std::string_view text, std::size_t maxDepth, std::size_t maxValues) {
  std::size_t depth = 0, values = 0;
  bool inString = false, escaped = false;
  for (char ch : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (ch == '\\')
        escaped = true;
      else if (ch == '"')
        inString = false;
      continue;
    }
    switch (ch) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > maxDepth || ++values > maxValues) return false;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      case ',':
        if (++values > maxValues) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

}  // namespace quib::JsonLimits
