// The component model that the socket component and the GUI toolkit share: objects with a class name and a
// message dispatch, persistent objects that publish properties, components with owner, name, tag and owned
// components, lists and string lists, event references, and the application hooks. No Qt.
//
// Ownership: a component owns the components created with it as owner and destroys them, last created first,
// when it is destroyed. While a component's destructor runs, ComponentState() holds csDestroying (set by
// Destroying(), which the outermost destructor calls first; owned components are marked before they go).
// ~TComponent destroys the owned components after the derived destructors have run; a class whose methods its
// components may still call (a form, whose handlers the components' events are bound to) calls Destroying() and
// DestroyComponents() at the start of its own destructor.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/sysutils.h"
#include "win32/types.h"

class TClassInfo;
template <class C>
class TClassBuilder;

// A window message as the class library's message dispatch sees it. Result is what the window procedure returns.
struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject();
  // The published description of the most derived class (see typinfo.h); every published class overrides it.
  // A class that publishes nothing of its own reports its nearest published ancestor.
  static const TClassInfo& StaticClassInfo();
  static void PublishTo(TClassBuilder<TObject>& b);
  virtual const TClassInfo& ClassInfo() const;
  std::string ClassName() const;
  // True when this object's class is cls or derives from it.
  bool InheritsFrom(const TClassInfo& cls) const;
  // Message dispatch: classes that handle messages override Dispatch, handle their numbers and pass the rest on;
  // the base calls DefaultHandler.
  virtual void Dispatch(TMessage& message);
  virtual void DefaultHandler(TMessage& message);
};

// An object that can publish properties for stored descriptions.
class TPersistent : public TObject {
 public:
  static const TClassInfo& StaticClassInfo();
  static void PublishTo(TClassBuilder<TPersistent>& b);
  const TClassInfo& ClassInfo() const override;
};

// Event references: a handler bound to an object, or empty. Assigned(e) tests it; e(args...) calls it.
template <class... Args>
using TEvent = std::function<void(Args...)>;
using TNotifyEvent = TEvent<TObject* /*Sender*/>;
template <class F>
bool Assigned(const std::function<F>& e) {
  return static_cast<bool>(e);
}

enum TComponentStateFlag : std::uint32_t {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csDestroying = 1u << 2,
  csDesigning = 1u << 3,
};
using TComponentState = std::uint32_t;

enum class TOperation { opInsert, opRemove };

// Owned components are told apart from each other by name only; the owner holds plain pointers and deletes them.
// Notification is called while the component concerned is still a TComponent (an insertion runs inside its
// constructor, a removal inside its destructor), so a receiver compares pointers and does not downcast.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  static const TClassInfo& StaticClassInfo();
  static void PublishTo(TClassBuilder<TComponent>& b);  // Name, Tag
  const TClassInfo& ClassInfo() const override;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  // A name is empty or an identifier unique among the owner's components (compared without case);
  // anything else raises EPropertyError.
  void SetName(const std::string& name);
  std::intptr_t Tag() const { return FTag; }
  void SetTag(std::intptr_t tag) { FTag = tag; }
  TComponentState ComponentState() const { return FComponentState; }
  bool IsDestroying() const { return (FComponentState & csDestroying) != 0; }

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const;                    // EListError outside 0..ComponentCount-1
  TComponent* FindComponent(const std::string& name) const;  // owned component by name, or nullptr
  // Takes ownership (from the previous owner, if any); EPropertyError when the name is taken here.
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);  // gives it up without destroying it
  void DestroyComponents();                     // last created first

  // Marks this component and everything it owns as being destroyed. The destructor of the most derived class
  // of a family that must know it calls Destroying() first; ~TComponent calls it in every case.
  virtual void Destroying();
  // Called after a stored description has set every property of this component and its owned components. The
  // base clears csLoading; overrides call it.
  virtual void Loaded();
  // Told to the owner when a component is inserted or removed; the base passes it on to every other owned
  // component (which pass it on to theirs).
  virtual void Notification(TComponent* component, TOperation operation);
  // Stored descriptions nest visual components inside each other: the reader calls this on a nested component
  // with the component it is nested in (its owner is still the root). Controls take it as their parent.
  virtual void SetParentComponent(TComponent* parent);

  void SetComponentStateFlag(TComponentStateFlag flag, bool on);

 private:
  TComponent* FOwner = nullptr;
  std::string FName;
  std::intptr_t FTag = 0;
  TComponentState FComponentState = 0;
  std::vector<TComponent*> FComponents;
};

