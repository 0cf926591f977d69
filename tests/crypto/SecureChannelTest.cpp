#include <gtest/gtest.h>

#include <numeric>

#include "crypto/Base64.h"
#include "crypto/SecureChannel.h"
#include "server/SealedLine.h"

namespace quib {
namespace {

std::string hex(const SymmetricKey& k) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (auto b : k) {
    s.push_back(digits[b >> 4]);
    s.push_back(digits[b & 15]);
  }
  return s;
}

Bytes counting(std::size_t n, std::uint8_t from = 0) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), from);
  return b;
}

SymmetricKey keyFrom(std::uint8_t first) {
  SymmetricKey k{};
  std::iota(k.begin(), k.end(), first);
  return k;
}

// Vectors computed independently: HKDF with Python's hmac/hashlib, the cipher with the openssl
// command line (chacha20 keystream and the poly1305 MAC over the RFC 8439 layout).
TEST(SecureChannelTest, DerivesKnownKeys) {
  const Bytes salt = counting(16);
  EXPECT_EQ(hex(SecureChannel::pairKey("012345", salt)),
            "8a9f9dbbfa697adbd89e1f740ee1f0eb89f9eff074db397f24143c82d4822820");
  EXPECT_EQ(hex(SecureChannel::tokenKey("0F8FAD5B-D9CB-469F-A165-70867728950E", salt)),
            "620e9750deb52073c8a415ac74ede9a69ed2926e57dd62ab11538e164992e12e");
  // Same secret text, other label: another key.
  EXPECT_EQ(hex(SecureChannel::tokenKey("012345", salt)),
            "923404cc746003dcf4c112ae542708f936a3c61c158efe504d5c93667315172c");
}

TEST(SecureChannelTest, SealsKnownLineAndOpensIt) {
  const std::string json = R"({"type":"ack","requestId":"9","ok":true})";
  const std::string expected =
      "e:AAECAwQFBgcICQoLqxi9RtFNbOz4a9iHn4S1J4TAIRwG2mcZFDHpq5z11mWi5z98Xjil49zb/YsK++AwZfM16ng26/c=\n";
  EXPECT_EQ(SecureChannel::sealTextWithNonce(json, keyFrom(32), counting(12)), expected);
  auto opened = openLine<ServerMessage>(expected.substr(0, expected.size() - 1), keyFrom(32));
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->requestId, "9");
  EXPECT_EQ(opened->ok, true);
}

TEST(SecureChannelTest, FirstPlainByteIsTheTextsFirstUnderTheRightKeyOnly) {
  const std::string line =
      "e:AAECAwQFBgcICQoLqxi9RtFNbOz4a9iHn4S1J4TAIRwG2mcZFDHpq5z11mWi5z98Xjil49zb/YsK++AwZfM16ng26/c=";
  auto box = SecureChannel::sealedBox(line);
  ASSERT_TRUE(box);
  EXPECT_EQ(SecureChannel::firstPlainByte(*box, keyFrom(32)), '{');
  // 0xab ^ the other key's first keystream byte: any byte, but not the right one here.
  EXPECT_NE(SecureChannel::firstPlainByte(*box, keyFrom(33)), '{');
  // It reads the same byte openBox would, and does not disturb a later full opening.
  auto opened = SecureChannel::openBox(*box, keyFrom(32));
  ASSERT_TRUE(opened);
  EXPECT_EQ(static_cast<unsigned char>((*opened)[0]), *SecureChannel::firstPlainByte(*box, keyFrom(32)));
  const std::string empty = SecureChannel::sealText("", keyFrom(32));
  EXPECT_EQ(SecureChannel::firstPlainByte(*SecureChannel::sealedBox(empty.substr(0, empty.size() - 1)),
                                          keyFrom(32)),
            std::nullopt);
}

