#include "crypto/SecureChannel.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "crypto/Base64.h"
#include "crypto/Random.h"

namespace quib::SecureChannel {

namespace {

constexpr std::string_view kPrefix = "e:";
constexpr std::size_t kOverhead = kNonceBytes + kTagBytes;

[[noreturn]] void cryptoBroken(const char* what) {
  std::fprintf(stderr, "quibbleton: OpenSSL cannot provide %s\n", what);
  std::abort();
}

// Fetched once; OpenSSL algorithm objects are safe to share between threads.
EVP_KDF* hkdf() {
  static EVP_KDF* kdf = [] {
    EVP_KDF* k = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    if (!k) cryptoBroken("HKDF");
    return k;
  }();
  return kdf;
}

EVP_CIPHER* chacha() {
  static EVP_CIPHER* cipher = [] {
    EVP_CIPHER* c = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
    if (!c) cryptoBroken("ChaCha20-Poly1305");
    return c;
  }();
  return cipher;
}

// One sealing and one opening context per thread, given the cipher once and then only a new key
// and nonce per line: cheaper than a fresh context, and never shared between threads.
struct CipherContext {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  bool hasCipher = false;
  ~CipherContext() { EVP_CIPHER_CTX_free(ctx); }
  // The cipher to pass to the next init: ours the first time, then "keep the one set".
  const EVP_CIPHER* cipherForInit() {
    if (!ctx) cryptoBroken("a cipher context");
    const EVP_CIPHER* c = hasCipher ? nullptr : chacha();
    hasCipher = true;
    return c;
  }
};

CipherContext& sealingContext() {
  thread_local CipherContext c;
  return c;
}

CipherContext& openingContext() {
  thread_local CipherContext c;
  return c;
}

struct CtxFree {
  void operator()(EVP_KDF_CTX* c) const { EVP_KDF_CTX_free(c); }
};

}  // namespace

Bytes makeSalt() {
  return Random::bytes(kSaltBytes);
}

namespace {

// An HKDF context with its digest already chosen, per thread: looking the digest up is most of a
// derivation's cost, and a returning phone's first line may need a thousand of them.
EVP_KDF_CTX* hkdfContext() {
  thread_local std::unique_ptr<EVP_KDF_CTX, CtxFree> ctx = [] {
    std::unique_ptr<EVP_KDF_CTX, CtxFree> c(EVP_KDF_CTX_new(hkdf()));
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    if (!c || EVP_KDF_CTX_set_params(c.get(), params) != 1) cryptoBroken("an HKDF context");
    return c;
  }();
  return ctx.get();
}

}  // namespace

SymmetricKey derive(std::string_view secret, const Bytes& salt, std::string_view info) {
  // Every derivation sets key, salt and info anew, each replacing what the one before set.
  EVP_KDF_CTX* ctx = hkdfContext();
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<char*>(secret.data()), secret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<std::uint8_t*>(salt.data()),
                                        salt.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(info.data()), info.size()),
      OSSL_PARAM_construct_end()};
  SymmetricKey key{};
  if (EVP_KDF_derive(ctx, key.data(), key.size(), params) != 1) cryptoBroken("an HKDF derivation");
  return key;
}

SymmetricKey pairKey(std::string_view code, const Bytes& salt) {
  return derive(code, salt, kPairInfo);
}
SymmetricKey tokenKey(std::string_view token, const Bytes& salt) {
  return derive(token, salt, kTokenInfo);
}

bool isEncrypted(std::string_view line) {
  return line.starts_with(kPrefix);
}

std::string sealText(std::string_view json, const SymmetricKey& key) {
  return sealTextWithNonce(json, key, Random::bytes(kNonceBytes));
}

std::string sealTextWithNonce(std::string_view json, const SymmetricKey& key, const Bytes& nonce) {
  if (json.size() > static_cast<std::size_t>(INT_MAX) - kOverhead) throw SealError("text too large to seal");
  if (nonce.size() != kNonceBytes) throw SealError("nonce must be 12 bytes");
  Bytes box(kOverhead + json.size());
  std::copy(nonce.begin(), nonce.end(), box.begin());
  CipherContext& sealing = sealingContext();
  EVP_CIPHER_CTX* ctx = sealing.ctx;
  int len = 0;
  bool ok = EVP_EncryptInit_ex2(ctx, sealing.cipherForInit(), key.data(), box.data(), nullptr) == 1 &&
            EVP_EncryptUpdate(ctx, box.data() + kNonceBytes, &len,
                              reinterpret_cast<const unsigned char*>(json.data()),
                              static_cast<int>(json.size())) == 1 &&
            EVP_EncryptFinal_ex(ctx, box.data() + kNonceBytes + len, &len) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, static_cast<int>(kTagBytes),
                                box.data() + kNonceBytes + json.size()) == 1;
  if (!ok) throw SealError("sealing failed");
  std::string line;
  line.reserve(kPrefix.size() + 4 * ((box.size() + 2) / 3) + 1);
  line.append(kPrefix);
  line.append(Base64::encode(box));
  line.push_back('\n');
  return line;
}

std::optional<Bytes> sealedBox(std::string_view line) {
  if (!isEncrypted(line)) return std::nullopt;
  // Base64's alphabet is ASCII, so the strict decode also rejects text that is not UTF-8.
  auto box = Base64::decode(line.substr(kPrefix.size()));
  if (!box || box->size() < kOverhead) return std::nullopt;
  return box;
}

std::optional<std::string> openBox(const Bytes& box, const SymmetricKey& key) {
  if (box.size() < kOverhead) return std::nullopt;
  const std::size_t n = box.size() - kOverhead;
  std::string plain(n, '\0');
  CipherContext& opening = openingContext();
  EVP_CIPHER_CTX* ctx = opening.ctx;
  int len = 0;
  unsigned char* out = reinterpret_cast<unsigned char*>(plain.data());
  bool ok = EVP_DecryptInit_ex2(ctx, opening.cipherForInit(), key.data(), box.data(), nullptr) == 1 &&
            EVP_DecryptUpdate(ctx, out, &len, box.data() + kNonceBytes, static_cast<int>(n)) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, static_cast<int>(kTagBytes),
                                const_cast<std::uint8_t*>(box.data()) + kNonceBytes + n) == 1 &&
            EVP_DecryptFinal_ex(ctx, out + len, &len) == 1;
  if (!ok) return std::nullopt;
  return plain;
}

std::optional<std::uint8_t> firstPlainByte(const Bytes& box, const SymmetricKey& key) {
  if (box.size() <= kOverhead) return std::nullopt;
  CipherContext& opening = openingContext();
  unsigned char first = 0;
  int len = 0;
  if (EVP_DecryptInit_ex2(opening.ctx, opening.cipherForInit(), key.data(), box.data(), nullptr) != 1 ||
      EVP_DecryptUpdate(opening.ctx, &first, &len, box.data() + kNonceBytes, 1) != 1 || len != 1)
    return std::nullopt;
  return first;
}

std::optional<std::string> openText(std::string_view line, const SymmetricKey& key) {
  auto box = sealedBox(line);
  if (!box) return std::nullopt;
  return openBox(*box, key);
}

}  // namespace quib::SecureChannel
