#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>

#include "icons/ImageCodec.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace quib::test {
namespace {

std::string le(std::uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += char(v >> (8 * i));
  return s;
}
std::string be32(std::uint32_t v) {
  const std::string s = le(v, 4);
  return {s.rbegin(), s.rend()};
}

std::string pngChunk(const std::string& type, const std::string& data) {
  const std::string td = type + data;
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(td.data()), static_cast<uInt>(td.size()));
  return be32(static_cast<std::uint32_t>(data.size())) + td + be32(static_cast<std::uint32_t>(crc));
}

// A PNG declaring w x h whose image data really holds `rows` rows of zeros: a decoder that trusts
// the header allocates the whole picture and fills those rows.
std::string pngBomb(std::uint32_t w, std::uint32_t h, std::uint32_t rows) {
  const std::string raw(static_cast<std::size_t>(rows) * (1 + 4 * w), '\0');
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), 9);
  packed.resize(size);
  return "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", be32(w) + be32(h) + std::string("\x08\x06\x00\x00\x00", 5)) +
         pngChunk("IDAT", packed) + pngChunk("IEND", "");
}

std::string gifFrame(unsigned w, unsigned h) {
  return "\x2c" + le(0, 4) + le(w, 2) + le(h, 2) + std::string("\x00\x02\x02\x44\x01\x00", 6);
}
std::string gif(const std::string& blocks) {  // a 1 x 1 screen with a red first colour
  return "GIF89a" + le(1, 2) + le(1, 2) + std::string("\x80\x00\x00\xff\x00\x00\x00\x00\x00", 9) + blocks +
         "\x3b";
}

// Every accepted format decodes; pictures whose headers declare more than the bound, in every
// format, are refused before their pixels; formats icons never need are not even sniffed.
TEST(ImageCodecTest, FormatsAndBounds) {
  struct Case {
    std::string name, bytes, format;  // format "" when the bytes are not sniffed as an image
    int width = 0, height = 0;        // 0 when refused
    Rgba corner{};
  };
  const std::string greenSvg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="20" height="10">)"
                               R"(<rect width="20" height="10" fill="#00ff00"/></svg>)";
  TempDir dir;
  std::ofstream(dir.path() / "red.png", std::ios::binary) << pngBytes(solid(10, 10, kRed));
  const std::string localSvg =
      R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="10" )"
      R"(height="10"><image width="10" height="10" xlink:href="file://)" +
      (dir.path() / "red.png").string() + R"("/></svg>)";
  Image translucent = solid(5, 3, kRed);
  setPixel(translucent, 0, 0, Rgba{0, 0, 255, 128});
  std::vector<Case> cases = {
      {"png", pngBytes(translucent), "png", 5, 3, {0, 0, 128, 128}},  // premultiplied
      {"gif", gif(gifFrame(1, 1)), "gif", 1, 1, {255, 0, 0, 255}},
      {"svg", greenSvg, "svg", 20, 10, {0, 255, 0, 255}},
      {"svg naming a local file", localSvg, "svg", 10, 10, kClear},  // the file is not drawn
      {"empty", "", ""},
      {"xpm", "/* XPM */\nstatic char * x[] = {\"1 1 1 1\", \". c #FF0000\", \".\"};\n", ""},
      {"cut png", std::string("\x89PNG\r\n\x1a\n", 8), ""},
  };
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 8, 6);
  gdk_pixbuf_fill(pb, 0xdc1e1eff);
  for (const char* type : {"jpeg", "bmp", "ico", "webp"}) {
    gchar* buffer = nullptr;
    gsize size = 0;
    ASSERT_TRUE(gdk_pixbuf_save_to_buffer(pb, &buffer, &size, type, nullptr, nullptr)) << type;
    cases.push_back({type, std::string(buffer, size), type, 8, 6, kRed});
    g_free(buffer);
  }
  g_object_unref(pb);
  const std::string inner = pngBomb(30000, 30000, 0);
  const std::vector<Case> bombs = {
      {"png bomb", pngBomb(30000, 30000, 200), "png"},  // 24 MB of rows in a small file
      // a small screen whose second frame, after an extension, declares 65535 x 65535
      {"gif bomb", gif(gifFrame(1, 1) + "\x21\xf9\x04" + le(0, 5) + gifFrame(65535, 65535)), "gif"},
      // its only frame's descriptor, declaring 65535 x 65535, ends the file
      {"cut gif bomb", gif(gifFrame(65535, 65535)).substr(0, 29), "gif"},
      {"jpeg bomb",
       std::string("\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20) +
           std::string("\xff\xc0\x00\x11\x08\x75\x30\x75\x30\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01\xff\xd9",
                       21),
       "jpeg"},
      {"bmp bomb",
       "BM" + le(0, 8) + le(54, 4) + le(40, 4) + le(30000, 4) + le(30000, 4) + le(1, 2) + le(32, 2) +
           std::string(24, '\0') + std::string(64, '\x7f'),
       "bmp"},
      // one entry claiming 16 x 16 whose PNG declares 30000 x 30000
      {"ico bomb",
       le(0, 2) + le(1, 2) + le(1, 2) + "\x10\x10" + le(0, 2) + le(1, 2) + le(32, 2) + le(inner.size(), 4) +
           le(22, 4) + inner,
       "ico"},
      {"webp bomb",
       "RIFF" + le(22, 4) + "WEBPVP8X" + le(10, 4) + le(0, 4) + std::string("\xff\x3f\x00\xff\x3f\x00", 6),
       "webp"},
  };
  cases.insert(cases.end(), bombs.begin(), bombs.end());
  for (const Case& c : cases) {
    const auto header = ImageCodec::readHeader(c.bytes);
    EXPECT_EQ(header ? header->format : "", c.format) << c.name;
    if (header && !c.width) {
      EXPECT_GT(header->width * header->height, ImageCodec::kMaxPixels) << c.name;
    }
    if (!c.width) continue;
    const auto image = ImageCodec::decode(c.bytes);
    ASSERT_TRUE(image) << c.name;
    EXPECT_EQ(std::tuple(image->width, image->height), std::tuple(c.width, c.height)) << c.name;
    const Rgba p = pixel(*image, 0, 0);
    for (auto [got, want] :
         {std::pair{p.r, c.corner.r}, {p.g, c.corner.g}, {p.b, c.corner.b}, {p.a, c.corner.a}})
      EXPECT_NEAR(got, want, 8) << c.name;
  }
  // The decoders' libraries were loaded above; what is measured is what the refused pictures cost,
  // from the process's own statistics: the peak resident set is reset, then read back.
  auto kib = [](const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind(field, 0) == 0) return std::stoll(line.substr(field.size()));
    return -1LL;
  };
  std::ofstream("/proc/self/clear_refs") << "5";
  const long long before = kib("VmRSS:");
  for (const Case& c : cases)
    if (!c.width) {
      EXPECT_FALSE(ImageCodec::decode(c.bytes)) << c.name;
    }
  EXPECT_FALSE(
      ImageCodec::decode(R"(<svg xmlns="http://www.w3.org/2000/svg" width="30000" height="30000"/>)"));
  EXPECT_LT(kib("VmHWM:") - before, 10 * 1024) << "KiB";
}

}  // namespace
}  // namespace quib::test
