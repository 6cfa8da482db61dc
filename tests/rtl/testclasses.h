// Component classes for the table and form reader tests: a small control family with fonts, pictures named by
// path, a list box and a non-visual socket-like component, and two form classes that publish handlers and fields.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rtl/formreader.h"
#include "rtl/typinfo.h"
#include "win32/types.h"

// Live components created from these classes (forms excluded), so tests can see that nothing stays behind.
extern int gLiveComponents;
// "Loaded Name" entries in the order Loaded ran.
extern std::vector<std::string> gLoadedLog;
void RegisterTestClasses();

using TDataAvailable = TEvent<TObject*, WORD>;
using TBgExceptionEvent = TEvent<TObject*, Exception*, bool&>;

enum TFontStyle { fsBold, fsItalic, fsUnderline };
enum class TAlign { alNone, alTop, alClient };
enum TBevelCut { bvNone, bvLowered, bvRaised };
enum TLingerOnOff : unsigned char { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketState : unsigned char { wsInvalidState, wsOpened, wsClosed };
enum TWSocketOption { wsoNoReceiveLoop };
enum TBorderIcon { biSystemMenu, biMinimize, biMaximize };

// A colour property takes a few names or a number ($00BBGGRR).
TPropInfo ColorProperty(const char* name, std::function<std::int32_t&(TObject*)> field);

class TTestFont : public TPersistent {
 public:
  TARVO_PUBLISHED(TTestFont)
  const std::string& Name() const { return FName; }
  void SetName(const std::string& n) { FName = n; }
  int Height() const { return FHeight; }
  void SetHeight(int h) { FHeight = h; }
  unsigned Style() const { return FStyle; }
  void SetStyle(unsigned s) { FStyle = s; }
  std::uint8_t Charset() const { return FCharset; }
  void SetCharset(std::uint8_t c) { FCharset = c; }
  std::int32_t FColor = 0;

 private:
  std::string FName = "Default";
  int FHeight = -11;
  unsigned FStyle = 0;
  std::uint8_t FCharset = 1;
};

// A picture that loads the embedded file its File property names.
class TTestPicture : public TPersistent {
 public:
  TARVO_PUBLISHED(TTestPicture)
  const std::string& File() const { return FFile; }
  void SetFile(const std::string& path);
  std::string_view Bytes;

 private:
  std::string FFile;
};

class TLiveComponent : public TComponent {
 public:
  TARVO_PUBLISHED(TLiveComponent)
  explicit TLiveComponent(TComponent* owner) : TComponent(owner) { ++gLiveComponents; }
  ~TLiveComponent() override { --gLiveComponents; }
  void Loaded() override;
};

class TTestControl : public TLiveComponent {
 public:
  TARVO_PUBLISHED(TTestControl)
  explicit TTestControl(TComponent* owner) : TLiveComponent(owner) {}
  void SetParentComponent(TComponent* parent) override { Parent = parent; }
  TComponent* Parent = nullptr;
  int Left = 0, Top = 0, Width = 0, TabOrder = -1;
  std::string Caption, Hint;
  bool Enabled = true;
  TAlign Align = TAlign::alNone;
  std::int32_t Color = 0;
  TTestFont Font;
  TNotifyEvent FOnClick;
  bool ReadingWhileSet = false;  // csReading was set when Caption was set
};

class TTestPanel : public TTestControl {
 public:
  TARVO_PUBLISHED(TTestPanel)
  explicit TTestPanel(TComponent* owner) : TTestControl(owner) {}
  TBevelCut BevelOuter = bvRaised;
};

class TTestListBox : public TTestControl {
 public:
  TARVO_PUBLISHED(TTestListBox)
  explicit TTestListBox(TComponent* owner) : TTestControl(owner) {}
  TStringList* Items() const { return FItems.get(); }

 private:
  std::unique_ptr<TStringList> FItems = std::make_unique<TStringList>();
};

class TTestButton : public TTestControl {
 public:
  TARVO_PUBLISHED(TTestButton)
  explicit TTestButton(TComponent* owner) : TTestControl(owner) {}
  TTestPicture Glyph;
};

class TTestSocket : public TLiveComponent {
 public:
  TARVO_PUBLISHED(TTestSocket)
  explicit TTestSocket(TComponent* owner) : TLiveComponent(owner) {}
  std::string Proto = "tcp";
  bool MultiThreaded = false;
  TLingerOnOff LingerOnOff = wsLingerOn;
  unsigned char Options = 0;
  double Ratio = 0;
  TSocketState State = wsClosed;
  TDataAvailable FOnDataAvailable;
  TBgExceptionEvent FOnBgException;
};

// A root that publishes handlers but no fields: the error tests use it.
class TBareForm : public TComponent {
 public:
  TARVO_PUBLISHED(TBareForm)
  explicit TBareForm(TComponent* owner) : TComponent(owner) {}
  void FormCreate(TObject* sender) { Calls.push_back("FormCreate " + static_cast<TComponent*>(sender)->Name()); }
  void ButtonClick(TObject* sender) { Calls.push_back("ButtonClick " + static_cast<TComponent*>(sender)->Name()); }
  void SockData(TObject* sender, WORD error) {
    Calls.push_back("SockData " + static_cast<TComponent*>(sender)->Name() + " " + std::to_string(error));
  }
  void SockBgException(TObject*, Exception* e, bool& canClose) {
    Calls.push_back("BgException " + e->Message());
    canClose = false;
  }
  std::vector<std::string> Calls;
  std::string Caption = "untitled";
  int ClientWidth = 0;
  double Ratio = 0;
  std::int32_t Color = 0;
  unsigned BorderIcons = 1u << biSystemMenu;
  TTestFont Font;
  TNotifyEvent FOnCreate;
};

class TTestForm : public TBareForm {
 public:
  TARVO_PUBLISHED(TTestForm)
  explicit TTestForm(TComponent* owner) : TBareForm(owner) {}
  TTestPanel* Panel1 = nullptr;
  TTestListBox* ListBox1 = nullptr;
  TTestButton* Button1 = nullptr;
  TTestSocket* Socket1 = nullptr;
};
