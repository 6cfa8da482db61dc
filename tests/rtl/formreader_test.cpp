// The form reader: a full description read into test classes, every load error with its line and word, and
// nothing left behind by a failed load. The descriptions under forms/ are embedded by tarvo_embed_resources.
#include "rtl/formreader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "testclasses.h"

namespace {

class FormReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestClasses();
    gLoadedLog.clear();
  }
  void TearDown() override { EXPECT_EQ(gLiveComponents, 0); }
};

TEST_F(FormReaderTest, ReadsEveryKindOfValueIntoNestedComponents) {
  {
    TTestForm form(nullptr);
    ReadComponentResource(&form, "Test1.form");

    EXPECT_EQ(form.Name(), "MainForm");
    EXPECT_EQ(form.Caption, "Tarvo test 中文 'quoted'");
    EXPECT_EQ(form.ClientWidth, 553);
    EXPECT_EQ(form.Color, 9150078);  // red 126, green 158, blue 139
    EXPECT_DOUBLE_EQ(form.Ratio, 150.0);
    EXPECT_EQ(form.Font.Name(), "Arial");
    EXPECT_EQ(form.Font.Height(), -14);
    EXPECT_EQ(form.Font.Style(), (1u << fsBold) | (1u << fsItalic));
    EXPECT_EQ(form.BorderIcons, 0u);

    // Owned by the form in the order written, each stored in its published field, nested as written.
    ASSERT_EQ(form.ComponentCount(), 4);
    EXPECT_EQ(form.Components(0), form.Panel1);
    EXPECT_EQ(form.Components(1), form.ListBox1);
    EXPECT_EQ(form.Components(2), form.Button1);
    EXPECT_EQ(form.Components(3), form.Socket1);
    EXPECT_EQ(form.Panel1->Parent, &form);
    EXPECT_EQ(form.ListBox1->Parent, form.Panel1);
    EXPECT_EQ(form.Button1->Parent, &form);

    EXPECT_EQ(form.Panel1->Left, 13);
    EXPECT_EQ(form.Panel1->Color, 0);
    EXPECT_EQ(form.Panel1->BevelOuter, bvLowered);
    EXPECT_EQ(form.Panel1->Align, TAlign::alClient);
    TStringList* items = form.ListBox1->Items();
    ASSERT_EQ(items->Count(), 3);
    EXPECT_EQ(items->Strings(1), "第二行");
    EXPECT_EQ(items->Strings(2), "two\r\nlines");
    EXPECT_EQ(form.ListBox1->Font.FColor, 0x000080);

    TTestButton* button = form.Button1;
    EXPECT_EQ(button->Caption, " Stop");
    EXPECT_TRUE(button->ReadingWhileSet);
    EXPECT_FALSE(button->Enabled);
    EXPECT_EQ(button->TabOrder, 3);
    EXPECT_EQ(button->Font.Name(), "宋体");
    EXPECT_EQ(button->Font.Charset(), 134);
    EXPECT_EQ(button->Font.FColor, 0xFF0000);
    EXPECT_EQ(button->Hint, "a long text that goes on");
    EXPECT_EQ(button->Glyph.Bytes.size(), 264u);

    TTestSocket* socket = form.Socket1;
    EXPECT_EQ(socket->Proto, "udp");
    EXPECT_TRUE(socket->MultiThreaded);
    EXPECT_EQ(socket->LingerOnOff, wsLingerOff);
    EXPECT_EQ(socket->Options, 1u << wsoNoReceiveLoop);
    EXPECT_DOUBLE_EQ(socket->Ratio, -0.25);
    EXPECT_EQ(socket->Tag(), -7);

    // Loaded ran on every component in the order written, the form last; no one is left loading or reading.
    EXPECT_EQ(gLoadedLog, (std::vector<std::string>{"Loaded Panel1", "Loaded ListBox1", "Loaded Button1",
                                                    "Loaded Socket1"}));
    for (int i = 0; i < form.ComponentCount(); ++i) EXPECT_EQ(form.Components(i)->ComponentState(), 0u);
    EXPECT_EQ(form.ComponentState(), 0u);
  }
}

