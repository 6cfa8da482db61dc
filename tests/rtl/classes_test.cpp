// The component model, lists, string lists and the application hooks.
#include "rtl/classes.h"

#include <gtest/gtest.h>

#include "win32/win32.h"

namespace {

std::vector<std::string> gLog;

// Logs its destruction, what it sees of the being-destroyed mark there, and the notifications it gets.
class TLogged : public TComponent {
 public:
  TLogged(TComponent* owner, const std::string& name) : TComponent(owner) { SetName(name); }
  ~TLogged() override {
    std::string seen = IsDestroying() ? " self-marked" : "";
    if (Owner() != nullptr && Owner()->IsDestroying()) seen += " owner-marked";
    gLog.push_back("~" + Name() + seen);
  }
  void Notification(TComponent* component, TOperation operation) override {
    gLog.push_back(Name() + (operation == TOperation::opInsert ? " +" : " -") + component->Name());
    TComponent::Notification(component, operation);
  }
};

// A family whose destructor needs the mark itself, as the socket component does.
class TMarksItself : public TComponent {
 public:
  using TComponent::TComponent;
  ~TMarksItself() override {
    Destroying();
    gLog.push_back(IsDestroying() ? "marked" : "unmarked");
  }
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { gLog.clear(); }
};

TEST_F(ComponentTest, OwnerDestroysOwnedLastCreatedFirstWithTheMarkSet) {
  auto* owner = new TLogged(nullptr, "Owner");
  auto* a = new TLogged(owner, "A");
  new TLogged(owner, "B");
  new TLogged(a, "A1");
  new TLogged(owner, "C");
  gLog.clear();
  delete owner;
  // Each owned component is marked before any is destroyed; siblings still alive hear of each removal.
  // (A's own destructor body runs before A's components go: C++ destroys the derived part first.)
  EXPECT_EQ(gLog, (std::vector<std::string>{"~Owner", "~C self-marked owner-marked", "B -C", "A -C", "A1 -C",
                                            "~B self-marked owner-marked", "A -B", "A1 -B",
                                            "~A self-marked owner-marked", "~A1 self-marked owner-marked"}));
}

TEST_F(ComponentTest, ADestructorThatCallsDestroyingSeesTheMark) {
  auto* alone = new TMarksItself(nullptr);
  delete alone;
  EXPECT_EQ(gLog, std::vector<std::string>{"marked"});
}

TEST_F(ComponentTest, NotificationReachesOwnerAndSiblingsNotTheComponentItself) {
  TLogged owner(nullptr, "Owner");
  auto* a = new TLogged(&owner, "A");
  auto* b = new TComponent(&owner);
  b->SetName("B");
  EXPECT_EQ(gLog, (std::vector<std::string>{"Owner +", "Owner +", "A +"}));  // unnamed while constructing
  gLog.clear();
  delete b;
  EXPECT_EQ(gLog, (std::vector<std::string>{"Owner -B", "A -B"}));
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), a);
}

TEST_F(ComponentTest, InsertAndRemoveMoveOwnership) {
  TComponent first(nullptr);
  TComponent second(nullptr);
  auto* c = new TComponent(&first);
  c->SetName("Moved");
  second.InsertComponent(c);
  EXPECT_EQ(c->Owner(), &second);
  EXPECT_EQ(first.ComponentCount(), 0);
  EXPECT_EQ(second.FindComponent("MOVED"), c);
  auto* clash = new TComponent(&first);
  clash->SetName("moved");
  EXPECT_THROW(second.InsertComponent(clash), EPropertyError);
  EXPECT_EQ(clash->Owner(), &first);
  second.RemoveComponent(c);
  EXPECT_EQ(c->Owner(), nullptr);
  EXPECT_EQ(second.ComponentCount(), 0);
  delete c;
}

TEST_F(ComponentTest, NamesAreIdentifiersUniqueAmongTheOwnersComponents) {
  TComponent owner(nullptr);
  auto* a = new TComponent(&owner);
  auto* b = new TComponent(&owner);
  a->SetName("Button1");
  for (const char* bad : {"1abc", "a b", "a-b", "中文", "a.b"}) EXPECT_THROW(b->SetName(bad), EPropertyError) << bad;
  try {
    b->SetName("BUTTON1");
    FAIL();
  } catch (const EPropertyError& e) {
    EXPECT_EQ(e.Message(), "A component named \"BUTTON1\" already exists");
  }
  EXPECT_EQ(b->Name(), "");
  a->SetName("BUTTON1");  // its own name in another case
  b->SetName("_Button_2");
  EXPECT_EQ(owner.FindComponent("button1"), a);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  a->SetName("");
  b->SetName("");  // several unnamed components are fine
  TComponent loose(nullptr);
  loose.SetName("Button1");
  EXPECT_EQ(loose.Name(), "Button1");
}

