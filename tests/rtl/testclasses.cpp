// Published tables of the test classes.
#include "testclasses.h"

int gLiveComponents = 0;
std::vector<std::string> gLoadedLog;

TPropInfo ColorProperty(const char* name, std::function<std::int32_t&(TObject*)> field) {
  TPropInfo p{name, TPropKind::Integer, "TColor", {}, {}, {}};
  p.Write = [field](TObject* o, const TPropValue& v) {
    static const std::pair<const char*, std::int32_t> names[] = {
        {"clBlack", 0}, {"clMaroon", 0x000080}, {"clBlue", 0xFF0000}, {"clYellow", 0x00FFFF}};
    if (v.kind == TPropValue::Kind::Integer) {
      if (v.Int < INT32_MIN || v.Int > 0xFFFFFFFFLL) throw EPropertyError("not a colour number");
      field(o) = static_cast<std::int32_t>(static_cast<std::uint32_t>(v.Int));
      return;
    }
    if (v.kind == TPropValue::Kind::Identifier)
      for (const auto& [n, c] : names)
        if (SameText(n, v.Str)) {
          field(o) = c;
          return;
        }
    throw EPropertyError("not a colour");
  };
  p.Read = [field](const TObject* o) {
    TPropValue v;
    v.Int = field(const_cast<TObject*>(o));
    return v;
  };
  return p;
}

void TTestPicture::SetFile(const std::string& path) {
  std::string_view data;
  if (!FindResourceData(path, data)) throw EPropertyError("picture \"" + path + "\" is not embedded");
  FFile = path;
  Bytes = data;
}

void TLiveComponent::Loaded() {
  TComponent::Loaded();
  gLoadedLog.push_back("Loaded " + Name());
}

TARVO_PUBLISH(TTestFont, TPersistent) {
  b.Property("Name", &TTestFont::Name, &TTestFont::SetName)
      .Property("Height", &TTestFont::Height, &TTestFont::SetHeight)
      .Set<TFontStyle>("Style", &TTestFont::Style, &TTestFont::SetStyle,
                       {{"fsBold", fsBold}, {"fsItalic", fsItalic}, {"fsUnderline", fsUnderline}})
      .Property("Charset", &TTestFont::Charset, &TTestFont::SetCharset)
      .Custom(ColorProperty("Color", [](TObject* o) -> std::int32_t& { return static_cast<TTestFont*>(o)->FColor; }));
}

TARVO_PUBLISH(TTestPicture, TPersistent) { b.Property("File", &TTestPicture::File, &TTestPicture::SetFile); }

TARVO_PUBLISH(TLiveComponent, TComponent) {}

TARVO_PUBLISH(TTestControl, TLiveComponent) {
  b.Property("Left", &TTestControl::Left, &TTestControl::Left)
      .Property("Top", &TTestControl::Top, &TTestControl::Top)
      .Property("Width", &TTestControl::Width, &TTestControl::Width)
      .Property("TabOrder", &TTestControl::TabOrder, &TTestControl::TabOrder)
      .Property("Caption", &TTestControl::Caption,
                [](TTestControl& c, const std::string& s) {
                  c.Caption = s;
                  c.ReadingWhileSet = (c.ComponentState() & csReading) != 0;
                })
      .Property("Hint", &TTestControl::Hint, &TTestControl::Hint)
      .Property("Enabled", &TTestControl::Enabled, &TTestControl::Enabled)
      .Enum<TAlign>("Align", &TTestControl::Align, &TTestControl::Align,
                    {{"alNone", TAlign::alNone}, {"alTop", TAlign::alTop}, {"alClient", TAlign::alClient}})
      .Custom(ColorProperty("Color", [](TObject* o) -> std::int32_t& { return static_cast<TTestControl*>(o)->Color; }))
      .Object("Font", [](TTestControl& c) { return &c.Font; })
      .Event("OnClick", &TTestControl::FOnClick);
}

TARVO_PUBLISH(TTestPanel, TTestControl) {
  b.Enum<TBevelCut>("BevelOuter", &TTestPanel::BevelOuter, &TTestPanel::BevelOuter,
                    {{"bvNone", bvNone}, {"bvLowered", bvLowered}, {"bvRaised", bvRaised}});
}

TARVO_PUBLISH(TTestListBox, TTestControl) { b.Object("Items", &TTestListBox::Items); }

TARVO_PUBLISH(TTestButton, TTestControl) { b.Object("Glyph", [](TTestButton& c) { return &c.Glyph; }); }

TARVO_PUBLISH(TTestSocket, TLiveComponent) {
  b.Property("Proto", &TTestSocket::Proto, &TTestSocket::Proto)
      .Property("MultiThreaded", &TTestSocket::MultiThreaded, &TTestSocket::MultiThreaded)
      .Enum<TLingerOnOff>("LingerOnOff", &TTestSocket::LingerOnOff, &TTestSocket::LingerOnOff,
                          {{"wsLingerOff", wsLingerOff}, {"wsLingerOn", wsLingerOn}, {"wsLingerNoSet", wsLingerNoSet}})
      .Set<TWSocketOption>("ComponentOptions", &TTestSocket::Options, &TTestSocket::Options,
                           {{"wsoNoReceiveLoop", wsoNoReceiveLoop}})
      .Property("Ratio", &TTestSocket::Ratio, &TTestSocket::Ratio)
      .EnumReadOnly<TSocketState>("State", &TTestSocket::State,
                                  {{"wsInvalidState", wsInvalidState}, {"wsOpened", wsOpened}, {"wsClosed", wsClosed}})
      .Event("OnDataAvailable", &TTestSocket::FOnDataAvailable)
      .Event("OnBgException", &TTestSocket::FOnBgException);
}

TARVO_PUBLISH(TBareForm, TComponent) {
  b.Property("Caption", &TBareForm::Caption, &TBareForm::Caption)
      .Property("ClientWidth", &TBareForm::ClientWidth, &TBareForm::ClientWidth)
      .Property("Ratio", &TBareForm::Ratio, &TBareForm::Ratio)
      .Custom(ColorProperty("Color", [](TObject* o) -> std::int32_t& { return static_cast<TBareForm*>(o)->Color; }))
      .Set<TBorderIcon>("BorderIcons", &TBareForm::BorderIcons, &TBareForm::BorderIcons,
                        {{"biSystemMenu", biSystemMenu}, {"biMinimize", biMinimize}, {"biMaximize", biMaximize}})
      .Object("Font", [](TBareForm& f) { return &f.Font; })
      .Event("OnCreate", &TBareForm::FOnCreate)
      .Method("FormCreate", &TBareForm::FormCreate)
      .Method("ButtonClick", &TBareForm::ButtonClick)
      .Method("SockData", &TBareForm::SockData)
      .Method("SockBgException", &TBareForm::SockBgException);
}

TARVO_PUBLISH(TTestForm, TBareForm) {
  b.Field("Panel1", &TTestForm::Panel1)
      .Field("ListBox1", &TTestForm::ListBox1)
      .Field("Button1", &TTestForm::Button1)
      .Field("Socket1", &TTestForm::Socket1);
}

void RegisterTestClasses() {
  RegisterRtlClasses();
  for (const TClassInfo* c : {&TTestControl::StaticClassInfo(), &TTestPanel::StaticClassInfo(),
                              &TTestListBox::StaticClassInfo(), &TTestButton::StaticClassInfo(),
                              &TTestSocket::StaticClassInfo()})
    RegisterClass(*c);
}
