// Push buttons with a glyph: a small bitmap beside the caption. A glyph bitmap may hold several images side by
// side (NumGlyphs): the first is shown while the button is enabled, the second while it is disabled. The colour
// of the glyph's bottom-left pixel is transparent. A disabled button's caption is grey whatever its font's colour.
// GUI thread only.
#pragma once

#include <memory>

#include "gui/controls.h"

class TBitBtn : public TWinControl {
 public:
  TARVO_PUBLISHED(TBitBtn)
  explicit TBitBtn(TComponent* AOwner);
  ~TBitBtn() override;

  // The glyph bitmap. Loading it sets NumGlyphs from its shape: width = n x height gives n (1 to 4).
  TBitmap* Glyph() const { return FGlyph.get(); }
  int NumGlyphs() const { return FNumGlyphs; }
  void SetNumGlyphs(int count);  // 1..4

 protected:
  void ApplyFont() override;
  void ApplyCaption() override;

 private:
  void GlyphChanged();
  void UpdateIcon();
  std::unique_ptr<TBitmap> FGlyph;
  int FNumGlyphs = 1;
};