TEST_F(FormReaderTest, EventsAreBoundToTheFormsHandlers) {
  TTestForm form(nullptr);
  ReadComponentResource(&form, "Test1.form");
  ASSERT_TRUE(Assigned(form.FOnCreate));
  form.FOnCreate(&form);
  form.Button1->FOnClick(form.Button1);
  form.Socket1->FOnDataAvailable(form.Socket1, 10054);
  bool canClose = true;
  Exception e("boom");
  form.Socket1->FOnBgException(form.Socket1, &e, canClose);
  EXPECT_FALSE(canClose);  // a by-reference argument reaches the handler
  EXPECT_FALSE(Assigned(form.Panel1->FOnClick));
  EXPECT_EQ(form.Calls, (std::vector<std::string>{"FormCreate MainForm", "ButtonClick Button1",
                                                  "SockData Socket1 10054", "BgException boom"}));
}

TEST_F(FormReaderTest, EmbeddedBytesAreTheFilesBytes) {
  std::ifstream file(std::string(TARVO_RTL_TEST_FORMS) + "/pictures/dot.bin", std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  std::string_view data;
  ASSERT_TRUE(FindResourceData("pictures/dot.bin", data));
  EXPECT_EQ(data, bytes.str());
  EXPECT_FALSE(FindResourceData("pictures/none.bin", data));
  EXPECT_TRUE(data.empty());
  TBareForm form(nullptr);
  EXPECT_THROW(ReadComponentResource(&form, "Missing.form"), EReadError);
}

TEST_F(FormReaderTest, StringListTakesItsLinesDirectlyAndEmptyLists) {
  TBareForm form(nullptr);
  ReadComponentText(&form,
                    "object F: TBareForm\n"
                    "  object L: TTestListBox\n"
                    "    Items = ('a' 'b')\n"
                    "  end\n"
                    "  object M: TTestListBox Items.Strings = () end\n"
                    "end\n",
                    "Lists.form");
  auto* l = static_cast<TTestListBox*>(form.FindComponent("L"));
  EXPECT_EQ(l->Items()->Text(), "a\r\nb\r\n");
  EXPECT_EQ(static_cast<TTestListBox*>(form.FindComponent("M"))->Items()->Count(), 0);
}

struct TLoadError {
  const char* Text;
  const char* Message;  // the whole message, form and line included
};

// A root with fields none of these describe, so that each text fails for its own reason only.
const char* const kHead = "object F: TBareForm\n";

const TLoadError kLoadErrors[] = {
    {"  object B: TTestButton\n    Captoin = 'x'\n  end\nend\n",
     "E.form line 3: unknown property \"Captoin\" of TTestButton"},
    {"  object B: TTestButon\n  end\nend\n", "E.form line 2: unknown class \"TTestButon\""},
    {"  object B: TTestButton\n    OnClick = ButtonClik\n  end\nend\n",
     "E.form line 3: unknown handler \"ButtonClik\" of TBareForm"},
    {"  object S: TTestSocket\n    OnDataAvailable = FormCreate\n  end\nend\n",
     "E.form line 3: handler \"FormCreate\" (TObject*) does not fit event \"OnDataAvailable\" of TTestSocket "
     "(TObject*, unsigned short)"},
    {"  object S: TTestSocket\n    OnDataAvailable = 'SockData'\n  end\nend\n",
     "E.form line 3: event \"OnDataAvailable\" of TTestSocket takes the name of a handler, not \"'SockData'\""},
    {"  object P: TTestPanel\n    BevelOuter = bvWide\n  end\nend\n",
     "E.form line 3: invalid value \"bvWide\" for property \"BevelOuter\" of TTestPanel: \"bvWide\" is not a value "
     "of TBevelCut (bvNone, bvLowered, bvRaised)"},
    {"  Font.Charset = 300\nend\n",
     "E.form line 2: invalid value \"300\" for property \"Font.Charset\" of TBareForm: 300 is out of range 0..255"},
    {"  ClientWidth = 'wide'\nend\n",
     "E.form line 2: invalid value \"'wide'\" for property \"ClientWidth\" of TBareForm: expected an integer, found "
     "a string"},
    {"  Font.Style = [fsBold, fsStrike]\nend\n",
     "E.form line 2: invalid value \"[fsBold, fsStrike]\" for property \"Font.Style\" of TBareForm: \"fsStrike\" is "
     "not a member of set of TFontStyle (fsBold, fsItalic, fsUnderline)"},
    {"  Font.Heigth = -12\nend\n", "E.form line 2: unknown property \"Font.Heigth\" of TBareForm"},
    {"  Caption.Size = 1\nend\n",
     "E.form line 2: unknown property \"Caption.Size\" of TBareForm (Caption has no members)"},
    {"  object S: TTestSocket\n    State = wsOpened\n  end\nend\n",
     "E.form line 3: property \"State\" of TTestSocket is read-only"},
    {"  object B: TTestButton\n  end\n  object b: TTestPanel\n  end\nend\n",
     "E.form line 4: invalid component name \"b\": A component named \"b\" already exists"},
    {"  object B: TStringList\n  end\nend\n",
     "E.form line 2: class \"TStringList\" cannot be created from a description"},
    {"  object B: TTestButton\n    Glyph.File = 'pictures/none.bmp'\n  end\nend\n",
     "E.form line 3: invalid value \"'pictures/none.bmp'\" for property \"Glyph.File\" of TTestButton: picture "
     "\"pictures/none.bmp\" is not embedded"},
    {"  Caption 'x'\nend\n", "E.form line 2: expected \"=\" but found \"'x'\""},
    {"  Caption = 'a' 'b'\nend\n",
     "E.form line 2: expected a property name, \"object\" or \"end\" but found \"'b'\""},
    {"  Caption = 'Tarvo\nend\n",
     "E.form line 2: unterminated string \"'Tarvo\" (a string ends on its own line; write line breaks as #13#10)"},
    {"  object B: TTestButton\n    Caption = 'x'\n", "E.form line 3: missing \"end\" of object \"B\""},
    {"  Caption =\nend\n", "E.form line 3: expected a value but found \"end\""},
    {"  ClientWidth = 12abc\nend\n", "E.form line 2: invalid number \"12abc\""},
    {"  ClientWidth = 99999999999999999999\nend\n",
     "E.form line 2: number \"99999999999999999999\" is out of range"},
    {"  Caption = #$D800\nend\n", "E.form line 2: invalid character code \"#$D800\""},
    {"  Caption = #1234567890\nend\n", "E.form line 2: invalid character code \"#1234567890\""},
    {"  Caption = #13x\nend\n", "E.form line 2: invalid character code \"#13x\""},
    {"  Caption = 'a' +\nend\n", "E.form line 3: expected a string after \"+\" but found \"end\""},
    {"  Caption = 'x' % 'y'\nend\n", "E.form line 2: unexpected character \"%\""},
    {"  Caption = '\xC3\x28'\nend\n", "E.form line 2: invalid UTF-8 text in string \"\""},
    {"  Font.Style = [fsBold fsItalic]\nend\n", "E.form line 2: expected \"]\" but found \"fsItalic\""},
    {"end\nobject G: TBareForm\nend\n", "E.form line 3: text after the form's end: \"object\""},
    {"  object 1B: TTestButton\n  end\nend\n", "E.form line 2: invalid number \"1B\""},
    {"  object L: TTestListBox\n    Items.Strings = ('a' 1)\n  end\nend\n",
     "E.form line 3: expected a string or \")\" but found \"1\""},
};

TEST_F(FormReaderTest, EachLoadErrorNamesFormLineAndWord) {
  for (const TLoadError& error : kLoadErrors) {
    TBareForm form(nullptr);
    try {
      ReadComponentText(&form, std::string(kHead) + error.Text, "E.form");
      ADD_FAILURE() << "no error for:\n" << error.Text;
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), error.Message);
    }
    EXPECT_EQ(form.ComponentCount(), 0) << error.Text;
    EXPECT_EQ(gLiveComponents, 0) << error.Text;
    EXPECT_EQ(form.Name(), "") << error.Text;
  }
}

