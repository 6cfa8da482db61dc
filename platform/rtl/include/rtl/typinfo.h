// Published tables and the class registry: how a class makes its properties, events and (for forms) its event
// handlers known by name, so that stored form descriptions (formreader.h) can create components by class name,
// set their properties and bind their events. No Qt.
//
// How a class publishes itself (one table next to its code, nothing else registers names):
//
//   // header
//   class TWSocket : public TCustomSyncWSocket {
//    public:
//     TARVO_PUBLISHED(TWSocket)
//     explicit TWSocket(TComponent* AOwner);
//     ...
//   };
//   // source
//   TARVO_PUBLISH(TWSocket, TCustomSyncWSocket) {
//     b.Property("Addr", &TWSocket::Addr, &TWSocket::SetAddr)
//      .ReadOnly("ReadCount", &TWSocket::ReadCount)
//      .EnumReadOnly<TSocketState>("State", &TWSocket::State, {{"wsInvalidState", wsInvalidState}, ...})
//      .Event("OnDataAvailable", &TWSocket::FOnDataAvailable);
//   }
//
// A form class publishes its handlers with b.Method("StartBtnClick", &TForm1::StartBtnClick) and the fields that
// hold its components with b.Field("StartBtn", &TForm1::StartBtn) (the reader fills them). Properties are listed
// parents first, each class in the order it publishes them. Names compare without case.
//
// The table body is a static member function of the class (declared by TARVO_PUBLISHED), so it may name the
// class's protected and private members, and protected members of its parents.
//
// Value conversions raise EPropertyError with a message that says what did not fit; the form reader adds the
// form, the line and the word.
//
// Registration: FindClass finds a class once it is registered. Static libraries drop unreferenced objects, so
// each layer has one idempotent function that registers its classes (RegisterRtlClasses, RegisterGuiClasses,
// RegisterSocketClasses), called by the program entry (or a test) before forms are created.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

#include "rtl/classes.h"

// A value as a stored description gives it. Line is the line of the description it came from (0 if none).
struct TPropValue {
  enum class Kind { Integer, Float, String, Boolean, Identifier, Set, StringList };
  Kind kind = Kind::Integer;
  std::int64_t Int = 0;
  double Float = 0;
  std::string Str;                 // String, Identifier
  bool Bool = false;
  std::vector<std::string> Items;  // Set members, StringList lines
  int Line = 0;
};

enum class TPropKind { Integer, Float, String, Boolean, Enumeration, Set, Strings, Class };

struct TPropInfo {
  std::string Name;
  TPropKind Kind;
  std::string TypeName;  // "Integer", "string", "TSocketState", "TFont" ... for messages
  // Sets the property from a stored value; raises EPropertyError naming what does not fit. Empty: read-only.
  std::function<void(TObject*, const TPropValue&)> Write;
  // Reads it back in the stored form (tests and writers use it).
  std::function<TPropValue(const TObject*)> Read;
  // Class properties (Font, Glyph, Items, ...): the nested object whose own table takes "Font.Name" and kin.
  std::function<TPersistent*(TObject*)> Object;
};

struct TEventInfo {
  std::string Name;
  std::type_index Type;  // the TEvent<...> type of the handler
  // Assigns a handler (a std::any holding exactly Type), or clears it with an empty any. A handler of any other
  // type raises EPropertyError.
  std::function<void(TObject*, const std::any&)> Write;
  std::function<bool(const TObject*)> IsAssigned;
  // The handler now assigned, as Write takes it (an empty any when none); lets a failed load put it back.
  std::function<std::any(const TObject*)> Read;
};

// A form's field that holds one of its components (TLabel* FrameLabel): the reader stores the component of that
// name there once it is created, and clears it again when the load fails.
struct TFieldInfo {
  std::string Name;
  std::string TypeName;  // the component class the field holds, for messages
  // Stores component into the field of self; false (nothing stored) when the component is of another class.
  std::function<bool(TObject* self, TComponent* component)> Assign;
  std::function<void(TObject* self)> Clear;
};

struct TMethodInfo {
  std::string Name;
  std::type_index Type;  // the TEvent<...> type that the method fits
  // A handler that calls the method on self, as a std::any holding Type.
  std::function<std::any(TObject* self)> Bind;
};

class TClassInfo {
 public:
  using Factory = std::function<TComponent*(TComponent* owner)>;
  TClassInfo(std::string name, const TClassInfo* parent, Factory create);
  const std::string& Name() const { return FName; }
  const TClassInfo* Parent() const { return FParent; }
  bool InheritsFrom(const TClassInfo& other) const;
  bool Creatable() const { return static_cast<bool>(FCreate); }
  TComponent* Create(TComponent* owner) const;  // EClassNotFound for a class that cannot be created

