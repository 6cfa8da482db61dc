// The component model, lists and string lists of classes.h, and the published tables of the rtl's own classes.
#include "rtl/classes.h"

#include "rtl/typinfo.h"

namespace {

[[noreturn]] void RaiseIndex(int index) { throw EListError("List index out of bounds (%d)", {index}); }

bool IsIdentifier(const std::string& s) {
  if (s.empty()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

}  // namespace

// ---- TObject, TPersistent ----

TObject::~TObject() = default;

const TClassInfo& TObject::StaticClassInfo() {
  static const TClassInfo info = [] {
    TClassInfo i("TObject", nullptr, {});
    TClassBuilder<TObject> b(i);
    PublishTo(b);
    return i;
  }();
  return info;
}

void TObject::PublishTo(TClassBuilder<TObject>&) {}

const TClassInfo& TObject::ClassInfo() const { return StaticClassInfo(); }

std::string TObject::ClassName() const { return ClassInfo().Name(); }

bool TObject::InheritsFrom(const TClassInfo& cls) const { return ClassInfo().InheritsFrom(cls); }

void TObject::Dispatch(TMessage& message) { DefaultHandler(message); }

void TObject::DefaultHandler(TMessage&) {}

TARVO_PUBLISH(TPersistent, TObject) {}

const TClassInfo& TPersistent::ClassInfo() const { return StaticClassInfo(); }

// ---- TComponent ----

TARVO_PUBLISH(TComponent, TPersistent) {
  b.Property("Name", &TComponent::Name, &TComponent::SetName).Property("Tag", &TComponent::Tag, &TComponent::SetTag);
}

const TClassInfo& TComponent::ClassInfo() const { return StaticClassInfo(); }

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  DestroyComponents();
  if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

void TComponent::SetName(const std::string& name) {
  if (name == FName) return;
  if (!name.empty() && !IsIdentifier(name))
    throw EPropertyError("\"" + name + "\" is not a valid component name");
  if (!name.empty() && FOwner != nullptr) {
    TComponent* other = FOwner->FindComponent(name);
    if (other != nullptr && other != this)
      throw EPropertyError("A component named \"" + name + "\" already exists");
  }
  FName = name;
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) RaiseIndex(index);
  return FComponents[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameText(c->FName, name)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (component == nullptr || component->FOwner == this) return;
  if (component == this) throw EPropertyError("A component cannot own itself");
  if (!component->FName.empty() && FindComponent(component->FName) != nullptr)
    throw EPropertyError("A component named \"" + component->FName + "\" already exists");
  if (component->FOwner != nullptr) component->FOwner->RemoveComponent(component);
  FComponents.push_back(component);
  component->FOwner = this;
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component == nullptr || component->FOwner != this) return;
  Notification(component, TOperation::opRemove);
  for (auto it = FComponents.begin(); it != FComponents.end(); ++it)
    if (*it == component) {
      FComponents.erase(it);
      break;
    }
  component->FOwner = nullptr;
}

void TComponent::DestroyComponents() {
  // Each destructor takes its component out of the list (RemoveComponent), so the loop always deletes the
  // component that was created last among those still owned, also when a destructor destroys a sibling.
  while (!FComponents.empty()) delete FComponents.back();
}

void TComponent::Destroying() {
  if ((FComponentState & csDestroying) != 0) return;
  FComponentState |= csDestroying;
  for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::Loaded() { FComponentState &= ~static_cast<TComponentState>(csLoading); }

void TComponent::Notification(TComponent* component, TOperation operation) {
  // By index from the end: a receiver may remove components (also itself) while being told.
  for (std::size_t i = FComponents.size(); i-- > 0;) {
    if (i >= FComponents.size()) continue;
    TComponent* c = FComponents[i];
    if (c != component) c->Notification(component, operation);
  }
}

void TComponent::SetParentComponent(TComponent*) {}

void TComponent::SetComponentStateFlag(TComponentStateFlag flag, bool on) {
  if (on)
    FComponentState |= flag;
  else
    FComponentState &= ~static_cast<TComponentState>(flag);
}

// ---- TList ----

void* TList::Items(int index) const {
  if (index < 0 || index >= Count()) RaiseIndex(index);
  return FItems[static_cast<std::size_t>(index)];
}

int TList::Add(void* item) {
  FItems.push_back(item);
  return Count() - 1;
}

void TList::Insert(int index, void* item) {
  if (index < 0 || index > Count()) RaiseIndex(index);
  FItems.insert(FItems.begin() + index, item);
}

void TList::Delete(int index) {
  if (index < 0 || index >= Count()) RaiseIndex(index);
  FItems.erase(FItems.begin() + index);
}

int TList::Remove(void* item) {
  int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

int TList::IndexOf(void* item) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i] == item) return static_cast<int>(i);
  return -1;
}