// A list of pointers.
class TList : public TObject {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  void* Items(int index) const;  // EListError "List index out of bounds (n)" outside 0..Count-1
  int Add(void* item);
  void Insert(int index, void* item);
  void Delete(int index);
  int Remove(void* item);  // index it had, or -1
  int IndexOf(void* item) const;
  void Clear() { FItems.clear(); }
  void* First() const { return Items(0); }
  void* Last() const { return Items(Count() - 1); }

 private:
  std::vector<void*> FItems;
};

// A list of strings, each with an optional object (not owned), kept in the order given. Published as "Strings"
// so that a stored description can fill it: Items.Strings = ('a' 'b').
class TStrings : public TPersistent {
 public:
  static const TClassInfo& StaticClassInfo();
  static void PublishTo(TClassBuilder<TStrings>& b);
  const TClassInfo& ClassInfo() const override;
  virtual int Count() const = 0;
  virtual const std::string& Strings(int index) const = 0;
  virtual void Put(int index, const std::string& s) = 0;
  virtual TObject* Objects(int index) const = 0;
  virtual int AddObject(const std::string& s, TObject* object) = 0;
  virtual void Insert(int index, const std::string& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  int Add(const std::string& s) { return AddObject(s, nullptr); }
  int IndexOf(const std::string& s) const;  // compared without case, as the class library does
  // All lines, each followed by CR LF; SetText splits on CR LF, LF or CR.
  std::string Text() const;
  void SetText(const std::string& text);
  void Assign(const TStrings& other);
  // Between BeginUpdate and the matching EndUpdate, changes are told once, by EndUpdate (SetText and Assign do
  // this themselves).
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  // Called whenever the contents change (a list box shows its items through this).
  TNotifyEvent OnChange;

 protected:
  void Changed();

 private:
  int FUpdateCount = 0;
  bool FChangedInUpdate = false;
};

class TStringList : public TStrings {
 public:
  static const TClassInfo& StaticClassInfo();
  static void PublishTo(TClassBuilder<TStringList>& b);
  const TClassInfo& ClassInfo() const override;
  int Count() const override { return static_cast<int>(FItems.size()); }
  // Strings, Put, Objects and Delete raise EListError outside 0..Count-1, Insert outside 0..Count.
  const std::string& Strings(int index) const override;
  void Put(int index, const std::string& s) override;
  TObject* Objects(int index) const override;
  int AddObject(const std::string& s, TObject* object) override;
  void Insert(int index, const std::string& s) override;
  void Delete(int index) override;
  void Clear() override;

 private:
  struct Item {
    std::string Text;
    TObject* Object;
  };
  std::vector<Item> FItems;
};

// Application hooks: the socket component's waits pump messages and look at the terminate flag through these.
// The GUI toolkit installs its application object's versions; until then ProcessMessages pumps the calling
// thread's platform queue (PeekMessageA/TranslateMessage/DispatchMessageA until empty; a WM_QUIT sets the
// terminate flag and is consumed) and the flag is a plain process-wide flag.
struct TApplicationHooks {
  std::function<void()> ProcessMessages;
  std::function<bool()> Terminated;
};
void SetApplicationHooks(TApplicationHooks hooks);  // empty members restore the defaults
void ApplicationProcessMessages();
bool ApplicationTerminated();
void SetApplicationTerminated(bool terminated);  // the default flag; the toolkit's flag is its own
