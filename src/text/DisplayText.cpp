#include "text/DisplayText.h"

#include <unicode/utf8.h>

#include <climits>
#include <cstdint>

namespace quib {

namespace {
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool unsafe(UChar32 c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0x061C || c == 0x200E || c == 0x200F;
}
}  // namespace

std::string displaySafe(std::string_view text, std::size_t maxCodePoints) {
  std::string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size() > INT32_MAX ? INT32_MAX : text.size());
  std::int32_t i = 0;
  std::size_t count = 0;
  while (i < length) {
    if (count == maxCodePoints) {
      out += "…";
      break;
    }
    const std::int32_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0 || unsafe(c))
      out += kReplacement;
    else
      out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    ++count;
  }
  return out;
}

}  // namespace quib
