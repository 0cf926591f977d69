#include "crypto/Base64.h"

#include <openssl/evp.h>

#include <array>
#include <climits>

namespace quib::Base64 {

std::string encode(const std::uint8_t* data, std::size_t size) {
  std::string out(4 * ((size + 2) / 3), '\0');
  std::size_t written = 0;
  // EVP_EncodeBlock takes an int length; feed it in slices that keep 3-byte alignment.
  constexpr std::size_t kSlice = (INT_MAX / 4) / 3 * 3;
  while (size > 0) {
    std::size_t n = size < kSlice ? size : kSlice;
    written += static_cast<std::size_t>(
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data() + written), data, static_cast<int>(n)));
    data += n;
    size -= n;
  }
  out.resize(written);
  return out;
}

namespace {
constexpr std::array<bool, 256> kAlphabet = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"))
    t[c] = true;
  return t;
}();
bool inAlphabet(unsigned char c) {
  return kAlphabet[c];
}
}  // namespace

std::optional<std::vector<std::uint8_t>> decode(std::string_view text) {
  if (text.size() % 4 != 0 || text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  std::size_t pad = 0;
  if (!text.empty() && text.back() == '=') pad = (text.size() >= 2 && text[text.size() - 2] == '=') ? 2 : 1;
  for (std::size_t i = 0; i + pad < text.size(); ++i)
    if (!inAlphabet(static_cast<unsigned char>(text[i]))) return std::nullopt;
  std::vector<std::uint8_t> out(text.size() / 4 * 3);
  if (text.empty()) return out;
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  out.resize(static_cast<std::size_t>(n) - pad);
  return out;
}

}  // namespace quib::Base64