TEST(SecureChannelTest, FreshNonceEveryLineAndLengthFormula) {
  const auto key = keyFrom(1);
  ClientMessage ping;
  ping.type = ClientMessage::Kind::ping;
  ping.requestId = "7";
  const std::string a = sealLine(ping, key), b = sealLine(ping, key);
  EXPECT_NE(a, b);
  const std::size_t n = QuibCodec::encode(ping).size();
  EXPECT_EQ(a.size(), 2 + 4 * ((28 + n + 2) / 3) + 1);
  EXPECT_EQ(a.back(), '\n');
  for (const auto& line : {a, b}) {
    auto m = openLine<ClientMessage>(std::string_view(line).substr(0, line.size() - 1), key);
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, ping);
  }
}

TEST(SecureChannelTest, AnyFlippedBitFailsToOpen) {
  const auto key = keyFrom(9);
  std::string line = SecureChannel::sealText(R"({"type":"ping"})", key);
  line.pop_back();
  auto box = *Base64::decode(line.substr(2));
  for (std::size_t bit = 0; bit < box.size() * 8; ++bit) {
    auto bad = box;
    bad[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    EXPECT_FALSE(SecureChannel::openText("e:" + Base64::encode(bad), key)) << "bit " << bit;
  }
}

TEST(SecureChannelTest, RejectsMalformedLines) {
  const auto key = keyFrom(3);
  std::string line = SecureChannel::sealText(R"({"type":"ping"})", key);
  line.pop_back();
  EXPECT_TRUE(SecureChannel::openText(line, key));
  EXPECT_FALSE(SecureChannel::openText(line + "\r", key));            // CR-terminated peer
  EXPECT_FALSE(SecureChannel::openText("E:" + line.substr(2), key));  // marker is case-sensitive
  EXPECT_FALSE(SecureChannel::isEncrypted("E:" + line.substr(2)));
  EXPECT_FALSE(SecureChannel::openText("e:", key));
  EXPECT_FALSE(SecureChannel::openText("e:" + Base64::encode(counting(27)), key));  // shorter than 28
  EXPECT_FALSE(SecureChannel::openText("e", key));
  std::string spaced = line;
  spaced.insert(10, " ");
  EXPECT_FALSE(SecureChannel::openText(spaced, key));
  EXPECT_FALSE(SecureChannel::openText(line.substr(0, line.size() - 1), key));  // bad padding length
}

TEST(SecureChannelTest, KeysDoNotCrossLabelsOrSalts) {
  const Bytes salt1 = counting(16), salt2 = counting(16, 1);
  ClientMessage ping;
  ping.type = ClientMessage::Kind::ping;
  std::string line = sealLine(ping, SecureChannel::pairKey("123456", salt1));
  line.pop_back();
  EXPECT_TRUE(openLine<ClientMessage>(line, SecureChannel::pairKey("123456", salt1)));
  EXPECT_FALSE(openLine<ClientMessage>(line, SecureChannel::tokenKey("123456", salt1)));
  EXPECT_FALSE(openLine<ClientMessage>(line, SecureChannel::pairKey("123456", salt2)));
  // Leading zeros are part of the code text.
  EXPECT_NE(SecureChannel::pairKey("000042", salt1), SecureChannel::pairKey("42", salt1));
}

TEST(Base64Test, StrictDecoding) {
  EXPECT_EQ(*Base64::decode("TWFu"), (Bytes{'M', 'a', 'n'}));
  EXPECT_EQ(*Base64::decode("TWE="), (Bytes{'M', 'a'}));
  EXPECT_EQ(*Base64::decode("TQ=="), (Bytes{'M'}));
  EXPECT_TRUE(Base64::decode("")->empty());
  EXPECT_FALSE(Base64::decode("TQ="));
  EXPECT_FALSE(Base64::decode("T==="));
  EXPECT_FALSE(Base64::decode("TQ=A"));
  EXPECT_FALSE(Base64::decode("TW-u"));
  EXPECT_FALSE(Base64::decode("TW\nu"));
  EXPECT_FALSE(Base64::decode(" TWFu"));
}

}  // namespace
}  // namespace quib
