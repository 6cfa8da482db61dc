// JPEG decoding with libjpeg (jpeg.h). libjpeg reports fatal errors through a callback that must not return;
// it jumps back here, and the error becomes EInvalidGraphic once no libjpeg frame is left on the stack.
#include "gui/jpeg.h"

#include <QImage>
#include <csetjmp>
#include <cstdio>
#include <string>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace {

struct TErrorManager {
  jpeg_error_mgr Base;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->Message);
  std::longjmp(err->Jump, 1);
}

void NoOutput(j_common_ptr) {}

// Decodes into image; false with err.Message set on failure. Only plain data lives in this frame, so the jump
// back skips no destructor.
bool Decode(const unsigned char* data, unsigned long size, QImage& image, TErrorManager& err) {
  jpeg_decompress_struct cinfo;
  cinfo.err = jpeg_std_error(&err.Base);
  err.Base.error_exit = ErrorExit;
  err.Base.output_message = NoOutput;
  err.Message[0] = '\0';
  if (setjmp(err.Jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, size);
  jpeg_read_header(&cinfo, TRUE);
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  const int width = static_cast<int>(cinfo.output_width);
  const int height = static_cast<int>(cinfo.output_height);
  const int components = cinfo.output_components;
  image = QImage(width, height, QImage::Format_RGB32);
  if (image.isNull()) {
    std::snprintf(err.Message, sizeof err.Message, "image of %d x %d pixels is too large", width, height);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  // One row buffer, allocated by libjpeg so that it is freed with the decompressor, also after a jump.
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                             static_cast<JDIMENSION>(width * components), 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, row, 1);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    const JSAMPLE* in = row[0];
    for (int x = 0; x < width; ++x, in += components) {
      if (cmyk) {
        // Adobe writes CMYK inverted: each byte is already 255 - ink.
        const int k = in[3];
        out[x] = qRgb(in[0] * k / 255, in[1] * k / 255, in[2] * k / 255);
      } else {
        out[x] = qRgb(in[0], in[1], in[2]);
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

TARVO_PUBLISH(TJPEGImage, TGraphic) {}

TJPEGImage::TJPEGImage() = default;

void TJPEGImage::LoadFromBytes(std::string_view data) {
  if (data.empty()) throw EInvalidGraphic("JPEG error: empty data");
  QImage image;
  TErrorManager err;
  if (!Decode(reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()), image, err))
    throw EInvalidGraphic(std::string("JPEG error: ") + err.Message);
  SetImage(image);
}
