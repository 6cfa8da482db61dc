// Template bodies of typinfo.h: the table builder and the TARVO_PUBLISH macro. Included by typinfo.h only;
// nothing here is meant to be called directly.
#pragma once

#include <limits>
#include <memory>
#include <type_traits>
#include <typeinfo>

namespace tarvo_typinfo {

// Demangled, readable type names for messages ("TSocketState", "std::function<void (TObject*)>").
std::string TypeNameOf(const std::type_info& type);
std::string TypeNameOf(const std::type_index& type);
[[noreturn]] void RaiseKindMismatch(const TPropValue& value, const char* expected);
[[noreturn]] void RaiseOutOfRange(std::int64_t value, const std::string& range);
[[noreturn]] void RaiseWrongObject(const TObject* object, const std::type_info& expected);
[[noreturn]] void RaiseHandlerMismatch(const std::type_info& given, const std::type_info& expected);
[[noreturn]] void RaiseUnknownName(const std::string& word, const char* what, const std::string& typeName,
                                   const std::vector<std::string>& names);
[[noreturn]] void RaiseBadSetMember(const char* name, long long bit, int width);
bool SameName(const char* a, const std::string& b);

template <class>
inline constexpr bool kAlwaysFalse = false;

template <class T>
struct IsStdFunction : std::false_type {};
template <class F>
struct IsStdFunction<std::function<F>> : std::true_type {};

template <class M, bool = std::is_enum_v<M>>
struct MaskOf {
  using type = M;
};
template <class M>
struct MaskOf<M, true> {
  using type = std::underlying_type_t<M>;
};

template <class G, class C>
using GetterValue = std::remove_cvref_t<std::invoke_result_t<G, C&>>;

// The object a table entry works on. The reader always passes an object of the table's class, but a table
// entry is a public function and a wrong object must not become undefined behaviour.
template <class C>
C& Self(const TObject* object) {
  auto* self = dynamic_cast<C*>(const_cast<TObject*>(object));
  if (self == nullptr) RaiseWrongObject(object, typeid(C));
  return *self;
}

template <class V>
constexpr TPropKind KindOf() {
  if constexpr (std::is_same_v<V, bool>) {
    return TPropKind::Boolean;
  } else if constexpr (std::is_integral_v<V>) {
    return TPropKind::Integer;
  } else if constexpr (std::is_floating_point_v<V>) {
    return TPropKind::Float;
  } else if constexpr (std::is_same_v<V, std::string>) {
    return TPropKind::String;
  } else if constexpr (std::is_enum_v<V>) {
    static_assert(kAlwaysFalse<V>, "publish an enumeration with Enum(), which names its values");
  } else {
    static_assert(kAlwaysFalse<V>, "Property() takes integers, bool, double and std::string");
  }
}

template <class V>
const char* TypeNameFor() {
  switch (KindOf<V>()) {
    case TPropKind::Boolean: return "Boolean";
    case TPropKind::Integer: return "Integer";
    case TPropKind::Float: return "Float";
    default: return "string";
  }
}

template <class V>
V FromValue(const TPropValue& v) {
  if constexpr (std::is_same_v<V, bool>) {
    if (v.kind != TPropValue::Kind::Boolean) RaiseKindMismatch(v, "True or False");
    return v.Bool;
  } else if constexpr (std::is_integral_v<V>) {
    if (v.kind != TPropValue::Kind::Integer) RaiseKindMismatch(v, "an integer");
    using L = std::numeric_limits<V>;
    bool fits;
    if constexpr (std::is_signed_v<V>) {
      fits = v.Int >= static_cast<std::int64_t>(L::min()) && v.Int <= static_cast<std::int64_t>(L::max());
    } else {
      fits = v.Int >= 0 && static_cast<std::uint64_t>(v.Int) <= static_cast<std::uint64_t>(L::max());
    }
    if (!fits) RaiseOutOfRange(v.Int, std::to_string(L::min()) + ".." + std::to_string(L::max()));
    return static_cast<V>(v.Int);
  } else if constexpr (std::is_floating_point_v<V>) {
    if (v.kind == TPropValue::Kind::Integer) return static_cast<V>(v.Int);
    if (v.kind != TPropValue::Kind::Float) RaiseKindMismatch(v, "a number");
    return static_cast<V>(v.Float);
  } else {
    if (v.kind != TPropValue::Kind::String) RaiseKindMismatch(v, "a string");
    return v.Str;
  }
}

template <class V>
TPropValue ToValue(const V& x) {
  TPropValue v;
  if constexpr (std::is_same_v<V, bool>) {
    v.kind = TPropValue::Kind::Boolean;
    v.Bool = x;
  } else if constexpr (std::is_integral_v<V>) {
    v.kind = TPropValue::Kind::Integer;
    v.Int = static_cast<std::int64_t>(x);
  } else if constexpr (std::is_floating_point_v<V>) {
    v.kind = TPropValue::Kind::Float;
    v.Float = static_cast<double>(x);
  } else {
    v.kind = TPropValue::Kind::String;
    v.Str = x;
  }
  return v;
}

template <class G, class C>
TPropInfo ValueProperty(const char* name, G get) {
  using V = GetterValue<G, C>;
  TPropInfo p{name, KindOf<V>(), TypeNameFor<V>(), {}, {}, {}};
  p.Read = [get](const TObject* o) { return ToValue<V>(std::invoke(get, Self<C>(o))); };
  return p;
}

template <class E>
struct EnumTable {
  std::string TypeName;
  std::vector<std::pair<std::string, E>> Entries;