// ---- TStrings, TStringList ----

namespace {

TPropValue StringsValue(const TStrings& list) {
  TPropValue v;
  v.kind = TPropValue::Kind::StringList;
  for (int i = 0; i < list.Count(); ++i) v.Items.push_back(list.Strings(i));
  return v;
}

}  // namespace

TARVO_PUBLISH(TStrings, TPersistent) {
  TPropInfo p{"Strings", TPropKind::Strings, "TStrings", {}, {}, {}};
  p.Write = [](TObject* o, const TPropValue& v) {
    if (v.kind != TPropValue::Kind::StringList) tarvo_typinfo::RaiseKindMismatch(v, "a list like ('a' 'b')");
    auto& list = tarvo_typinfo::Self<TStrings>(o);
    TStringList lines;
    for (const std::string& s : v.Items) lines.Add(s);
    list.Assign(lines);
  };
  p.Read = [](const TObject* o) { return StringsValue(tarvo_typinfo::Self<TStrings>(o)); };
  b.Custom(std::move(p));
}

const TClassInfo& TStrings::ClassInfo() const { return StaticClassInfo(); }

int TStrings::IndexOf(const std::string& s) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Strings(i), s)) return i;
  return -1;
}

std::string TStrings::Text() const {
  std::string r;
  for (int i = 0; i < Count(); ++i) {
    r += Strings(i);
    r += "\r\n";
  }
  return r;
}

void TStrings::SetText(const std::string& text) {
  BeginUpdate();
  try {
    Clear();
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
      char c = text[i];
      if (c == '\r' || c == '\n') {
        Add(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = ++i;
      } else {
        ++i;
      }
    }
    if (start < text.size()) Add(text.substr(start));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Assign(const TStrings& other) {
  if (&other == this) return;
  BeginUpdate();
  try {
    Clear();
    for (int i = 0; i < other.Count(); ++i) AddObject(other.Strings(i), other.Objects(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0 && FChangedInUpdate) {
    FChangedInUpdate = false;
    Changed();
  }
}

void TStrings::Changed() {
  if (FUpdateCount > 0) {
    FChangedInUpdate = true;
    return;
  }
  if (Assigned(OnChange)) OnChange(this);
}

TARVO_PUBLISH(TStringList, TStrings) {}

const TClassInfo& TStringList::ClassInfo() const { return StaticClassInfo(); }

const std::string& TStringList::Strings(int index) const {
  if (index < 0 || index >= Count()) RaiseIndex(index);
  return FItems[static_cast<std::size_t>(index)].Text;
}

void TStringList::Put(int index, const std::string& s) {
  if (index < 0 || index >= Count()) RaiseIndex(index);
  FItems[static_cast<std::size_t>(index)].Text = s;
  Changed();
}

TObject* TStringList::Objects(int index) const {
  if (index < 0 || index >= Count()) RaiseIndex(index);
  return FItems[static_cast<std::size_t>(index)].Object;
}

int TStringList::AddObject(const std::string& s, TObject* object) {
  FItems.push_back({s, object});
  Changed();
  return Count() - 1;
}

void TStringList::Insert(int index, const std::string& s) {
  if (index < 0 || index > Count()) RaiseIndex(index);
  FItems.insert(FItems.begin() + index, Item{s, nullptr});
  Changed();
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) RaiseIndex(index);
  FItems.erase(FItems.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (FItems.empty()) return;
  FItems.clear();
  Changed();
}
