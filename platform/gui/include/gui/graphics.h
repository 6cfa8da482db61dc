// Colours, fonts, pictures and canvases of the toolkit's controls.
//
// TColor is the platform's colour value: $00BBGGRR for a plain colour (9150078 is red 126, green 158, blue 139),
// or a system colour (clBtnFace ...) that the toolkit resolves to its palette. Fonts are resolved through
// fontconfig: a name that is not installed is never an error, a substitute is taken. Pictures hold a bitmap
// (TBitmap, BMP data) or a JPEG image (TJPEGImage, jpeg.h, decoded with libjpeg). A canvas gives the device
// context (gui/gdi.h) of a form or paint box.
//
// Everything here belongs to the GUI thread, except TCanvas::Handle(), which any thread may call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "rtl/classes.h"
#include "rtl/sysutils.h"
#include "rtl/typinfo.h"
#include "win32/types.h"

class QFont;
class QImage;

using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

// System colours: the high byte marks them, the low byte is the platform's colour index.
constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clBackground = clSystemColor | 1;
constexpr TColor clActiveCaption = clSystemColor | 2;
constexpr TColor clInactiveCaption = clSystemColor | 3;
constexpr TColor clMenu = clSystemColor | 4;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clMenuText = clSystemColor | 7;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clCaptionText = clSystemColor | 9;
constexpr TColor clActiveBorder = clSystemColor | 10;
constexpr TColor clInactiveBorder = clSystemColor | 11;
constexpr TColor clAppWorkSpace = clSystemColor | 12;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clInactiveCaptionText = clSystemColor | 19;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor cl3DDkShadow = clSystemColor | 21;
constexpr TColor cl3DLight = clSystemColor | 22;
constexpr TColor clInfoText = clSystemColor | 23;
constexpr TColor clInfoBk = clSystemColor | 24;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// The plain $00BBGGRR value of a colour, system colours resolved. clNone and clDefault give white.
DWORD ColorToRGB(TColor color);
// Colour identifiers as descriptions store them ("clYellow", "clBtnFace"), compared without case.
bool IdentToColor(const std::string& ident, TColor& color);
// The identifier of a named colour, else the value as $XXXXXXXX.
std::string ColorToString(TColor color);

TARVO_DECLARE_EXCEPTION(EInvalidGraphic, Exception);

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = std::uint8_t;  // bit (1 << TFontStyle) per member
constexpr TFontStyles FontStyle(TFontStyle s) { return static_cast<TFontStyles>(1u << s); }

using TFontCharset = std::uint8_t;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SYMBOL_CHARSET = 2;
constexpr TFontCharset SHIFTJIS_CHARSET = 128;
constexpr TFontCharset HANGEUL_CHARSET = 129;
constexpr TFontCharset GB2312_CHARSET = 134;
constexpr TFontCharset CHINESEBIG5_CHARSET = 136;
constexpr TFontCharset OEM_CHARSET = 255;

// A control's font. Height < 0 is the character height in pixels (the usual way descriptions give it),
// Height > 0 the cell height; Size is in points at 96 pixels per inch (Height -12 is Size 9). The character
// set picks nothing by itself: fontconfig finds glyphs for every script the text holds.
class TFont : public TPersistent {
 public:
  TARVO_PUBLISHED(TFont)
  TFont();
  ~TFont() override;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& name);
  int Height() const { return FHeight; }
  void SetHeight(int height);
  int Size() const;
  void SetSize(int size);
  TColor Color() const { return FColor; }
  void SetColor(TColor color);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles style);
  TFontCharset Charset() const { return FCharset; }
  void SetCharset(TFontCharset charset);
  void Assign(const TFont& source);
  bool SameAs(const TFont& other) const;

  // The Qt font this describes (toolkit use).
  QFont ToQFont() const;
  // Told after every change.
  TNotifyEvent OnChange;

 private:
  void Changed();
  std::string FName = "MS Sans Serif";
  int FHeight = -11;
  TColor FColor = clWindowText;
  TFontStyles FStyle = 0;
  TFontCharset FCharset = DEFAULT_CHARSET;
};

// A picture format: an image of Width x Height pixels, or empty. Descriptions name the embedded file it is
// loaded from: Glyph.File = 'pictures/stop.bmp'.
class TGraphic : public TPersistent {
 public:
  TARVO_PUBLISHED(TGraphic)
  ~TGraphic() override;
  int Width() const;
  int Height() const;
  bool Empty() const;
  // Decodes the bytes of a file of this format; EInvalidGraphic (with the reason) when they do not decode.
  virtual void LoadFromBytes(std::string_view data) = 0;
  void LoadFromFile(const std::string& fileName);  // EFOpenError when it cannot be read
  // The embedded picture it was loaded from ("" for none); setting it loads it, "" empties the graphic.
  const std::string& File() const { return FFile; }
  void SetFile(const std::string& name);
  void Clear();
  // The decoded pixels (toolkit use); an empty image when Empty().
  const QImage& Image() const;
  // Told after every change of the image.
  TNotifyEvent OnChange;

 protected:
  TGraphic();
  void SetImage(const QImage& image);

 private:
  std::unique_ptr<QImage> FImage;
  std::string FFile;
};

// A BMP picture: glyphs of buttons. The colour of its bottom-left pixel is the transparent colour when a button
// draws it as a glyph.
class TBitmap : public TGraphic {
 public:
  TARVO_PUBLISHED(TBitmap)
  TBitmap();
  void LoadFromBytes(std::string_view data) override;
  TColor TransparentColor() const;  // the bottom-left pixel, clNone when empty
};

// A picture of any supported format, chosen by the bytes it is loaded from (JPEG or BMP). Descriptions name the
// embedded file: Picture.File = 'pictures/play.jpg'.
class TPicture : public TPersistent {
 public:
  TARVO_PUBLISHED(TPicture)
  TPicture();
  ~TPicture() override;
  TGraphic* Graphic() const { return FGraphic.get(); }
  void SetGraphic(std::unique_ptr<TGraphic> graphic);
  int Width() const;
  int Height() const;
  void LoadFromBytes(std::string_view data);  // EInvalidGraphic for an unknown or damaged picture
  void LoadFromFile(const std::string& fileName);
  // Loads a picture embedded into the program (tarvo_add_forms); EInvalidGraphic when it is not embedded.
  void LoadFromResource(const std::string& name);
  const std::string& File() const { return FFile; }
  void SetFile(const std::string& name);  // LoadFromResource, or Clear for ""
  void Clear();
  TNotifyEvent OnChange;

 private:
  void Changed();
  std::unique_ptr<TGraphic> FGraphic;
  std::string FFile;
};

namespace tarvo_gui {
struct TSurface;
}

// The drawing surface of a form or paint box. Handle() is its device context for SetDIBitsToDevice (gdi.h):
// the origin is the control's top-left corner, and drawing is clipped to the control. What is drawn stays until
// it is drawn over.
class TCanvas : public TPersistent {
 public:
  explicit TCanvas(std::shared_ptr<tarvo_gui::TSurface> surface);
  ~TCanvas() override;
  HDC Handle() const { return FHandle; }  // any thread

 private:
  HDC FHandle = nullptr;
};
