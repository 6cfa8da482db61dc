// Colours, fonts, bitmaps, pictures and canvases (graphics.h).
#include "gui/graphics.h"

#include <QFont>
#include <QImage>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "gui/jpeg.h"
#include "gui_p.h"
#include "props_p.h"
#include "rtl/formreader.h"

namespace {

// The classic palette of the platform's system colours, index by index, as $00BBGGRR.
constexpr DWORD kSystemColors[] = {
    0xC8C8C8, 0xA56E3A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000, 0x000000,
    0xFFFFFF, 0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4, 0x808080, 0x808080,
    0x000000, 0xC8D0D4, 0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000, 0xE1FFFF,
};

struct TColorName {
  const char* Name;
  TColor Value;
};
constexpr TColorName kColorNames[] = {
    {"clBlack", clBlack},
    {"clMaroon", clMaroon},
    {"clGreen", clGreen},
    {"clOlive", clOlive},
    {"clNavy", clNavy},
    {"clPurple", clPurple},
    {"clTeal", clTeal},
    {"clGray", clGray},
    {"clSilver", clSilver},
    {"clRed", clRed},
    {"clLime", clLime},
    {"clYellow", clYellow},
    {"clBlue", clBlue},
    {"clFuchsia", clFuchsia},
    {"clAqua", clAqua},
    {"clWhite", clWhite},
    {"clScrollBar", clScrollBar},
    {"clBackground", clBackground},
    {"clActiveCaption", clActiveCaption},
    {"clInactiveCaption", clInactiveCaption},
    {"clMenu", clMenu},
    {"clWindow", clWindow},
    {"clWindowFrame", clWindowFrame},
    {"clMenuText", clMenuText},
    {"clWindowText", clWindowText},
    {"clCaptionText", clCaptionText},
    {"clActiveBorder", clActiveBorder},
    {"clInactiveBorder", clInactiveBorder},
    {"clAppWorkSpace", clAppWorkSpace},
    {"clHighlight", clHighlight},
    {"clHighlightText", clHighlightText},
    {"clBtnFace", clBtnFace},
    {"clBtnShadow", clBtnShadow},
    {"clGrayText", clGrayText},
    {"clBtnText", clBtnText},
    {"clInactiveCaptionText", clInactiveCaptionText},
    {"clBtnHighlight", clBtnHighlight},
    {"cl3DDkShadow", cl3DDkShadow},
    {"cl3DLight", cl3DLight},
    {"clInfoText", clInfoText},
    {"clInfoBk", clInfoBk},
    {"clNone", clNone},
    {"clDefault", clDefault},
};

struct TCharsetName {
  const char* Name;
  TFontCharset Value;
};
constexpr TCharsetName kCharsetNames[] = {
    {"ANSI_CHARSET", ANSI_CHARSET},         {"DEFAULT_CHARSET", DEFAULT_CHARSET},
    {"SYMBOL_CHARSET", SYMBOL_CHARSET},     {"SHIFTJIS_CHARSET", SHIFTJIS_CHARSET},
    {"HANGEUL_CHARSET", HANGEUL_CHARSET},   {"GB2312_CHARSET", GB2312_CHARSET},
    {"CHINESEBIG5_CHARSET", CHINESEBIG5_CHARSET}, {"OEM_CHARSET", OEM_CHARSET},
};

std::string ReadWholeFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

DWORD ColorToRGB(TColor color) {
  if ((color & clSystemColor) == clSystemColor) {
    unsigned index = static_cast<unsigned>(color) & 0xFF;
    if (index < std::size(kSystemColors)) return kSystemColors[index];
    return 0xFFFFFF;
  }
  if (color == clNone || color == clDefault) return 0xFFFFFF;
  return static_cast<DWORD>(color) & 0xFFFFFF;
}

bool IdentToColor(const std::string& ident, TColor& color) {
  for (const TColorName& n : kColorNames)
    if (SameText(ident, n.Name)) {
      color = n.Value;
      return true;
    }
  return false;
}

std::string ColorToString(TColor color) {
  for (const TColorName& n : kColorNames)
    if (n.Value == color) return n.Name;
  char text[16];
  std::snprintf(text, sizeof text, "$%08X", static_cast<unsigned>(color));
  return text;
}

namespace tarvo_gui {

QColor ToQColor(TColor color) {
  DWORD rgb = ColorToRGB(color);
  return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF), static_cast<int>((rgb >> 16) & 0xFF));
}

TColor FromQColor(const QColor& color) {
  return static_cast<TColor>(color.red() | (color.green() << 8) | (color.blue() << 16));
}

