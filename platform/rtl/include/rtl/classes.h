// The component model that the socket component and the GUI toolkit share: objects with a class name and a
// message dispatch, persistent objects that publish properties, components with owner, name, tag and owned
// components, lists and string lists, event references, and the application hooks. No Qt.
//
// Ownership: a component owns the components created with it as owner and destroys them, last created first,
// when it is destroyed. While a component's destructor runs, ComponentState() holds csDestroying (set by
// Destroying(), which the outermost destructor calls first; owned components are marked before they go).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/sysutils.h"
#include "win32/types.h"

class TClassInfo;

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

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
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
  TComponent* Components(int index) const;
  TComponent* FindComponent(const std::string& name) const;  // owned component by name, or nullptr
  void InsertComponent(TComponent* component);                // takes ownership
  void RemoveComponent(TComponent* component);                // gives it up without destroying it
  void DestroyComponents();

  // Marks this component and everything it owns as being destroyed. The destructor of the most derived class
  // of a family that must know it calls Destroying() first; ~TComponent calls it in every case.
  virtual void Destroying();
  // Called after a stored description has set every property of this component and its owned components.
  virtual void Loaded();
  // Told to the owner (and by it to every owned component) when a component is inserted or removed.
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

// A list of strings, each with an optional object; not sorted unless Sorted is set.
class TStrings : public TPersistent {
 public:
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
  // Called whenever the contents change (a list box shows its items through this).
  TNotifyEvent OnChange;

 protected:
  void Changed();
};

class TStringList : public TStrings {
 public:
  const TClassInfo& ClassInfo() const override;
  int Count() const override { return static_cast<int>(FItems.size()); }
  const std::string& Strings(int index) const override;  // EListError outside 0..Count-1
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