TEST_F(FormReaderTest, RootMustBeOfTheDescribedClass) {
  TBareForm form(nullptr);
  try {
    ReadComponentText(&form, "object F: TTestForm\nend\n", "E.form");
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "E.form line 1: the description is of class \"TTestForm\" but is read into TBareForm");
  }
  TTestForm derived(nullptr);  // a description of a parent class fits (apart from the fields it lacks)
  EXPECT_THROW(ReadComponentText(&derived, "object F: TBareForm\nend\n", "E.form"), EReadError);
}

// The class a description names, as the registry of embedded forms finds it: the reader's own grammar, so a text
// the reader would refuse at its header names no class.
TEST_F(FormReaderTest, DescribedClassIsReadByTheReadersRules) {
  EXPECT_EQ(DescribedClassName("object Form1: TForm1\nend\n"), "TForm1");
  EXPECT_EQ(DescribedClassName("\xEF\xBB\xBF// the main form\r\n\n  OBJECT Form1 :TForm1 Caption = 'x'"), "TForm1");
  EXPECT_EQ(DescribedClassName("object Form1: TForm1 'unterminated"), "TForm1");  // the body is the reader's
  EXPECT_EQ(DescribedClassName("inherited Form1: TForm1\nend\n"), "");
  EXPECT_EQ(DescribedClassName("# note\nobject Form1: TForm1\nend\n"), "");
  EXPECT_EQ(DescribedClassName("{ note }\nobject Form1: TForm1\nend\n"), "");
  EXPECT_EQ(DescribedClassName("object Form1 TForm1\nend\n"), "");
  EXPECT_EQ(DescribedClassName("object Form1: 'TForm1'\nend\n"), "");
  EXPECT_EQ(DescribedClassName(""), "");
}