  explicit EnumTable(TEnumNames<E> names) : TypeName(TypeNameOf(typeid(E))) {
    for (const auto& [n, e] : names) Entries.emplace_back(n, e);
  }
  E Find(const TPropValue& v) const {
    if (v.kind != TPropValue::Kind::Identifier) RaiseKindMismatch(v, "an identifier");
    for (const auto& [n, e] : Entries)
      if (SameName(n.c_str(), v.Str)) return e;
    RaiseUnknownName(v.Str, "a value", TypeName, Names());
  }
  TPropValue Name(E x) const {
    TPropValue v;
    for (const auto& [n, e] : Entries)
      if (e == x) {
        v.kind = TPropValue::Kind::Identifier;
        v.Str = n;
        return v;
      }
    // A value without a name (a state the table does not list) still reads back as its number.
    v.kind = TPropValue::Kind::Integer;
    if constexpr (std::is_enum_v<E>)
      v.Int = static_cast<std::int64_t>(static_cast<std::underlying_type_t<E>>(x));
    else
      v.Int = static_cast<std::int64_t>(x);
    return v;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> r;
    for (const auto& entry : Entries) r.push_back(entry.first);
    return r;
  }
};

template <class T>
long long NumberOf(T x) {
  if constexpr (std::is_enum_v<T>)
    return static_cast<long long>(static_cast<std::underlying_type_t<T>>(x));
  else
    return static_cast<long long>(x);
}

// A setter is a member function, or a data member written directly.
template <class S, class C, class V>
void Store(S set, C& self, V&& value) {
  if constexpr (std::is_member_object_pointer_v<S>)
    self.*set = std::forward<V>(value);
  else
    std::invoke(set, self, std::forward<V>(value));
}

template <class C>
TClassInfo BuildClassInfo(const char* name, const TClassInfo* parent) {
  TClassInfo::Factory create;
  if constexpr (std::is_base_of_v<TComponent, C> && !std::is_abstract_v<C> &&
                std::is_constructible_v<C, TComponent*>) {
    create = [](TComponent* owner) -> TComponent* { return new C(owner); };
  }
  TClassInfo info(name, parent, std::move(create));
  TClassBuilder<C> b(info);
  C::PublishTo(b);
  return info;
}

}  // namespace tarvo_typinfo

template <class C>
template <class G, class S>
TClassBuilder<C>& TClassBuilder<C>::Property(const char* name, G get, S set) {
  using V = tarvo_typinfo::GetterValue<G, C>;
  TPropInfo p = tarvo_typinfo::ValueProperty<G, C>(name, get);
  p.Write = [set](TObject* o, const TPropValue& v) {
    tarvo_typinfo::Store(set, tarvo_typinfo::Self<C>(o), tarvo_typinfo::FromValue<V>(v));
  };
  FInfo.AddProperty(std::move(p));
  return *this;
}

template <class C>
template <class G>
TClassBuilder<C>& TClassBuilder<C>::ReadOnly(const char* name, G get) {
  FInfo.AddProperty(tarvo_typinfo::ValueProperty<G, C>(name, get));
  return *this;
}

template <class C>
template <class E, class G, class S>
TClassBuilder<C>& TClassBuilder<C>::Enum(const char* name, G get, S set, TEnumNames<E> names) {
  auto table = std::make_shared<const tarvo_typinfo::EnumTable<E>>(names);
  TPropInfo p{name, TPropKind::Enumeration, table->TypeName, {}, {}, {}};
  p.Write = [set, table](TObject* o, const TPropValue& v) {
    tarvo_typinfo::Store(set, tarvo_typinfo::Self<C>(o), table->Find(v));
  };
  p.Read = [get, table](const TObject* o) {
    return table->Name(static_cast<E>(std::invoke(get, tarvo_typinfo::Self<C>(o))));
  };
  FInfo.AddProperty(std::move(p));
  return *this;
}

