#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <functional>

#include "icons/Canvas.h"
#include "icons/ImageCodec.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace quib::test {
namespace {

TEST(ImageCodecTest, PngRoundTripKeepsPremultipliedPixels) {
  Image img = solid(5, 3, kClear);
  setPixel(img, 0, 0, kRed);
  setPixel(img, 4, 2, Rgba{0, 0, 255, 128});
  auto decoded = ImageCodec::decode(pngBytes(img));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 5);
  EXPECT_EQ(decoded->height, 3);
  EXPECT_EQ(pixel(*decoded, 0, 0).r, 220);
  EXPECT_EQ(pixel(*decoded, 4, 2).a, 128);
  EXPECT_NEAR(pixel(*decoded, 4, 2).b, 128, 1);  // premultiplied
  EXPECT_EQ(pixel(*decoded, 1, 1).a, 0);
}

std::string be32(std::uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string le16(unsigned v) {
  return {char(v), char(v >> 8)};
}
std::string le32(std::uint32_t v) {
  return le16(v & 0xFFFF) + le16(v >> 16);
}

std::string pngChunk(const std::string& type, const std::string& data) {
  const std::string td = type + data;
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(td.data()), static_cast<uInt>(td.size()));
  return be32(static_cast<std::uint32_t>(data.size())) + td + be32(static_cast<std::uint32_t>(crc));
}

// A PNG declaring w x h whose image data really holds `rows` rows of zeros: a decoder that trusts
// the header allocates the whole picture and fills those rows.
std::string pngBomb(std::uint32_t w, std::uint32_t h, std::uint32_t rows) {
  const std::string ihdr = be32(w) + be32(h) + std::string("\x08\x06\x00\x00\x00", 5);
  std::string raw(static_cast<std::size_t>(rows) * (1 + 4 * w), '\0');
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), 9);
  packed.resize(size);
  return "\x89PNG\r\n\x1a\n" + pngChunk("IHDR", ihdr) + pngChunk("IDAT", packed) + pngChunk("IEND", "");
}

std::string gifBomb() {  // a small screen whose second frame, after an extension, declares 65535 x 65535
  const std::string data("\x00\x02\x02\x44\x01\x00", 6);
  return std::string("GIF89a") + le16(16) + le16(16) + std::string("\x80\x00\x00", 3) + std::string(6, '\0') +
         std::string("\x21\xf9\x04\x00\x00\x00\x00\x00", 8) + "\x2c" + le16(0) + le16(0) + le16(16) +
         le16(16) + data + "\x2c" + le16(0) + le16(0) + le16(65535) + le16(65535) + data + "\x3b";
}

std::string jpegBomb() {  // a frame header declaring 30000 x 30000, three components
  return std::string("\xff\xd8\xff\xe0", 4) + std::string("\x00\x10JFIF", 6) +
         std::string("\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 10) +
         std::string("\xff\xc0\x00\x11\x08", 5) + "\x75\x30\x75\x30" +
         std::string("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10) + std::string("\xff\xd9", 2);
}

std::string bmpBomb() {
  std::string b =
      "BM" + le32(0) + le32(0) + le32(54) + le32(40) + le32(30000) + le32(30000) + le16(1) + le16(32);
  return b + std::string(54 - b.size(), '\0') + std::string(64, '\x7f');
}

std::string icoBomb() {  // one entry claiming 16 x 16 whose PNG declares 30000 x 30000
  const std::string inner = pngBomb(30000, 30000, 0);
  return le16(0) + le16(1) + le16(1) + std::string("\x10\x10\x00\x00", 4) + le16(1) + le16(32) +
         le32(static_cast<std::uint32_t>(inner.size())) + le32(22) + inner;
}

std::string webpBomb() {  // an extended header with a 16384 x 16384 canvas
  const std::string vp8x =
      "VP8X" + le32(10) + std::string(4, '\0') + std::string("\xff\x3f\x00\xff\x3f\x00", 6);
  return "RIFF" + le32(static_cast<std::uint32_t>(4 + vp8x.size())) + "WEBP" + vp8x;
}

// The resident set's growth while f runs, from the process's own statistics: the peak is reset
// first, then read back.
long long peakGrowthKiB(const std::function<void()>& f) {
  auto read = [](const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::string(field).size()));
    return -1LL;
  };
  std::ofstream("/proc/self/clear_refs") << "5";
  const long long before = read("VmRSS:");
  f();
  return read("VmHWM:") - before;
}

