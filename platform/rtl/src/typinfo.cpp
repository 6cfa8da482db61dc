// Class descriptions, the class registry and the message helpers of the table builder (typinfo.h).
#include "rtl/typinfo.h"

#include <cxxabi.h>

#include <cstdlib>
#include <map>
#include <mutex>

// ---- messages of the table builder ----

namespace tarvo_typinfo {

namespace {

std::string Demangled(const char* mangled) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled != nullptr) ? demangled : mangled;
  std::free(demangled);
  // Classes of a test or a single source file live in an unnamed namespace; their plain name reads better.
  static const std::string anonymous = "(anonymous namespace)::";
  for (std::size_t at; (at = name.find(anonymous)) != std::string::npos;) name.erase(at, anonymous.size());
  return name;
}

}  // namespace

std::string TypeNameOf(const std::type_info& type) { return Demangled(type.name()); }
std::string TypeNameOf(const std::type_index& type) { return Demangled(type.name()); }

namespace {

const char* KindText(TPropValue::Kind kind) {
  switch (kind) {
    case TPropValue::Kind::Integer: return "an integer";
    case TPropValue::Kind::Float: return "a floating-point number";
    case TPropValue::Kind::String: return "a string";
    case TPropValue::Kind::Boolean: return "a Boolean";
    case TPropValue::Kind::Identifier: return "an identifier";
    case TPropValue::Kind::Set: return "a set";
    case TPropValue::Kind::StringList: return "a list of strings";
  }
  return "a value";
}

}  // namespace

void RaiseKindMismatch(const TPropValue& value, const char* expected) {
  throw EPropertyError(std::string("expected ") + expected + ", found " + KindText(value.kind));
}

void RaiseOutOfRange(std::int64_t value, const std::string& range) {
  throw EPropertyError(std::to_string(value) + " is out of range " + range);
}

void RaiseWrongObject(const TObject* object, const std::type_info& expected) {
  throw EPropertyError("the property belongs to " + TypeNameOf(expected) + ", not to " +
                       (object != nullptr ? object->ClassName() : std::string("a missing object")));
}

void RaiseHandlerMismatch(const std::type_info& given, const std::type_info& expected) {
  throw EPropertyError("a handler of type " + TypeNameOf(given) + " does not fit an event of type " +
                       TypeNameOf(expected));
}

void RaiseUnknownName(const std::string& word, const char* what, const std::string& typeName,
                      const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
  throw EPropertyError("\"" + word + "\" is not " + what + " of " + typeName + " (" + list + ")");
}

void RaiseBadSetMember(const char* name, long long bit, int width) {
  throw EPropertyError(std::string("set member ") + name + " has bit number " + std::to_string(bit) +
                       ", outside 0.." + std::to_string(width - 1));
}

bool SameName(const char* a, const std::string& b) { return SameText(a, b); }

}  // namespace tarvo_typinfo

// ---- TClassInfo ----

TClassInfo::TClassInfo(std::string name, const TClassInfo* parent, Factory create)
    : FName(std::move(name)), FParent(parent), FCreate(std::move(create)) {}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->FParent)
    if (c == &other) return true;
  return false;
}

TComponent* TClassInfo::Create(TComponent* owner) const {
  if (!FCreate) throw EClassNotFound("Class " + FName + " cannot be created by name");
  return FCreate(owner);
}

