// JPEG pictures, decoded with libjpeg: the recorder's picture buttons and panel art. A TPicture loaded from JPEG
// bytes holds one of these; images of descriptions name their JPEG files by path (see platform/gui/README.md).
// GUI thread, like every picture.
#pragma once

#include <string_view>

#include "gui/graphics.h"

class TJPEGImage : public TGraphic {
 public:
  TARVO_PUBLISHED(TJPEGImage)
  TJPEGImage();
  // Baseline and progressive JPEG, greyscale, YCbCr/RGB and CMYK; EInvalidGraphic with libjpeg's reason for
  // damaged or truncated data.
  void LoadFromBytes(std::string_view data) override;
};
