// Pictures: JPEG decoded through libjpeg to known pixels, BMP glyphs, pictures chosen by their bytes.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <string>

#include "rtl/formreader.h"
#include "testforms.h"

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace {

// Encodes width x height pixels given by pixel(x, y) -> {r, g, b} (or grey when components is 1).
template <class F>
std::string EncodeJpeg(int width, int height, int components, F pixel, bool progressive = false) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  // No chroma subsampling, so that sharp colour edges stay where they are.
  for (int c = 0; c < cinfo.num_components; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(width * components));
  while (cinfo.next_scanline < cinfo.image_height) {
    int y = static_cast<int>(cinfo.next_scanline);
    for (int x = 0; x < width; ++x) {
      auto [r, g, b] = pixel(x, y);
      if (components == 1) {
        row[static_cast<std::size_t>(x)] = static_cast<unsigned char>(r);
      } else {
        row[static_cast<std::size_t>(x * 3)] = static_cast<unsigned char>(r);
        row[static_cast<std::size_t>(x * 3 + 1)] = static_cast<unsigned char>(g);
        row[static_cast<std::size_t>(x * 3 + 2)] = static_cast<unsigned char>(b);
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string data(reinterpret_cast<char*>(out), size);
  free(out);
  return data;
}

void ExpectNear(const QColor& c, int r, int g, int b, int tolerance = 6) {
  EXPECT_NEAR(c.red(), r, tolerance);
  EXPECT_NEAR(c.green(), g, tolerance);
  EXPECT_NEAR(c.blue(), b, tolerance);
}

struct TRgb {
  int r, g, b;
};

}  // namespace

TEST(Jpeg, DecodesToKnownPixels) {
  // Four 16 x 16 quadrants: red, green, blue, white; a 2-pixel grey stripe inside each to check position.
  auto pixel = [](int x, int y) -> TRgb {
    if (x >= 6 && x < 8) return {128, 128, 128};
    if (x < 16 && y < 16) return {255, 0, 0};
    if (x >= 16 && y < 16) return {0, 255, 0};
    if (x < 16) return {0, 0, 255};
    return {255, 255, 255};
  };
  for (bool progressive : {false, true}) {
    TJPEGImage jpeg;
    jpeg.LoadFromBytes(EncodeJpeg(32, 32, 3, pixel, progressive));
    ASSERT_EQ(jpeg.Width(), 32);
    ASSERT_EQ(jpeg.Height(), 32);
    const QImage& img = jpeg.Image();
    ExpectNear(img.pixelColor(2, 2), 255, 0, 0);
    ExpectNear(img.pixelColor(28, 4), 0, 255, 0);
    ExpectNear(img.pixelColor(12, 28), 0, 0, 255);
    ExpectNear(img.pixelColor(28, 28), 255, 255, 255);
    ExpectNear(img.pixelColor(6, 3), 128, 128, 128, 12);
    ExpectNear(img.pixelColor(7, 20), 128, 128, 128, 12);
  }
}

TEST(Jpeg, DecodesGreyscale) {
  TJPEGImage jpeg;
  jpeg.LoadFromBytes(EncodeJpeg(8, 8, 1, [](int, int) { return TRgb{200, 0, 0}; }));
  ExpectNear(jpeg.Image().pixelColor(3, 3), 200, 200, 200, 2);
}

TEST(Jpeg, DamagedDataIsAnErrorWithLibjpegsReason) {
  std::string good = EncodeJpeg(8, 8, 3, [](int, int) { return TRgb{1, 2, 3}; });
  TJPEGImage jpeg;
  try {
    jpeg.LoadFromBytes(good.substr(0, 20));  // the header breaks off
    FAIL() << "a broken header decodes";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message().rfind("JPEG error: ", 0), 0u) << e.Message();
  }
  EXPECT_THROW(jpeg.LoadFromBytes(""), EInvalidGraphic);
  EXPECT_THROW(jpeg.LoadFromBytes("\xFF\xD8 not really"), EInvalidGraphic);
  EXPECT_TRUE(jpeg.Empty());
}

TEST(Pictures, TheBytesChooseTheFormat) {
  TPicture picture;
  picture.LoadFromResource("pictures/button.jpg");
  EXPECT_NE(dynamic_cast<TJPEGImage*>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), 60);
  EXPECT_EQ(picture.File(), "pictures/button.jpg");
  picture.LoadFromResource("pictures/glyph2.bmp");
  auto* bitmap = dynamic_cast<TBitmap*>(picture.Graphic());
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->Width(), 32);
  EXPECT_EQ(bitmap->Height(), 16);
  EXPECT_EQ(bitmap->TransparentColor(), clFuchsia);
  EXPECT_THROW(picture.LoadFromResource("pictures/missing.jpg"), EInvalidGraphic);
  EXPECT_THROW(picture.LoadFromBytes("GIF89a"), EInvalidGraphic);
  EXPECT_THROW(picture.LoadFromFile("/nonexistent/picture.jpg"), EFOpenError);
  picture.Clear();
  EXPECT_EQ(picture.Graphic(), nullptr);
}

TEST(Pictures, ColoursConvertBothWays) {
  EXPECT_EQ(ColorToRGB(9150078), 0x8B9E7Eu);
  EXPECT_EQ(ColorToRGB(clBtnFace), 0xC8D0D4u);
  TColor c = 0;
  EXPECT_TRUE(IdentToColor("CLYELLOW", c));
  EXPECT_EQ(c, clYellow);
  EXPECT_FALSE(IdentToColor("clReddish", c));
  EXPECT_EQ(ColorToString(clMaroon), "clMaroon");
  EXPECT_EQ(ColorToString(0x505A64), "$00505A64");
}