namespace {

template <class T>
const T* FindIn(const TClassInfo* cls, const std::string& name, const std::vector<T>& (*entries)(const TClassInfo&)) {
  for (; cls != nullptr; cls = cls->Parent())
    for (const T& e : entries(*cls))
      if (SameText(e.Name, name)) return &e;
  return nullptr;
}

// Parents first; an entry that a class publishes again under a parent's name takes the parent's place.
template <class T>
std::vector<const T*> AllOf(const TClassInfo* cls, const std::vector<T>& (*entries)(const TClassInfo&)) {
  std::vector<const TClassInfo*> chain;
  for (; cls != nullptr; cls = cls->Parent()) chain.insert(chain.begin(), cls);
  std::vector<const T*> result;
  for (const TClassInfo* c : chain)
    for (const T& e : entries(*c)) {
      bool replaced = false;
      for (const T*& r : result)
        if (SameText(r->Name, e.Name)) {
          r = &e;
          replaced = true;
        }
      if (!replaced) result.push_back(&e);
    }
  return result;
}

template <class T>
void AddTo(std::vector<T>& entries, T entry, const std::string& className, const char* what) {
  for (const T& e : entries)
    if (SameText(e.Name, entry.Name))
      throw EPropertyError(className + " publishes the " + what + " \"" + entry.Name + "\" twice");
  entries.push_back(std::move(entry));
}

}  // namespace

struct TClassInfoAccess {
  static const std::vector<TPropInfo>& Props(const TClassInfo& c) { return c.FProps; }
  static const std::vector<TEventInfo>& Events(const TClassInfo& c) { return c.FEvents; }
  static const std::vector<TMethodInfo>& Methods(const TClassInfo& c) { return c.FMethods; }
  static const std::vector<TFieldInfo>& Fields(const TClassInfo& c) { return c.FFields; }
};

const TPropInfo* TClassInfo::FindProperty(const std::string& name) const {
  return FindIn<TPropInfo>(this, name, &TClassInfoAccess::Props);
}
const TEventInfo* TClassInfo::FindEvent(const std::string& name) const {
  return FindIn<TEventInfo>(this, name, &TClassInfoAccess::Events);
}
const TMethodInfo* TClassInfo::FindMethod(const std::string& name) const {
  return FindIn<TMethodInfo>(this, name, &TClassInfoAccess::Methods);
}
const TFieldInfo* TClassInfo::FindField(const std::string& name) const {
  return FindIn<TFieldInfo>(this, name, &TClassInfoAccess::Fields);
}

std::vector<const TPropInfo*> TClassInfo::Properties() const {
  return AllOf<TPropInfo>(this, &TClassInfoAccess::Props);
}
std::vector<const TEventInfo*> TClassInfo::Events() const {
  return AllOf<TEventInfo>(this, &TClassInfoAccess::Events);
}
std::vector<const TMethodInfo*> TClassInfo::Methods() const {
  return AllOf<TMethodInfo>(this, &TClassInfoAccess::Methods);
}
std::vector<const TFieldInfo*> TClassInfo::Fields() const {
  return AllOf<TFieldInfo>(this, &TClassInfoAccess::Fields);
}

void TClassInfo::AddProperty(TPropInfo p) { AddTo(FProps, std::move(p), FName, "property"); }
void TClassInfo::AddEvent(TEventInfo e) { AddTo(FEvents, std::move(e), FName, "event"); }
void TClassInfo::AddMethod(TMethodInfo m) { AddTo(FMethods, std::move(m), FName, "method"); }
void TClassInfo::AddField(TFieldInfo f) { AddTo(FFields, std::move(f), FName, "field"); }

// ---- registry ----

namespace {

struct TRegistry {
  std::mutex Lock;
  std::map<std::string, const TClassInfo*> Classes;  // by upper-case name
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

void RegisterClass(const TClassInfo& cls) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  auto [it, inserted] = r.Classes.emplace(UpperCase(cls.Name()), &cls);
  if (!inserted && it->second != &cls)
    throw Exception("A class named " + cls.Name() + " is already registered");
}

const TClassInfo* FindClass(const std::string& name) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  auto it = r.Classes.find(UpperCase(name));
  return it == r.Classes.end() ? nullptr : it->second;
}

void RegisterRtlClasses() {
  RegisterClass(TObject::StaticClassInfo());
  RegisterClass(TPersistent::StaticClassInfo());
  RegisterClass(TComponent::StaticClassInfo());
  RegisterClass(TStrings::StaticClassInfo());
  RegisterClass(TStringList::StaticClassInfo());
}
