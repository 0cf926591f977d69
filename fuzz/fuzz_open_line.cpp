// Arbitrary lines through the opener: nothing opens without the key, and nothing crashes.
#include <cstdint>
#include <cstdlib>

#include "crypto/SecureChannel.h"
#include "server/SealedLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const quib::SymmetricKey key = quib::SecureChannel::pairKey("000000", quib::Bytes(16, 7));
  std::string_view line(reinterpret_cast<const char*>(data), size);
  (void)quib::SecureChannel::isEncrypted(line);
  (void)quib::openLine<quib::ClientMessage>(line, key);
  // A forged box carrying our own plaintext must not authenticate.
  if (quib::SecureChannel::openText(line, key)) std::abort();
  return 0;
}