TEST_F(ComponentTest, ComponentsOutOfBoundsAndTagAndFlags) {
  TComponent owner(nullptr);
  new TComponent(&owner);
  try {
    owner.Components(5);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (5)");
  }
  EXPECT_THROW(owner.Components(-1), EListError);
  owner.SetTag(-42);
  EXPECT_EQ(owner.Tag(), -42);
  owner.SetComponentStateFlag(csLoading, true);
  EXPECT_EQ(owner.ComponentState(), static_cast<TComponentState>(csLoading));
  owner.Loaded();
  EXPECT_EQ(owner.ComponentState(), 0u);
  EXPECT_FALSE(owner.IsDestroying());
}

TEST(List, ItemsInsertDeleteRemove) {
  TList list;
  int x = 1, y = 2, z = 3;
  EXPECT_EQ(list.Add(&x), 0);
  EXPECT_EQ(list.Add(&z), 1);
  list.Insert(1, &y);
  EXPECT_EQ(list.Items(1), &y);
  EXPECT_EQ(list.IndexOf(&z), 2);
  EXPECT_EQ(list.Remove(&x), 0);
  EXPECT_EQ(list.Remove(&x), -1);
  EXPECT_EQ(list.First(), &y);
  EXPECT_EQ(list.Last(), &z);
  EXPECT_THROW(list.Items(2), EListError);
  EXPECT_THROW(list.Insert(3, &x), EListError);
  list.Delete(0);
  list.Clear();
  EXPECT_THROW(list.First(), EListError);
}

TEST(StringList, EditingAndBounds) {
  TStringList list;
  TObject tagged;
  list.Add("one");
  list.AddObject("Two", &tagged);
  list.Insert(0, "zero");
  list.Put(2, "TWO");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Strings(2), "TWO");
  EXPECT_EQ(list.Objects(2), &tagged);
  EXPECT_EQ(list.IndexOf("two"), 2);
  EXPECT_EQ(list.IndexOf("three"), -1);
  list.Delete(0);
  EXPECT_EQ(list.Strings(0), "one");
  try {
    list.Strings(5);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (5)");
  }
  EXPECT_THROW(list.Put(-1, "x"), EListError);
  EXPECT_THROW(list.Delete(2), EListError);
  EXPECT_THROW(list.Insert(3, "x"), EListError);
  EXPECT_THROW(list.Objects(2), EListError);
}

TEST(StringList, TextSplitsOnEveryLineBreak) {
  TStringList list;
  list.SetText("a\r\nb\nc\rd\r\n\r\n");
  EXPECT_EQ(list.Count(), 5);
  EXPECT_EQ(list.Strings(3), "d");
  EXPECT_EQ(list.Strings(4), "");
  EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n\r\n");
  list.SetText("last line without break");
  EXPECT_EQ(list.Count(), 1);
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, OnChangeOncePerChange) {
  TStringList list;
  int changes = 0;
  list.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &list);
    ++changes;
  };
  list.Add("a");
  list.Put(0, "b");
  list.Insert(0, "c");
  list.Delete(0);
  EXPECT_EQ(changes, 4);
  list.SetText("1\n2\n3");
  EXPECT_EQ(changes, 5);
  TStringList other;
  other.Add("x");
  list.Assign(other);
  EXPECT_EQ(changes, 6);
  EXPECT_EQ(list.Text(), "x\r\n");
  list.Clear();
  list.Clear();  // nothing left to change
  EXPECT_EQ(changes, 7);
}

// ---- application hooks ----

std::vector<UINT> gDispatched;
LRESULT RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= WM_USER) gDispatched.push_back(msg);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(ApplicationHooks, DefaultPumpDispatchesUntilEmptyAndConsumesQuit) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = "RtlPumpTestClass";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND w = CreateWindowExA(0, "RtlPumpTestClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  SetApplicationHooks({});
  SetApplicationTerminated(false);
  gDispatched.clear();
  PostMessageA(w, WM_USER + 1, 0, 0);
  PostQuitMessage(0);
  PostMessageA(w, WM_USER + 2, 0, 0);
  ApplicationProcessMessages();
  EXPECT_EQ(gDispatched, (std::vector<UINT>{WM_USER + 1, WM_USER + 2}));
  EXPECT_TRUE(ApplicationTerminated());
  MSG msg;
  EXPECT_EQ(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE), 0);  // the WM_QUIT is gone too
  SetApplicationTerminated(false);
  DestroyWindow(w);
  UnregisterClassA("RtlPumpTestClass", nullptr);
}

TEST(ApplicationHooks, InstalledHooksReplaceTheDefaultsUntilCleared) {
  int pumped = 0;
  SetApplicationTerminated(false);
  SetApplicationHooks({[&] { ++pumped; }, [] { return true; }});
  ApplicationProcessMessages();
  EXPECT_EQ(pumped, 1);
  EXPECT_TRUE(ApplicationTerminated());
  SetApplicationHooks({});
  EXPECT_FALSE(ApplicationTerminated());
  ApplicationProcessMessages();
  EXPECT_EQ(pumped, 1);
}

}  // namespace