template <class C>
template <class E, class G>
TClassBuilder<C>& TClassBuilder<C>::EnumReadOnly(const char* name, G get, TEnumNames<E> names) {
  auto table = std::make_shared<const tarvo_typinfo::EnumTable<E>>(names);
  TPropInfo p{name, TPropKind::Enumeration, table->TypeName, {}, {}, {}};
  p.Read = [get, table](const TObject* o) {
    return table->Name(static_cast<E>(std::invoke(get, tarvo_typinfo::Self<C>(o))));
  };
  FInfo.AddProperty(std::move(p));
  return *this;
}

template <class C>
template <class T, class G, class S>
TClassBuilder<C>& TClassBuilder<C>::Set(const char* name, G get, S set, TEnumNames<T> bits) {
  using M = tarvo_typinfo::GetterValue<G, C>;
  static_assert(std::is_integral_v<M> || std::is_enum_v<M>, "a set's getter returns its bit mask");
  using U = std::make_unsigned_t<typename tarvo_typinfo::MaskOf<M>::type>;
  constexpr int width = std::numeric_limits<U>::digits;
  struct Table {
    std::string TypeName;
    std::vector<std::pair<std::string, U>> Members;
  };
  auto table = std::make_shared<Table>();
  table->TypeName = "set of " + tarvo_typinfo::TypeNameOf(typeid(T));
  for (const auto& [memberName, member] : bits) {
    long long bit = tarvo_typinfo::NumberOf(member);
    if (bit < 0 || bit >= width) tarvo_typinfo::RaiseBadSetMember(memberName, bit, width);
    table->Members.emplace_back(memberName, static_cast<U>(U{1} << bit));
  }
  TPropInfo p{name, TPropKind::Set, table->TypeName, {}, {}, {}};
  p.Write = [set, table](TObject* o, const TPropValue& v) {
    if (v.kind != TPropValue::Kind::Set) tarvo_typinfo::RaiseKindMismatch(v, "a set like [a, b]");
    U mask = 0;
    for (const std::string& item : v.Items) {
      bool found = false;
      for (const auto& [memberName, memberBit] : table->Members)
        if (tarvo_typinfo::SameName(memberName.c_str(), item)) {
          mask = static_cast<U>(mask | memberBit);
          found = true;
          break;
        }
      if (!found) {
        std::vector<std::string> names;
        for (const auto& m : table->Members) names.push_back(m.first);
        tarvo_typinfo::RaiseUnknownName(item, "a member", table->TypeName, names);
      }
    }
    tarvo_typinfo::Store(set, tarvo_typinfo::Self<C>(o), static_cast<M>(mask));
  };
  p.Read = [get, table](const TObject* o) {
    auto mask = static_cast<U>(std::invoke(get, tarvo_typinfo::Self<C>(o)));
    TPropValue v;
    v.kind = TPropValue::Kind::Set;
    for (const auto& [memberName, memberBit] : table->Members)
      if ((mask & memberBit) != 0) v.Items.push_back(memberName);
    return v;
  };
  FInfo.AddProperty(std::move(p));
  return *this;
}

template <class C>
template <class G>
TClassBuilder<C>& TClassBuilder<C>::Object(const char* name, G get) {
  using P = tarvo_typinfo::GetterValue<G, C>;
  static_assert(std::is_pointer_v<P>, "an object property's getter returns a pointer");
  using T = std::remove_cv_t<std::remove_pointer_t<P>>;
  static_assert(std::is_base_of_v<TPersistent, T>, "an object property holds a TPersistent");
  TPropInfo p{name, TPropKind::Class, tarvo_typinfo::TypeNameOf(typeid(T)), {}, {}, {}};
  p.Object = [get](TObject* o) -> TPersistent* {
    return const_cast<T*>(std::invoke(get, tarvo_typinfo::Self<C>(o)));
  };
  if constexpr (std::is_base_of_v<TStrings, T>) {
    // A string list takes its lines directly too: Items = ('a' 'b').
    p.Kind = TPropKind::Strings;
    auto object = p.Object;
    p.Write = [object](TObject* o, const TPropValue& v) {
      if (v.kind != TPropValue::Kind::StringList) tarvo_typinfo::RaiseKindMismatch(v, "a list like ('a' 'b')");
      auto* list = static_cast<TStrings*>(object(o));
      if (list == nullptr) tarvo_typinfo::RaiseWrongObject(nullptr, typeid(T));
      list->BeginUpdate();
      try {
        list->Clear();
        for (const std::string& line : v.Items) list->Add(line);
      } catch (...) {
        list->EndUpdate();
        throw;
      }
      list->EndUpdate();
    };
    p.Read = [object](const TObject* o) {
      TPropValue v;
      v.kind = TPropValue::Kind::StringList;
      if (auto* list = static_cast<const TStrings*>(object(const_cast<TObject*>(o))))
        for (int i = 0; i < list->Count(); ++i) v.Items.push_back(list->Strings(i));
      return v;
    };
  }
  FInfo.AddProperty(std::move(p));
  return *this;
}

