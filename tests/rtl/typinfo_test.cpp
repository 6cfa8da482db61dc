// Published tables and the class registry.
#include "rtl/typinfo.h"

#include <gtest/gtest.h>

#include "testclasses.h"

namespace {

TPropValue Ident(const char* s) {
  TPropValue v;
  v.kind = TPropValue::Kind::Identifier;
  v.Str = s;
  return v;
}
TPropValue Int(std::int64_t i) {
  TPropValue v;
  v.Int = i;
  return v;
}

std::vector<std::string> Names(const std::vector<const TPropInfo*>& props) {
  std::vector<std::string> r;
  for (const TPropInfo* p : props) r.push_back(p->Name);
  return r;
}

TEST(Registry, FindsRegisteredClassesWithoutCase) {
  RegisterTestClasses();
  RegisterTestClasses();  // registering again changes nothing
  EXPECT_EQ(FindClass("ttestpanel"), &TTestPanel::StaticClassInfo());
  EXPECT_EQ(FindClass("TComponent"), &TComponent::StaticClassInfo());
  EXPECT_EQ(FindClass("TTestNothing"), nullptr);
  static const TClassInfo impostor("TTestPanel", &TComponent::StaticClassInfo(), {});
  EXPECT_THROW(RegisterClass(impostor), Exception);
  EXPECT_EQ(FindClass("TTestPanel"), &TTestPanel::StaticClassInfo());
}

TEST(Registry, CreatesComponentsOnlyWhereTheClassAllowsIt) {
  RegisterRtlClasses();
  TComponent owner(nullptr);
  TComponent* c = FindClass("TComponent")->Create(&owner);
  EXPECT_EQ(c->Owner(), &owner);
  EXPECT_EQ(c->ClassName(), "TComponent");
  EXPECT_FALSE(FindClass("TStringList")->Creatable());  // not a component
  EXPECT_FALSE(FindClass("TStrings")->Creatable());     // abstract
  EXPECT_THROW(FindClass("TStringList")->Create(&owner), EClassNotFound);
}

TEST(ClassInfo, ParentsFirstLookupWithoutCaseAndInheritance) {
  const TClassInfo& panel = TTestPanel::StaticClassInfo();
  EXPECT_EQ(Names(panel.Properties()),
            (std::vector<std::string>{"Name", "Tag", "Left", "Top", "Width", "TabOrder", "Caption", "Hint", "Enabled",
                                      "Align", "Color", "Font", "BevelOuter"}));
  EXPECT_EQ(panel.FindProperty("bevelouter")->Kind, TPropKind::Enumeration);
  EXPECT_EQ(panel.FindProperty("FONT")->Kind, TPropKind::Class);
  EXPECT_EQ(panel.FindEvent("onclick")->Name, "OnClick");
  EXPECT_EQ(panel.FindProperty("OnClick"), nullptr);
  EXPECT_TRUE(panel.InheritsFrom(TComponent::StaticClassInfo()));
  EXPECT_FALSE(TComponent::StaticClassInfo().InheritsFrom(panel));
  EXPECT_EQ(TTestForm::StaticClassInfo().FindMethod("sockdata")->Type, std::type_index(typeid(TDataAvailable)));
  EXPECT_EQ(TTestForm::StaticClassInfo().Fields().size(), 4u);

  class TUnpublished : public TTestPanel {
    using TTestPanel::TTestPanel;
  };
  TUnpublished p(nullptr);
  EXPECT_EQ(p.ClassName(), "TTestPanel");
  EXPECT_TRUE(p.InheritsFrom(TTestControl::StaticClassInfo()));
}

TEST(ClassInfo, ValuesReadBackInTheirStoredForm) {
  TTestSocket socket(nullptr);
  const TClassInfo& cls = socket.ClassInfo();
  socket.LingerOnOff = wsLingerNoSet;
  EXPECT_EQ(cls.FindProperty("LingerOnOff")->Read(&socket).Str, "wsLingerNoSet");
  socket.State = static_cast<TSocketState>(7);  // a value without a name reads back as its number
  EXPECT_EQ(cls.FindProperty("State")->Read(&socket).Int, 7);
  EXPECT_FALSE(cls.FindProperty("State")->Write);
  socket.Options = 1u << wsoNoReceiveLoop;
  EXPECT_EQ(cls.FindProperty("ComponentOptions")->Read(&socket).Items, std::vector<std::string>{"wsoNoReceiveLoop"});
  cls.FindProperty("Ratio")->Write(&socket, Int(3));  // a float property takes an integer
  EXPECT_DOUBLE_EQ(socket.Ratio, 3.0);
  EXPECT_THROW(cls.FindProperty("MultiThreaded")->Write(&socket, Int(1)), EPropertyError);
  EXPECT_THROW(cls.FindProperty("Proto")->Write(&socket, Ident("udp")), EPropertyError);
}

TEST(ClassInfo, EventsTakeOnlyHandlersOfTheirType) {
  TTestForm form(nullptr);
  TTestSocket socket(nullptr);
  socket.SetName("S");
  const TEventInfo* event = socket.ClassInfo().FindEvent("OnDataAvailable");
  EXPECT_FALSE(event->IsAssigned(&socket));
  event->Write(&socket, form.ClassInfo().FindMethod("SockData")->Bind(&form));
  EXPECT_TRUE(event->IsAssigned(&socket));
  EXPECT_TRUE(event->Read(&socket).has_value());
  socket.FOnDataAvailable(&socket, 5);
  EXPECT_EQ(form.Calls, std::vector<std::string>{"SockData S 5"});
  EXPECT_THROW(event->Write(&socket, form.ClassInfo().FindMethod("FormCreate")->Bind(&form)), EPropertyError);
  EXPECT_THROW(event->Write(&socket, std::any(42)), EPropertyError);
  EXPECT_TRUE(event->IsAssigned(&socket));  // a rejected handler leaves the old one
  event->Write(&socket, std::any());
  EXPECT_FALSE(event->IsAssigned(&socket));
  // A table entry given an object of another class refuses it instead of misreading it.
  EXPECT_THROW(event->Write(&form, std::any()), EPropertyError);
}

TEST(ClassBuilder, RefusesBadTables) {
  TClassInfo info("TScratch", &TPersistent::StaticClassInfo(), {});
  TClassBuilder<TTestFont> b(info);
  b.Property("Height", &TTestFont::Height, &TTestFont::SetHeight);
  EXPECT_THROW(b.Property("HEIGHT", &TTestFont::Height, &TTestFont::SetHeight), EPropertyError);
  EXPECT_THROW(b.Set<int>("Style", &TTestFont::Style, &TTestFont::SetStyle, {{"fsHuge", 32}}), EPropertyError);
  b.Set<int>("Style", &TTestFont::Style, &TTestFont::SetStyle, {{"fsTop", 31}});
}

}  // namespace