  // Lookups search this class, then its parents.
  const TPropInfo* FindProperty(const std::string& name) const;
  const TEventInfo* FindEvent(const std::string& name) const;
  const TMethodInfo* FindMethod(const std::string& name) const;
  const TFieldInfo* FindField(const std::string& name) const;
  std::vector<const TPropInfo*> Properties() const;  // parents first, each in published order
  std::vector<const TEventInfo*> Events() const;
  std::vector<const TMethodInfo*> Methods() const;
  std::vector<const TFieldInfo*> Fields() const;

  // Each raises EPropertyError when this class already publishes the name (a parent's entry may be replaced).
  void AddProperty(TPropInfo p);
  void AddEvent(TEventInfo e);
  void AddMethod(TMethodInfo m);
  void AddField(TFieldInfo f);

 private:
  std::string FName;
  const TClassInfo* FParent;
  Factory FCreate;
  std::vector<TPropInfo> FProps;
  std::vector<TEventInfo> FEvents;
  std::vector<TMethodInfo> FMethods;
  std::vector<TFieldInfo> FFields;
  friend struct TClassInfoAccess;
};

// The registry is process-wide and safe to use from any thread.
void RegisterClass(const TClassInfo& cls);  // idempotent; a second class under a taken name raises Exception
const TClassInfo* FindClass(const std::string& name);  // compared without case; nullptr when not registered
void RegisterRtlClasses();  // TObject, TPersistent, TComponent, TStrings, TStringList

// Name tables for enumerations and sets: the identifier each value is stored as. For a set, each entry names one
// member by its bit number: member m is the bit 1 << m of the mask (an enumeration 0, 1, 2 ... fits as it is).
template <class E>
using TEnumNames = std::initializer_list<std::pair<const char*, E>>;

// The builder that TARVO_PUBLISH hands to a class's table. Getters and setters are member functions (or data
// members, read and written directly); the value type follows the getter's result (integers, enumerations with a
// name table, bool, std::string, double).
template <class C>
class TClassBuilder {
 public:
  explicit TClassBuilder(TClassInfo& info) : FInfo(info) {}

  // Integer, Boolean, String and Float properties. Integers are range-checked against the getter's type; a Float
  // property also takes an integer.
  template <class G, class S>
  TClassBuilder& Property(const char* name, G get, S set);
  template <class G>
  TClassBuilder& ReadOnly(const char* name, G get);
  // Enumerations: stored as the identifiers of names.
  template <class E, class G, class S>
  TClassBuilder& Enum(const char* name, G get, S set, TEnumNames<E> names);
  template <class E, class G>
  TClassBuilder& EnumReadOnly(const char* name, G get, TEnumNames<E> names);
  // Sets stored as [a, b]: the getter and setter use an unsigned bit mask (or an enumeration over one); each
  // name gives its member's bit number (see TEnumNames). A bit number the mask cannot hold raises EPropertyError.
  template <class T, class G, class S>
  TClassBuilder& Set(const char* name, G get, S set, TEnumNames<T> bits);
  // A nested object (Font, Glyph, Picture, Items ...): get returns the object whose table takes the nested names.
  // A TStrings object also takes a StringList value ("Items.Strings = (...)" or "Items = (...)").
  template <class G>
  TClassBuilder& Object(const char* name, G get);
  // A property with its own conversion (pictures named by path, colours ...).
  TClassBuilder& Custom(TPropInfo info);
  // Events: a TEvent<...> data member (of C or one of its parents), or a getter/setter pair.
  template <class F, class Owner>
  TClassBuilder& Event(const char* name, std::function<F> Owner::*field);
  template <class G, class S>
  TClassBuilder& Event(const char* name, G get, S set);
  // Forms: a published handler method; it fits an event of type TEvent<Args...> exactly.
  template <class Owner, class... Args>
  TClassBuilder& Method(const char* name, void (Owner::*method)(Args...));
  // Forms: a field that holds the component of that name (a pointer to a TComponent class).
  template <class T, class Owner>
  TClassBuilder& Field(const char* name, T* Owner::*field);

 private:
  TClassInfo& FInfo;
};

// Declares the class's table in its body (public section); with or without a semicolon after it.
#define TARVO_PUBLISHED(Class)                       \
  static const TClassInfo& StaticClassInfo();        \
  static void PublishTo(TClassBuilder<Class>& b);    \
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

// Defines the table (in one source file); the body that follows fills it through `b`. The table is built once,
// on first use, safely from any thread. The class is creatable by name when it is a component that is not
// abstract and can be constructed from its owner (Class(TComponent*)).
//   TARVO_PUBLISH(TWSocket, TCustomSyncWSocket) { b.Property(...); }
// TARVO_PUBLISH itself is defined in typinfo_impl.h.

#include "rtl/typinfo_impl.h"
