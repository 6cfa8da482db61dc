// Inside the toolkit: published entries with their own conversions (colours, cursors, pictures by path), shared
// by the classes' tables. A table entry is a public function, so a wrong object raises instead of misbehaving.
#pragma once

#include <string>
#include <typeinfo>

#include "gui/controls.h"
#include "gui/graphics.h"
#include "rtl/typinfo.h"

namespace tarvo_gui {

template <class C>
C& PropSelf(const TObject* o) {
  auto* self = dynamic_cast<C*>(const_cast<TObject*>(o));
  if (self == nullptr) throw EPropertyError(std::string("the property belongs to another class than ") + typeid(C).name());
  return *self;
}

TColor ColorFromValue(const TPropValue& v);
TPropValue ColorToValue(TColor color);
TCursor CursorFromValue(const TPropValue& v);
TPropValue CursorToValue(TCursor cursor);
TPropValue StringValue(const std::string& s);
// The text of a String value (a picture's path); EPropertyError for any other kind.
const std::string& PictureName(const TPropValue& v);

// A colour: clYellow, $00BBGGRR or a decimal number.
template <class C>
TPropInfo ColorProp(const char* name, TColor (C::*get)() const, void (C::*set)(TColor)) {
  TPropInfo p{name, TPropKind::Integer, "TColor", {}, {}, {}};
  p.Write = [set](TObject* o, const TPropValue& v) { (PropSelf<C>(o).*set)(ColorFromValue(v)); };
  p.Read = [get](const TObject* o) { return ColorToValue((PropSelf<C>(o).*get)()); };
  return p;
}

// A cursor: crHandPoint or a number.
template <class C>
TPropInfo CursorProp(const char* name, TCursor (C::*get)() const, void (C::*set)(TCursor)) {
  TPropInfo p{name, TPropKind::Integer, "TCursor", {}, {}, {}};
  p.Write = [set](TObject* o, const TPropValue& v) { (PropSelf<C>(o).*set)(CursorFromValue(v)); };
  p.Read = [get](const TObject* o) { return CursorToValue((PropSelf<C>(o).*get)()); };
  return p;
}

}  // namespace tarvo_gui
