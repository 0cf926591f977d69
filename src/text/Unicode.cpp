#include "text/Unicode.h"

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>

namespace quib::Unicode {

std::string nfc(std::string_view utf8) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* norm = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return std::string(utf8);
  auto in = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  if (norm->isNormalized(in, status) && U_SUCCESS(status)) return std::string(utf8);
  status = U_ZERO_ERROR;
  icu::UnicodeString out = norm->normalize(in, status);
  if (U_FAILURE(status)) return std::string(utf8);
  std::string result;
  out.toUTF8String(result);
  return result;
}

bool canonicalLess(std::string_view a, std::string_view b) {
  return nfc(a) < nfc(b);
}
bool canonicallyEqual(std::string_view a, std::string_view b) {
  return a == b || nfc(a) == nfc(b);
}

namespace {
// Walks the grapheme boundaries; calls stop(count, byteOffset) after each cluster until it says so.
template <typename F>
void eachGrapheme(std::string_view utf8, F&& stop) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return;
  UText* text = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
  if (U_FAILURE(status)) return;
  it->setText(text, status);
  std::size_t count = 0;
  for (int32_t end = it->next(); end != icu::BreakIterator::DONE; end = it->next())
    if (stop(++count, static_cast<std::size_t>(end))) break;
  utext_close(text);
}
}  // namespace

std::size_t graphemeCount(std::string_view utf8) {
  std::size_t n = 0;
  eachGrapheme(utf8, [&](std::size_t count, std::size_t) {
    n = count;
    return false;
  });
  return n;
}

std::string graphemePrefix(std::string_view utf8, std::size_t n) {
  if (n == 0) return {};
  std::size_t cut = utf8.size();
  eachGrapheme(utf8, [&](std::size_t count, std::size_t offset) {
    if (count < n) return false;
    cut = offset;
    return true;
  });
  return std::string(utf8.substr(0, cut));
}

namespace {
// True when every code point passes; a byte sequence that is not UTF-8 fails.
template <typename Pred>
bool allCodePoints(std::string_view utf8, Pred&& pred) {
  int32_t i = 0;
  const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
  const auto n = static_cast<int32_t>(utf8.size());
  while (i < n) {
    UChar32 c;
    U8_NEXT(s, i, n, c);
    if (c < 0 || !pred(c)) return false;
  }
  return true;
}
}  // namespace

bool isValidUtf8(std::string_view bytes) {
  return allCodePoints(bytes, [](UChar32) { return true; });
}

bool isWhitespaceOnly(std::string_view utf8) {
  return allCodePoints(utf8, [](UChar32 c) { return u_isUWhiteSpace(c) != 0; });
}

void sortLocalizedCaseInsensitive(std::vector<std::string>& names) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> coll(icu::Collator::createInstance(icu::Locale::getDefault(), status));
  if (U_FAILURE(status)) {
    std::sort(names.begin(), names.end());
    return;
  }
  coll->setStrength(icu::Collator::SECONDARY);  // ignore case, keep accents
  std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    UErrorCode s = U_ZERO_ERROR;
    return coll->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                             icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), s) == UCOL_LESS;
  });
}

}  // namespace quib::Unicode
