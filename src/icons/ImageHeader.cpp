// Reading the declared size of an image from its first bytes, without decoding it.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "icons/ImageCodec.h"

namespace quib::ImageCodec {

namespace {

struct Reader {
  std::string_view b;
  bool has(std::size_t at, std::size_t n) const { return at <= b.size() && n <= b.size() - at; }
  // Past the end reads as zero: a format's own checks decide what a short file means, and a check
  // forgotten there must not become a read outside the buffer.
  unsigned u8(std::size_t at) const { return at < b.size() ? static_cast<unsigned char>(b[at]) : 0; }
  unsigned be16(std::size_t at) const { return u8(at) << 8 | u8(at + 1); }
  unsigned le16(std::size_t at) const { return u8(at) | u8(at + 1) << 8; }
  std::uint32_t be32(std::size_t at) const { return std::uint32_t(be16(at)) << 16 | be16(at + 2); }
  std::uint32_t le32(std::size_t at) const { return le16(at) | std::uint32_t(le16(at + 2)) << 16; }
  bool tag(std::size_t at, std::string_view t) const {
    return has(at, t.size()) && b.substr(at, t.size()) == t;
  }
};

constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);

std::optional<Header> png(const Reader& r) {
  if (!r.has(16, 8) || !r.tag(12, "IHDR")) return std::nullopt;
  return Header{"png", r.be32(16), r.be32(20)};
}

std::optional<Header> jpeg(const Reader& r) {
  std::size_t at = 2;
  while (r.has(at, 4)) {
    if (r.u8(at) != 0xFF) return std::nullopt;
    const unsigned marker = r.u8(at + 1);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // markers without a length
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // image data before any frame header
    const unsigned length = r.be16(at + 2);
    if (length < 2) return std::nullopt;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (!r.has(at + 5, 4)) return std::nullopt;
      return Header{"jpeg", r.be16(at + 7), r.be16(at + 5)};
    }
    at += 2 + length;
  }
  return std::nullopt;
}

std::optional<Header> gif(const Reader& r) {
  if (!r.has(6, 7)) return std::nullopt;
  long long w = r.le16(6), h = r.le16(8);
  std::size_t at = 13;
  if (r.u8(10) & 0x80) at += 3u * (2u << (r.u8(10) & 7));
  auto skipSubBlocks = [&] {
    while (r.has(at, 1)) {
      const unsigned n = r.u8(at);
      at += 1 + n;
      if (n == 0) return true;
    }
    return false;
  };
  // Every frame counts: a frame larger than the screen could make the decoder grow its canvas.
  while (r.has(at, 1)) {
    const unsigned block = r.u8(at);
    if (block == 0x3B) break;  // trailer
    if (block == 0x21) {
      at += 2;
      if (!skipSubBlocks()) break;
    } else if (block == 0x2C) {
      if (!r.has(at, 10)) break;
      w = std::max<long long>(w, r.le16(at + 1) + r.le16(at + 5));
      h = std::max<long long>(h, r.le16(at + 3) + r.le16(at + 7));
      const unsigned flags = r.u8(at + 9);
      at += 10;
      if (flags & 0x80) at += 3u * (2u << (flags & 7));
      at += 1;  // LZW minimum code size
      if (!skipSubBlocks()) break;
    } else {
      break;
    }
  }
  return Header{"gif", w, h};
}

// The size of one ICO entry's picture: an embedded PNG's own header, or the bitmap's.
std::optional<std::pair<long long, long long>> icoEntry(const Reader& r, std::size_t entry) {
  const std::size_t offset = r.le32(entry + 12);
  long long w = r.u8(entry) ? r.u8(entry) : 256, h = r.u8(entry + 1) ? r.u8(entry + 1) : 256;
  if (r.tag(offset, kPngSignature)) {
    auto inner = png(Reader{r.b.substr(offset)});
    if (!inner) return std::nullopt;
    return std::pair{std::max(w, inner->width), std::max(h, inner->height)};
  }
  if (r.has(offset, 12)) {
    const auto bw = static_cast<std::int32_t>(r.le32(offset + 4)),
               bh = static_cast<std::int32_t>(r.le32(offset + 8));
    w = std::max<long long>(w, std::llabs(bw));
    h = std::max<long long>(h, std::llabs(bh) / 2);  // the height covers the colour and mask planes
  }
  return std::pair{w, h};
}