template <class C>
TClassBuilder<C>& TClassBuilder<C>::Custom(TPropInfo info) {
  FInfo.AddProperty(std::move(info));
  return *this;
}

template <class C>
template <class F, class Owner>
TClassBuilder<C>& TClassBuilder<C>::Event(const char* name, std::function<F> Owner::*field) {
  static_assert(std::is_base_of_v<Owner, C>, "the event field belongs to this class or a parent");
  using H = std::function<F>;
  TEventInfo e{name, std::type_index(typeid(H)), {}, {}, {}};
  e.Write = [field](TObject* o, const std::any& handler) {
    C& self = tarvo_typinfo::Self<C>(o);
    if (!handler.has_value()) {
      self.*field = nullptr;
      return;
    }
    const H* h = std::any_cast<H>(&handler);
    if (h == nullptr) tarvo_typinfo::RaiseHandlerMismatch(handler.type(), typeid(H));
    self.*field = *h;
  };
  e.IsAssigned = [field](const TObject* o) { return static_cast<bool>(tarvo_typinfo::Self<C>(o).*field); };
  e.Read = [field](const TObject* o) -> std::any {
    const H& h = tarvo_typinfo::Self<C>(o).*field;
    if (!h) return {};
    return h;
  };
  FInfo.AddEvent(std::move(e));
  return *this;
}

template <class C>
template <class G, class S>
TClassBuilder<C>& TClassBuilder<C>::Event(const char* name, G get, S set) {
  using H = tarvo_typinfo::GetterValue<G, C>;
  static_assert(tarvo_typinfo::IsStdFunction<H>::value, "an event's getter returns its TEvent<...>");
  TEventInfo e{name, std::type_index(typeid(H)), {}, {}, {}};
  e.Write = [set](TObject* o, const std::any& handler) {
    C& self = tarvo_typinfo::Self<C>(o);
    if (!handler.has_value()) {
      std::invoke(set, self, H{});
      return;
    }
    const H* h = std::any_cast<H>(&handler);
    if (h == nullptr) tarvo_typinfo::RaiseHandlerMismatch(handler.type(), typeid(H));
    std::invoke(set, self, *h);
  };
  e.IsAssigned = [get](const TObject* o) {
    return static_cast<bool>(std::invoke(get, tarvo_typinfo::Self<C>(o)));
  };
  e.Read = [get](const TObject* o) -> std::any {
    H h = std::invoke(get, tarvo_typinfo::Self<C>(o));
    if (!h) return {};
    return h;
  };
  FInfo.AddEvent(std::move(e));
  return *this;
}

template <class C>
template <class Owner, class... Args>
TClassBuilder<C>& TClassBuilder<C>::Method(const char* name, void (Owner::*method)(Args...)) {
  static_assert(std::is_base_of_v<Owner, C>, "the method belongs to this class or a parent");
  using H = TEvent<Args...>;
  TMethodInfo m{name, std::type_index(typeid(H)), {}};
  m.Bind = [method](TObject* self) -> std::any {
    Owner* target = &tarvo_typinfo::Self<C>(self);
    return H([target, method](Args... args) { (target->*method)(std::forward<Args>(args)...); });
  };
  FInfo.AddMethod(std::move(m));
  return *this;
}

template <class C>
template <class T, class Owner>
TClassBuilder<C>& TClassBuilder<C>::Field(const char* name, T* Owner::*field) {
  static_assert(std::is_base_of_v<Owner, C>, "the field belongs to this class or a parent");
  static_assert(std::is_base_of_v<TComponent, T>, "a published field holds a component");
  TFieldInfo f{name, tarvo_typinfo::TypeNameOf(typeid(T)), {}, {}};
  f.Assign = [field](TObject* self, TComponent* component) {
    T* typed = dynamic_cast<T*>(component);
    if (typed == nullptr) return false;
    tarvo_typinfo::Self<C>(self).*field = typed;
    return true;
  };
  f.Clear = [field](TObject* self) { tarvo_typinfo::Self<C>(self).*field = nullptr; };
  FInfo.AddField(std::move(f));
  return *this;
}

#define TARVO_PUBLISH(Class, Parent)                                                                     \
  const TClassInfo& Class::StaticClassInfo() {                                                           \
    static const TClassInfo info = tarvo_typinfo::BuildClassInfo<Class>(#Class, &Parent::StaticClassInfo()); \
    return info;                                                                                         \
  }                                                                                                      \
  void Class::PublishTo([[maybe_unused]] TClassBuilder<Class>& b)