TEST_F(FormReaderTest, PublishedFieldsMustBeDescribedAndOfTheirClass) {
  std::string text;
  {
    std::ifstream file(std::string(TARVO_RTL_TEST_FORMS) + "/Test1.form");
    std::stringstream s;
    s << file.rdbuf();
    text = s.str();
  }
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  struct {
    std::string Text;
    const char* Message;
  } cases[] = {
      {replaced("Socket1: TTestSocket", "Socket2: TTestSocket"),
       "T.form line 48: no component \"Socket1\" for the field of TTestForm that holds a TTestSocket"},
      {replaced("Button1: TTestButton", "Button1: TTestPanel"),
       "T.form line 26: component \"Button1\" is a TTestPanel, but TTestForm.Button1 holds a TTestButton"},
  };
  for (const auto& c : cases) {
    TTestForm form(nullptr);
    try {
      ReadComponentText(&form, c.Text, "T.form");
      ADD_FAILURE() << c.Message;
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
    EXPECT_EQ(form.Panel1, nullptr);
    EXPECT_EQ(form.ListBox1, nullptr);
    EXPECT_EQ(form.Button1, nullptr);
    EXPECT_EQ(form.Socket1, nullptr);
    EXPECT_EQ(form.ComponentCount(), 0);
    EXPECT_EQ(gLiveComponents, 0);
  }
}

TEST_F(FormReaderTest, AFailedLoadPutsTheRootBack) {
  TBareForm form(nullptr);
  form.Caption = "old";
  form.Font.SetHeight(-9);
  auto* own = new TTestPanel(&form);  // a component the form had before: it stays
  own->SetName("Own");
  const std::string text =
      "object F: TBareForm\n"
      "  Caption = 'new'\n"
      "  Font.Height = -20\n"
      "  OnCreate = FormCreate\n"
      "  object A: TTestPanel\n"
      "    object B: TTestButton\n"
      "    end\n"
      "  end\n"
      "  ClientWidth = 'x'\n"
      "end\n";
  EXPECT_THROW(ReadComponentText(&form, text, "R.form"), EReadError);
  EXPECT_EQ(form.Caption, "old");
  EXPECT_EQ(form.Font.Height(), -9);
  EXPECT_FALSE(Assigned(form.FOnCreate));
  EXPECT_EQ(form.Name(), "");
  ASSERT_EQ(form.ComponentCount(), 1);
  EXPECT_EQ(form.Components(0), own);
  EXPECT_EQ(gLiveComponents, 1);
  EXPECT_EQ(form.ComponentState(), 0u);
  EXPECT_TRUE(gLoadedLog.empty());
  delete own;
}

TEST_F(FormReaderTest, ALoadedThatRaisesFailsTheLoad) {
  class TFailsLoading : public TTestPanel {
   public:
    using TTestPanel::TTestPanel;
    void Loaded() override { throw EFOpenError("cannot open camera"); }
  };
  // Registered under its own name through a table of its parent's shape.
  static const TClassInfo info("TFailsLoading", &TTestPanel::StaticClassInfo(),
                               [](TComponent* owner) -> TComponent* { return new TFailsLoading(owner); });
  RegisterClass(info);
  TBareForm form(nullptr);
  try {
    ReadComponentText(&form,
                      "object F: TBareForm\n  object P: TTestPanel\n  end\n"
                      "  object Q: TFailsLoading\n  end\nend\n",
                      "L.form");
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "L.form line 4: loading \"Q\" failed: cannot open camera");
  }
  EXPECT_EQ(form.ComponentCount(), 0);
}

}  // namespace