std::optional<Header> ico(const Reader& r) {
  if (!r.has(0, 6)) return std::nullopt;
  const unsigned count = r.le16(4);
  if (count == 0 || !r.has(6, 16u * count)) return std::nullopt;
  Header out{"ico", 0, 0};
  for (unsigned i = 0; i < count; ++i) {
    auto size = icoEntry(r, 6 + 16u * i);
    if (!size) return std::nullopt;
    out.width = std::max(out.width, size->first);
    out.height = std::max(out.height, size->second);
  }
  return out;
}

std::optional<Header> bmp(const Reader& r) {
  if (!r.has(14, 4)) return std::nullopt;
  // The decoder sizes its buffers by the header length and the pixel offset the file declares:
  // only the header lengths that exist, and an offset inside the file, keep that within its size.
  const std::uint32_t dib = r.le32(14);
  constexpr std::uint32_t kHeaderLengths[] = {12, 40, 52, 56, 64, 108, 124};
  if (std::find(std::begin(kHeaderLengths), std::end(kHeaderLengths), dib) == std::end(kHeaderLengths) ||
      r.le32(10) > r.b.size())
    return std::nullopt;
  if (dib == 12) {
    if (!r.has(18, 4)) return std::nullopt;
    return Header{"bmp", r.le16(18), r.le16(20)};
  }
  if (!r.has(18, 8)) return std::nullopt;
  const auto w = static_cast<std::int32_t>(r.le32(18)), h = static_cast<std::int32_t>(r.le32(22));
  return Header{"bmp", std::llabs(w), std::llabs(h)};
}

std::optional<Header> webp(const Reader& r) {
  if (r.tag(12, "VP8X") && r.has(24, 6))
    return Header{"webp", (r.le32(24) & 0xFFFFFF) + 1, (r.le32(27) & 0xFFFFFF) + 1};
  if (r.tag(12, "VP8L") && r.has(20, 5) && r.u8(20) == 0x2F) {
    const std::uint32_t bits = r.le32(21);
    return Header{"webp", (bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1};
  }
  if (r.tag(12, "VP8 ") && r.has(20, 10) && r.u8(23) == 0x9D && r.u8(24) == 0x01 && r.u8(25) == 0x2A)
    return Header{"webp", r.le16(26) & 0x3FFF, r.le16(28) & 0x3FFF};
  return std::nullopt;
}

bool looksLikeSvg(std::string_view b) {
  std::size_t at = 0;
  if (b.substr(0, 3) == "\xEF\xBB\xBF") at = 3;
  while (at < b.size() && std::isspace(static_cast<unsigned char>(b[at]))) ++at;
  if (at >= b.size() || b[at] != '<') return false;
  std::string head(b.substr(at, 4096));
  std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
  return head.find("<svg") != std::string::npos;
}

}  // namespace

std::optional<Header> readHeader(std::string_view bytes) {
  const Reader r{bytes};
  if (r.tag(0, kPngSignature)) return png(r);
  if (r.has(0, 3) && r.u8(0) == 0xFF && r.u8(1) == 0xD8 && r.u8(2) == 0xFF) return jpeg(r);
  if (r.tag(0, "GIF87a") || r.tag(0, "GIF89a")) return gif(r);
  if (r.has(0, 4) && r.le16(0) == 0 && r.le16(2) == 1) return ico(r);
  if (r.tag(0, "BM")) return bmp(r);
  if (r.tag(0, "RIFF") && r.tag(8, "WEBP")) return webp(r);
  if (looksLikeSvg(bytes)) return Header{"svg", 0, 0};
  return std::nullopt;
}

}  // namespace quib::ImageCodec