TColor ColorFromValue(const TPropValue& v) {
  if (v.kind == TPropValue::Kind::Integer) {
    if (v.Int < INT32_MIN || v.Int > UINT32_MAX) throw EPropertyError(std::to_string(v.Int) + " is not a colour");
    return static_cast<TColor>(static_cast<std::uint32_t>(v.Int));
  }
  TColor color;
  if (v.kind == TPropValue::Kind::Identifier && IdentToColor(v.Str, color)) return color;
  if (v.kind == TPropValue::Kind::Identifier) throw EPropertyError("'" + v.Str + "' is not a colour");
  throw EPropertyError("a colour (clYellow, $00BBGGRR or a number) is expected");
}

TPropValue ColorToValue(TColor color) {
  TPropValue v;
  std::string text = ColorToString(color);
  if (text[0] == '$') {
    v.kind = TPropValue::Kind::Integer;
    v.Int = color;
  } else {
    v.kind = TPropValue::Kind::Identifier;
    v.Str = text;
  }
  return v;
}

TPropValue StringValue(const std::string& s) {
  TPropValue v;
  v.kind = TPropValue::Kind::String;
  v.Str = s;
  return v;
}

const std::string& PictureName(const TPropValue& v) {
  if (v.kind != TPropValue::Kind::String) throw EPropertyError("a picture file name in quotes is expected");
  return v.Str;
}

}  // namespace tarvo_gui

using namespace tarvo_gui;

// --- TFont -----------------------------------------------------------------------------------------------------

TARVO_PUBLISH(TFont, TPersistent) {
  TPropInfo charset{"Charset", TPropKind::Integer, "TFontCharset", {}, {}, {}};
  charset.Write = [](TObject* o, const TPropValue& v) {
    auto& self = PropSelf<TFont>(o);
    if (v.kind == TPropValue::Kind::Integer) {
      if (v.Int < 0 || v.Int > 255) throw EPropertyError(std::to_string(v.Int) + " is out of range 0..255");
      self.SetCharset(static_cast<TFontCharset>(v.Int));
      return;
    }
    if (v.kind == TPropValue::Kind::Identifier)
      for (const TCharsetName& n : kCharsetNames)
        if (SameText(v.Str, n.Name)) {
          self.SetCharset(n.Value);
          return;
        }
    throw EPropertyError("a character set (GB2312_CHARSET, ANSI_CHARSET, ... or a number) is expected");
  };
  charset.Read = [](const TObject* o) {
    TPropValue v;
    TFontCharset c = PropSelf<TFont>(o).Charset();
    for (const TCharsetName& n : kCharsetNames)
      if (n.Value == c) {
        v.kind = TPropValue::Kind::Identifier;
        v.Str = n.Name;
        return v;
      }
    v.Int = c;
    return v;
  };
  b.Property("Name", &TFont::Name, &TFont::SetName)
      .Property("Height", &TFont::Height, &TFont::SetHeight)
      .Property("Size", &TFont::Size, &TFont::SetSize)
      .Custom(ColorProp<TFont>("Color", &TFont::Color, &TFont::SetColor))
      .Set<TFontStyle>("Style", &TFont::Style, &TFont::SetStyle,
                       {{"fsBold", fsBold}, {"fsItalic", fsItalic}, {"fsUnderline", fsUnderline}, {"fsStrikeOut", fsStrikeOut}})
      .Custom(std::move(charset));
}

TFont::TFont() = default;
TFont::~TFont() = default;

void TFont::Changed() {
  if (OnChange) OnChange(this);
}

void TFont::SetName(const std::string& name) {
  if (name == FName) return;
  FName = name;
  Changed();
}

void TFont::SetHeight(int height) {
  if (height == FHeight) return;
  FHeight = height;
  Changed();
}

int TFont::Size() const { return static_cast<int>(std::lround(-FHeight * 72.0 / 96.0)); }

void TFont::SetSize(int size) { SetHeight(-static_cast<int>(std::lround(size * 96.0 / 72.0))); }

void TFont::SetColor(TColor color) {
  if (color == FColor) return;
  FColor = color;
  Changed();
}

void TFont::SetStyle(TFontStyles style) {
  if (style == FStyle) return;
  FStyle = style;
  Changed();
}

void TFont::SetCharset(TFontCharset charset) {
  if (charset == FCharset) return;
  FCharset = charset;
  Changed();
}

bool TFont::SameAs(const TFont& o) const {
  return FName == o.FName && FHeight == o.FHeight && FColor == o.FColor && FStyle == o.FStyle &&
         FCharset == o.FCharset;
}

void TFont::Assign(const TFont& source) {
  if (SameAs(source)) return;
  FName = source.FName;
  FHeight = source.FHeight;
  FColor = source.FColor;
  FStyle = source.FStyle;
  FCharset = source.FCharset;
  Changed();
}

