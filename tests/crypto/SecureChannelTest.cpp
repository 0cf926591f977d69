#include <gtest/gtest.h>

#include <numeric>

#include "crypto/Base64.h"
#include "crypto/SecureChannel.h"

namespace quib {
namespace {

Bytes counting(std::size_t n) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), 0);
  return b;
}

SymmetricKey keyFrom(std::uint8_t first) {
  SymmetricKey k{};
  std::iota(k.begin(), k.end(), first);
  return k;
}

// Vectors computed independently (keys in base64): HKDF with Python's hmac/hashlib, the cipher with the
// openssl command line (chacha20 keystream and the poly1305 MAC over the RFC 8439 layout). The same secret
// text under the other label gives another key.
TEST(SecureChannelTest, KnownKeysAndLine) {
  const Bytes salt = counting(16);
  auto b64 = [](const SymmetricKey& k) { return Base64::encode(k.data(), k.size()); };
  EXPECT_EQ(b64(SecureChannel::pairKey("012345", salt)), "ip+du/ppetvYnh90DuHw64n57/B02zl/JBQ8gtSCKCA=");
  EXPECT_EQ(b64(SecureChannel::tokenKey("0F8FAD5B-D9CB-469F-A165-70867728950E", salt)),
            "Yg6XUN61IHPIpBWsdO3ppp7Skm5X3WKrEVOOFkmS4S4=");
  EXPECT_EQ(b64(SecureChannel::tokenKey("012345", salt)), "kjQEzHRgA9z0wRKuVCcI+TajxhwVjv5QTVyTZnMVFyw=");

  const std::string line =
      "e:AAECAwQFBgcICQoLqxi9RtFNbOz4a9iHn4S1J4TAIRwG2mcZFDHpq5z11mWi5z98Xjil49zb/YsK++AwZfM16ng26/c=";
  EXPECT_EQ(SecureChannel::sealTextWithNonce(R"({"type":"ack","requestId":"9","ok":true})", keyFrom(32),
                                             counting(12)),
            line + "\n");
  // The first byte is read without the tag.
  auto box = SecureChannel::sealedBox(line);
  ASSERT_TRUE(box);
  EXPECT_EQ(SecureChannel::firstPlainByte(*box, keyFrom(32)), '{');
  EXPECT_EQ(SecureChannel::openBox(*box, keyFrom(32)), R"({"type":"ack","requestId":"9","ok":true})");
  const std::string empty = SecureChannel::sealText("", keyFrom(32));
  EXPECT_EQ(SecureChannel::firstPlainByte(*SecureChannel::sealedBox(empty.substr(0, empty.size() - 1)),
                                          keyFrom(32)),
            std::nullopt);
}

TEST(SecureChannelTest, DamagedLinesDoNotOpen) {
  const auto key = keyFrom(9);
  std::string line = SecureChannel::sealText(R"({"type":"ping"})", key);
  line.pop_back();
  ASSERT_TRUE(SecureChannel::openText(line, key));
  EXPECT_NE(line.substr(0, 18),
            SecureChannel::sealText(R"({"type":"ping"})", key).substr(0, 18));  // fresh nonce
  auto box = *Base64::decode(line.substr(2));
  for (std::size_t bit = 0; bit < box.size() * 8; ++bit) {
    auto bad = box;
    bad[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    EXPECT_FALSE(SecureChannel::openText("e:" + Base64::encode(bad), key)) << "bit " << bit;
  }
  for (const std::string& bad :
       {line + "\r", "E:" + line.substr(2), std::string("e:"), line.substr(0, 10) + " " + line.substr(10),
        "e:" + Base64::encode(counting(27)), line.substr(0, line.size() - 1)})
    EXPECT_FALSE(SecureChannel::openText(bad, key)) << bad;
}

}  // namespace
}  // namespace quib