TEST(ImageCodecTest, BombsOfEveryFormatAreRefusedBeforeTheirPixels) {
  const std::vector<std::pair<std::string, std::string>> bombs = {{"png", pngBomb(30000, 30000, 200)},
                                                                  {"gif", gifBomb()},
                                                                  {"jpeg", jpegBomb()},
                                                                  {"bmp", bmpBomb()},
                                                                  {"ico", icoBomb()},
                                                                  {"webp", webpBomb()}};
  for (const auto& [format, bytes] : bombs) {
    auto header = ImageCodec::readHeader(bytes);
    ASSERT_TRUE(header) << format;
    EXPECT_EQ(header->format, format);
    EXPECT_GT(header->width * header->height, ImageCodec::kMaxPixels) << format;
  }
  EXPECT_LT(bombs[0].second.size(), 100u * 1024);  // 24 MB of rows in a small file
  // Loading the decoders' libraries the first time costs memory too; that is not what is measured.
  ASSERT_TRUE(ImageCodec::decode(pngBytes(solid(4, 4, kRed))));
  ASSERT_TRUE(ImageCodec::decode(
      R"(<svg xmlns="http://www.w3.org/2000/svg" width="4" height="4"><rect width="4" height="4"/></svg>)"));
  const long long grown = peakGrowthKiB([&] {
    for (const auto& [format, bytes] : bombs) EXPECT_FALSE(ImageCodec::decode(bytes)) << format;
    EXPECT_FALSE(
        ImageCodec::decode(R"(<svg xmlns="http://www.w3.org/2000/svg" width="30000" height="30000"/>)"));
  });
  EXPECT_LT(grown, 10 * 1024) << "KiB";
}

TEST(ImageCodecTest, EveryAcceptedFormatDecodesAndOthersNeverReachALoader) {
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 8, 6);
  gdk_pixbuf_fill(pb, 0xdc1e1eff);
  for (const char* type : {"png", "jpeg", "bmp", "ico", "webp"}) {
    gchar* buffer = nullptr;
    gsize size = 0;
    ASSERT_TRUE(gdk_pixbuf_save_to_buffer(pb, &buffer, &size, type, nullptr, nullptr)) << type;
    const std::string bytes(buffer, size);
    g_free(buffer);
    EXPECT_EQ(ImageCodec::readHeader(bytes)->format, type);
    auto image = ImageCodec::decode(bytes);
    ASSERT_TRUE(image) << type;
    EXPECT_EQ(image->width, 8) << type;
    EXPECT_EQ(image->height, 6) << type;
    EXPECT_NEAR(pixel(*image, 4, 3).r, 220, 8) << type;
  }
  g_object_unref(pb);
  // A 1 x 1 GIF, written by hand since gdk-pixbuf cannot write GIF.
  const std::string gif = std::string("GIF89a") + le16(1) + le16(1) +
                          std::string("\x80\x00\x00\xff\x00\x00\x00\x00\x00", 9) + "\x2c" + le16(0) +
                          le16(0) + le16(1) + le16(1) + std::string("\x00\x02\x02\x44\x01\x00\x3b", 7);
  auto image = ImageCodec::decode(gif);
  ASSERT_TRUE(image);
  EXPECT_EQ(pixel(*image, 0, 0).r, 255);
  // Formats gdk-pixbuf knows but icons never need are not even sniffed as images.
  const std::string others[] = {"",
                                "not an image at all",
                                "/* XPM */\nstatic char * x[] = {\"1 1 1 1\", \". c #FF0000\", \".\"};\n",
                                "P6\n1 1\n255\n\xff\x00\x00",
                                std::string("II*\0", 4),               // TIFF
                                std::string("\x89PNG\r\n\x1a\n", 8)};  // cut off before its header
  for (const std::string& bytes : others) {
    EXPECT_FALSE(ImageCodec::readHeader(bytes)) << bytes;
    EXPECT_FALSE(ImageCodec::decode(bytes)) << bytes;
  }
}

TEST(ImageCodecTest, SvgRendersButCannotReadLocalFiles) {
  auto square = ImageCodec::decode(
      R"(<svg xmlns="http://www.w3.org/2000/svg" width="20" height="10"><rect width="20" height="10" fill="#00ff00"/></svg>)");
  ASSERT_TRUE(square);
  EXPECT_EQ(square->width, 20);
  EXPECT_EQ(pixel(*square, 10, 5).g, 255);

  TempDir dir;
  const auto red = dir.path() / "red.png";
  std::ofstream(red, std::ios::binary) << pngBytes(solid(10, 10, kRed));
  const std::string svg =
      R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" )"
      R"(width="10" height="10"><image width="10" height="10" xlink:href="file://)" +
      red.string() + R"("/></svg>)";
  auto decoded = ImageCodec::decode(svg);
  if (decoded) {
    EXPECT_EQ(pixel(*decoded, 5, 5).a, 0);  // the local file was not drawn
  }
}

TEST(CanvasTest, DrawScalesAndWhiteFills) {
  auto canvas = Canvas::create(4, 4);
  ASSERT_TRUE(canvas);
  EXPECT_EQ(pixel(canvas->image(), 0, 0).a, 0);
  canvas->draw(solid(1, 1, kRed), {0, 0, 2, 4});
  auto img = canvas->image();
  EXPECT_EQ(pixel(img, 1, 3).r, 220);
  EXPECT_EQ(pixel(img, 3, 3).a, 0);
  canvas->fillWhite();
  EXPECT_EQ(pixel(canvas->image(), 3, 3).r, 255);
  EXPECT_FALSE(Canvas::create(0, 5));
  auto cut = crop(img, 1, 1, 10, 10);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->width, 3);
  EXPECT_FALSE(crop(img, 10, 10, 2, 2));
}

}  // namespace
}  // namespace quib::test