QFont TFont::ToQFont() const {
  QFont font(QString::fromStdString(FName));
  int pixels = FHeight < 0 ? -FHeight : (FHeight > 0 ? std::max(1, FHeight * 7 / 8) : 11);
  font.setPixelSize(pixels);
  font.setBold((FStyle & FontStyle(fsBold)) != 0);
  font.setItalic((FStyle & FontStyle(fsItalic)) != 0);
  font.setUnderline((FStyle & FontStyle(fsUnderline)) != 0);
  font.setStrikeOut((FStyle & FontStyle(fsStrikeOut)) != 0);
  return font;
}

// --- pictures --------------------------------------------------------------------------------------------------

namespace {

// A picture property's own conversion: the embedded file it names; a picture that is missing or does not
// decode stops the load with the reason.
template <class C>
TPropInfo FileProp() {
  TPropInfo p{"File", TPropKind::String, "string", {}, {}, {}};
  p.Write = [](TObject* o, const TPropValue& v) {
    auto& self = PropSelf<C>(o);
    try {
      self.SetFile(PictureName(v));
    } catch (const EInvalidGraphic& e) {
      throw EPropertyError(e.Message());
    }
  };
  p.Read = [](const TObject* o) { return StringValue(PropSelf<C>(o).File()); };
  return p;
}

std::string_view EmbeddedPicture(const std::string& name) {
  std::string_view data;
  if (!FindResourceData(name, data))
    throw EInvalidGraphic("picture \"" + name + "\" is not embedded in the program");
  return data;
}

}  // namespace

TARVO_PUBLISH(TGraphic, TPersistent) { b.Custom(FileProp<TGraphic>()); }
TARVO_PUBLISH(TBitmap, TGraphic) {}
TARVO_PUBLISH(TPicture, TPersistent) { b.Custom(FileProp<TPicture>()); }

TGraphic::TGraphic() : FImage(std::make_unique<QImage>()) {}
TGraphic::~TGraphic() = default;
int TGraphic::Width() const { return FImage->width(); }
int TGraphic::Height() const { return FImage->height(); }
bool TGraphic::Empty() const { return FImage->isNull(); }
const QImage& TGraphic::Image() const { return *FImage; }

void TGraphic::SetImage(const QImage& image) {
  *FImage = image;
  if (OnChange) OnChange(this);
}

void TGraphic::LoadFromFile(const std::string& fileName) { LoadFromBytes(ReadWholeFile(fileName)); }

void TGraphic::SetFile(const std::string& name) {
  if (name.empty())
    Clear();
  else
    LoadFromBytes(EmbeddedPicture(name));
  FFile = name;
}

void TGraphic::Clear() {
  FFile.clear();
  SetImage(QImage());
}

TBitmap::TBitmap() = default;

void TBitmap::LoadFromBytes(std::string_view data) {
  QImage image;
  if (data.size() < 2 || data[0] != 'B' || data[1] != 'M' ||
      !image.loadFromData(reinterpret_cast<const uchar*>(data.data()), static_cast<int>(data.size()), "BMP"))
    throw EInvalidGraphic("Bitmap image is not valid");
  SetImage(image.convertToFormat(QImage::Format_ARGB32));
}

TColor TBitmap::TransparentColor() const {
  if (Empty()) return clNone;
  return FromQColor(QColor::fromRgb(Image().pixel(0, Image().height() - 1)));
}

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::Changed() {
  if (OnChange) OnChange(this);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  FGraphic = std::move(graphic);
  Changed();
}

int TPicture::Width() const { return FGraphic ? FGraphic->Width() : 0; }
int TPicture::Height() const { return FGraphic ? FGraphic->Height() : 0; }

void TPicture::LoadFromBytes(std::string_view data) {
  std::unique_ptr<TGraphic> graphic;
  if (data.size() >= 3 && static_cast<unsigned char>(data[0]) == 0xFF && static_cast<unsigned char>(data[1]) == 0xD8)
    graphic = std::make_unique<TJPEGImage>();
  else if (data.size() >= 2 && data[0] == 'B' && data[1] == 'M')
    graphic = std::make_unique<TBitmap>();
  else
    throw EInvalidGraphic("unknown picture format (JPEG or BMP expected)");
  graphic->LoadFromBytes(data);
  FFile.clear();
  SetGraphic(std::move(graphic));
}

void TPicture::LoadFromFile(const std::string& fileName) { LoadFromBytes(ReadWholeFile(fileName)); }

void TPicture::LoadFromResource(const std::string& name) {
  LoadFromBytes(EmbeddedPicture(name));
  FFile = name;
}

void TPicture::SetFile(const std::string& name) {
  if (name.empty())
    Clear();
  else
    LoadFromResource(name);
}

void TPicture::Clear() {
  FFile.clear();
  SetGraphic(nullptr);
}

// --- canvas ----------------------------------------------------------------------------------------------------

TCanvas::TCanvas(std::shared_ptr<TSurface> surface) : FHandle(NewDC(std::move(surface))) {}
TCanvas::~TCanvas() { FreeDC(FHandle); }
