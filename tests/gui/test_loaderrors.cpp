// Descriptions that do not fit stop the load with a message that names the form, the line and the word, and
// leave nothing behind; a program whose form cannot be read says so and ends.
#include <gtest/gtest.h>

#include "rtl/formreader.h"
#include "testforms.h"

namespace {

class TBrokenForm : public TForm {
 public:
  TARVO_PUBLISHED(TBrokenForm)
  explicit TBrokenForm(TComponent* AOwner) : TForm(AOwner) {}
};

class TUndescribedForm : public TForm {
 public:
  TARVO_PUBLISHED(TUndescribedForm)
  explicit TUndescribedForm(TComponent* AOwner) : TForm(AOwner) {}
};

// The error a description gives when read into a plain form, with what the form holds afterwards.
std::string LoadError(const std::string& body, int* componentsAfter = nullptr) {
  TForm* form = new TForm(nullptr);
  std::string message;
  try {
    ReadComponentText(form, "object F: TForm\n" + body + "end\n", "Probe.form");
  } catch (const EReadError& e) {
    message = e.Message();
  }
  if (componentsAfter != nullptr) *componentsAfter = form->ComponentCount();
  FreeForm(form);
  return message;
}

}  // namespace

TARVO_PUBLISH(TBrokenForm, TForm) {}
TARVO_PUBLISH(TUndescribedForm, TForm) {}

TEST(LoadErrors, NameTheFormTheLineAndTheWord) {
  struct TCase {
    std::string Body;
    std::string Line;
    std::string Word;
  };
  const TCase cases[] = {
      {"  object L: TLabel\n  end\n  object B: TButon\n  end\n", "line 4", "TButon"},
      {"  object L: TLabel\n    Captoin = 'x'\n  end\n", "line 3", "Captoin"},
      {"  BorderStyle = bsWide\n", "line 2", "bsWide"},
      {"  OnCreate = FormCreat\n", "line 2", "FormCreat"},
      {"  object L: TLabel\n    Font.Colour = clRed\n  end\n", "line 3", "Font.Colour"},
      {"  object L: TLabel\n    Font.Color = clReddish\n  end\n", "line 3", "clReddish"},
      {"  object I: TImage\n    Picture.File = 'pictures/none.jpg'\n  end\n", "line 3", "pictures/none.jpg"},
      {"  object B: TBitBtn\n    Cursor = crPointer\n  end\n", "line 3", "crPointer"},
      {"  object L: TListBox\n    BorderStyle = bsDialog\n  end\n", "line 3", "BorderStyle"},
      {"  object T: TTimer\n    object L: TLabel\n    end\n  end\n", "line 3", "L"},
  };
  for (const TCase& c : cases) {
    int left = -1;
    std::string message = LoadError(c.Body, &left);
    EXPECT_NE(message.find("Probe.form"), std::string::npos) << message;
    EXPECT_NE(message.find(c.Line), std::string::npos) << message;
    EXPECT_NE(message.find(c.Word), std::string::npos) << message;
    EXPECT_EQ(left, 0) << "nothing stays behind after: " << message;
  }
}

TEST(LoadErrors, APictureThatDoesNotDecodeNamesItsReason) {
  // A BMP where a JPEG is expected is fine (the bytes decide); a form file is no picture at all.
  EXPECT_EQ(LoadError("  object I: TImage\n    Picture.File = 'pictures/glyph.bmp'\n  end\n"), "");
  std::string message = LoadError("  object I: TImage\n    Picture.File = 'TestForm.form'\n  end\n");
  EXPECT_NE(message.find("line 3"), std::string::npos) << message;
  EXPECT_NE(message.find("unknown picture format"), std::string::npos) << message;
}

TEST_CHILD(BrokenDescription) {
  Application->Initialize();
  TBrokenForm* form = nullptr;
  Application->CreateForm(form);
  return 0;  // not reached: a form that cannot be read ends the program
}

TEST_CHILD(UndescribedForm) {
  Application->Initialize();
  TUndescribedForm* form = nullptr;
  Application->CreateForm(form);
  return 0;
}

TEST(LoadErrors, AProgramWhoseFormCannotBeReadSaysWhyAndEnds) {
  TChildResult r = RunChild("BrokenDescription", {"TARVO_UNATTENDED=1", "QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_NE(r.Stderr.find("MessageBox [gui_tests]: Broken.form line 3"), std::string::npos) << r.Stderr;
  EXPECT_NE(r.Stderr.find("Captoin"), std::string::npos) << r.Stderr;

  r = RunChild("UndescribedForm", {"TARVO_UNATTENDED=1", "QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_NE(r.Stderr.find("TUndescribedForm"), std::string::npos) << r.Stderr;
}
