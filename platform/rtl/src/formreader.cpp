// The reader of stored form descriptions (formreader.h; the text format is in FORMS.md).
//
// The text is cut into tokens first, then read object by object. Everything the reader changes is remembered,
// so that a failure can take it back: components it created are destroyed (last created first), published
// fields it filled are cleared, and the root's own properties, events and name get their old values back.
#include "rtl/formreader.h"

#include <charconv>
#include <functional>
#include <vector>

#include "rtl/typinfo.h"

namespace {

constexpr int kMaxDepth = 100;  // nested objects; deeper text is refused before it can exhaust the stack
constexpr std::size_t kMaxWord = 60;

struct TToken {
  enum class Kind { End, Ident, String, Char, Integer, Float, Symbol };
  Kind kind = Kind::End;
  std::string Text;  // as written (for messages)
  std::string Str;   // String and Char: the UTF-8 text it stands for
  std::int64_t Int = 0;
  double Float = 0;
  int Line = 0;
  std::size_t Begin = 0;  // byte offsets in the description
  std::size_t End = 0;
};

std::string Quoted(const std::string& word) {
  if (word.size() <= kMaxWord) return "\"" + word + "\"";
  // Cut on a character boundary so that a long UTF-8 value stays valid text.
  std::size_t cut = kMaxWord;
  while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80) --cut;
  return "\"" + word.substr(0, cut) + "...\"";
}

class TFailure {
 public:
  explicit TFailure(std::string formName) : FFormName(std::move(formName)) {}
  [[noreturn]] void At(int line, const std::string& message) const {
    throw EReadError(FFormName + " line " + std::to_string(line) + ": " + message);
  }

 private:
  std::string FFormName;
};

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the valid UTF-8 sequence at s[i], or 0 when the bytes there are not one.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  auto b = static_cast<unsigned char>(s[i]);
  std::size_t n;
  std::uint32_t cp;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

std::string EncodeUtf8(std::uint32_t cp) {
  std::string r;
  if (cp < 0x80) {
    r += static_cast<char>(cp);
  } else if (cp < 0x800) {
    r += static_cast<char>(0xC0 | (cp >> 6));
    r += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    r += static_cast<char>(0xE0 | (cp >> 12));
    r += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    r += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    r += static_cast<char>(0xF0 | (cp >> 18));
    r += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    r += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    r += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return r;
}

class TLexer {
 public:
  TLexer(const std::string& text, const TFailure& fail) : FText(text), FFail(fail) {
    if (FText.compare(0, 3, "\xEF\xBB\xBF") == 0) FPos = 3;  // a byte-order mark that some editors write
  }

  std::vector<TToken> Tokens() {
    std::vector<TToken> tokens;
    for (;;) {
      tokens.push_back(Next());
      if (tokens.back().kind == TToken::Kind::End) return tokens;
    }
  }

  // The token that follows the last one taken (End, again and again, at the end of the text).
  TToken Next() {
    SkipBlanks();
    TToken t;
    t.Line = FLine;
    t.Begin = FPos;
    if (FPos >= FText.size()) {
      t.kind = TToken::Kind::End;
      t.Text = "end of text";
      t.Line = FLastLine;  // what is missing belongs after the last line that says something
      t.End = FPos;
      return t;
    }
    char c = FText[FPos];
    if (IsIdentStart(c)) {
      while (IsIdentChar(At(FPos))) ++FPos;
      t.kind = TToken::Kind::Ident;
    } else if (c == '\'') {
      ReadString(t);
    } else if (c == '#') {
      ReadChar(t);
    } else if (IsDigit(c) || c == '$' || (c == '-' && (IsDigit(At(FPos + 1)) || At(FPos + 1) == '$'))) {
      ReadNumber(t);
    } else if (c == '=' || c == ':' || c == '.' || c == ',' || c == '[' || c == ']' || c == '(' || c == ')' ||
               c == '+') {
      ++FPos;
      t.kind = TToken::Kind::Symbol;
    } else {
      std::size_t n = Utf8Length(FText, FPos);
      FFail.At(FLine, "unexpected character " + Quoted(FText.substr(FPos, n == 0 ? 1 : n)));
    }
    t.End = FPos;
    t.Text = FText.substr(t.Begin, t.End - t.Begin);
    FLastLine = FLine;
    return t;
  }

 private:
  char At(std::size_t i) const { return i < FText.size() ? FText[i] : '\0'; }

  void SkipBlanks() {
    while (FPos < FText.size()) {
      char c = FText[FPos];
      if (c == '\n') {
        ++FLine;
        ++FPos;
      } else if (c == '\r') {
        ++FLine;
        ++FPos;
        if (At(FPos) == '\n') ++FPos;
      } else if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
        ++FPos;
      } else if (c == '/' && At(FPos + 1) == '/') {
        while (FPos < FText.size() && FText[FPos] != '\n' && FText[FPos] != '\r') ++FPos;
      } else {
        return;
      }
    }
  }

  void ReadString(TToken& t) {
    t.kind = TToken::Kind::String;
    ++FPos;
    for (;;) {
      if (FPos >= FText.size() || FText[FPos] == '\n' || FText[FPos] == '\r')
        FFail.At(FLine, "unterminated string " + Quoted(FText.substr(t.Begin, FPos - t.Begin)) +
                            " (a string ends on its own line; write line breaks as #13#10)");
      char c = FText[FPos];
      if (c == '\'') {
        if (At(FPos + 1) == '\'') {
          t.Str += '\'';
          FPos += 2;
          continue;
        }
        ++FPos;
        return;
      }
      std::size_t n = Utf8Length(FText, FPos);
      if (n == 0) FFail.At(FLine, "invalid UTF-8 text in string " + Quoted(t.Str));
      t.Str.append(FText, FPos, n);
      FPos += n;
    }
  }

  void ReadChar(TToken& t) {
    t.kind = TToken::Kind::Char;
    ++FPos;
    std::uint64_t cp = 0;
    std::size_t digits = 0;
    const bool hex = At(FPos) == '$';
    if (hex) ++FPos;
    // Nine digits are more than any code point needs; a tenth makes the code invalid below.
    for (; digits < 9; ++digits, ++FPos) {
      int d = hex ? HexValue(At(FPos)) : (IsDigit(At(FPos)) ? At(FPos) - '0' : -1);
      if (d < 0) break;
      cp = cp * (hex ? 16 : 10) + static_cast<unsigned>(d);
    }
    if (digits == 0 || IsIdentChar(At(FPos)) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      std::size_t end = FPos;
      while (IsIdentChar(At(end))) ++end;
      FFail.At(FLine, "invalid character code " + Quoted(FText.substr(t.Begin, end - t.Begin)));
    }
    t.Str = EncodeUtf8(static_cast<std::uint32_t>(cp));
  }

  void ReadNumber(TToken& t) {
    bool negative = false;
    if (FText[FPos] == '-') {
      negative = true;
      ++FPos;
    }
    bool ok = true;
    if (At(FPos) == '$') {
      ++FPos;
      std::uint64_t v = 0;
      std::size_t digits = 0;
      for (; HexValue(At(FPos)) >= 0; ++digits, ++FPos) {
        if (v > (UINT64_MAX >> 4)) ok = false;
        v = v * 16 + static_cast<unsigned>(HexValue(FText[FPos]));
      }
      if (digits == 0 || IsIdentChar(At(FPos))) BadNumber(t);
      if (!ok || v > static_cast<std::uint64_t>(INT64_MAX)) OutOfRange(t);
      t.kind = TToken::Kind::Integer;
      t.Int = negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
      return;
    }
    std::size_t start = FPos;
    while (IsDigit(At(FPos))) ++FPos;
    bool isFloat = false;
    if (At(FPos) == '.' && IsDigit(At(FPos + 1))) {
      isFloat = true;
      ++FPos;
      while (IsDigit(At(FPos))) ++FPos;
    }
    if ((At(FPos) == 'e' || At(FPos) == 'E') &&
        (IsDigit(At(FPos + 1)) || ((At(FPos + 1) == '+' || At(FPos + 1) == '-') && IsDigit(At(FPos + 2))))) {
      isFloat = true;
      FPos += 2;
      while (IsDigit(At(FPos))) ++FPos;
    }
    if (IsIdentChar(At(FPos)) || At(FPos) == '.') BadNumber(t);
    std::string digits = FText.substr(start, FPos - start);
    if (isFloat) {
      // from_chars reads the same text whatever locale the program has set.
      auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), t.Float);
      if (ec != std::errc() || end != digits.data() + digits.size()) OutOfRange(t);
      t.kind = TToken::Kind::Float;
      if (negative) t.Float = -t.Float;
      return;
    }
    std::uint64_t v = 0;
    for (char d : digits) {
      if (v > (UINT64_MAX - 9) / 10) ok = false;
      v = v * 10 + static_cast<unsigned>(d - '0');
    }
    std::uint64_t limit = negative ? static_cast<std::uint64_t>(INT64_MAX) + 1 : static_cast<std::uint64_t>(INT64_MAX);
    if (!ok || v > limit) OutOfRange(t);
    t.kind = TToken::Kind::Integer;
    t.Int = negative ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
  }

  [[noreturn]] void BadNumber(const TToken& t) {
    std::size_t end = FPos;
    while (end < FText.size() && (IsIdentChar(FText[end]) || FText[end] == '.')) ++end;
    FFail.At(FLine, "invalid number " + Quoted(FText.substr(t.Begin, end - t.Begin)));
  }
  [[noreturn]] void OutOfRange(const TToken& t) {
    FFail.At(FLine, "number " + Quoted(FText.substr(t.Begin, FPos - t.Begin)) + " is out of range");
  }

  const std::string& FText;
  const TFailure& FFail;
  std::size_t FPos = 0;
  int FLine = 1;
  int FLastLine = 1;
};

// A value with the place it came from.
struct TValue {
  TPropValue Value;
  std::string Word;  // the value as written
  int Line = 0;
};

bool IsKeyword(const TToken& t, const char* word) { return t.kind == TToken::Kind::Ident && SameText(t.Text, word); }

std::string HandlerSignature(const std::type_index& type) {
  // std::function<void (TObject*, unsigned short)> reads better as (TObject*, unsigned short).
  std::string s = tarvo_typinfo::TypeNameOf(type);
  std::size_t open = s.find('(');
  std::size_t close = s.rfind(')');
  if (open != std::string::npos && close != std::string::npos && close > open) return s.substr(open, close - open + 1);
  return s;
}

class TFormReader {
 public:
  TFormReader(TComponent* root, const std::string& text, const std::string& formName)
      : FRoot(root), FText(text), FFail(formName) {}

  void Read() {
    FRootState = FRoot->ComponentState();
    for (int i = 0; i < FRoot->ComponentCount(); ++i) FBefore.push_back(FRoot->Components(i));
    FRoot->SetComponentStateFlag(csLoading, true);
    FRoot->SetComponentStateFlag(csReading, true);
    try {
      FTokens = TLexer(FText, FFail).Tokens();
      ReadRoot();
      Finish();
    } catch (...) {
      Undo();
      throw;
    }
  }

 private:
  const TToken& Peek() const { return FTokens[FPos]; }
  const TToken& Take() {
    const TToken& t = FTokens[FPos];
    if (t.kind != TToken::Kind::End) ++FPos;
    return t;
  }
  [[noreturn]] void Expected(const char* what, const TToken& found) {
    std::string word = found.kind == TToken::Kind::End ? std::string("the end of the text") : Quoted(found.Text);
    FFail.At(found.Line, std::string("expected ") + what + " but found " + word);
  }
  const TToken& TakeIdent(const char* what) {
    if (Peek().kind != TToken::Kind::Ident) Expected(what, Peek());
    return Take();
  }
  void TakeSymbol(char symbol) {
    const TToken& t = Peek();
    if (t.kind != TToken::Kind::Symbol || t.Text[0] != symbol) {
      std::string what = std::string("\"") + symbol + "\"";
      Expected(what.c_str(), t);
    }
    Take();
  }
  bool AtSymbol(char symbol) const { return Peek().kind == TToken::Kind::Symbol && Peek().Text[0] == symbol; }

  void ReadRoot() {
    if (!IsKeyword(Peek(), "object")) Expected("\"object\"", Peek());
    Take();
    const TToken& name = TakeIdent("the form's name");
    TakeSymbol(':');
    const TToken& cls = TakeIdent("the form's class");
    bool fits = false;
    for (const TClassInfo* c = &FRoot->ClassInfo(); c != nullptr && !fits; c = c->Parent())
      fits = SameText(c->Name(), cls.Text);
    if (!fits)
      FFail.At(cls.Line, "the description is of class " + Quoted(cls.Text) + " but is read into " +
                             FRoot->ClassName());
    if (FRoot->Name().empty()) {
      try {
        FRoot->SetName(name.Text);
      } catch (const Exception& e) {
        FFail.At(name.Line, "invalid form name " + Quoted(name.Text) + ": " + e.Message());
      }
      FUndo.emplace_back([this] { FRoot->SetName(""); });
    }
    FLines.push_back(name.Line);
    ReadBody(FRoot, 0);
    if (Peek().kind != TToken::Kind::End) FFail.At(Peek().Line, "text after the form's end: " + Quoted(Peek().Text));
    // Every component that the form's code holds in a published field must be in the description.
    for (const TFieldInfo* f : FRoot->ClassInfo().Fields()) {
      bool filled = false;
      for (const TFieldInfo* done : FFilledFields) filled = filled || done == f;
      if (!filled)
        FFail.At(FEndLine, "no component " + Quoted(f->Name) + " for the field of " + FRoot->ClassName() +
                               " that holds a " + f->TypeName);
    }
  }

  void ReadBody(TComponent* component, int depth) {
    for (;;) {
      const TToken& t = Peek();
      if (IsKeyword(t, "end")) {
        FEndLine = t.Line;
        Take();
        return;
      }
      if (IsKeyword(t, "object")) {
        Take();
        ReadObject(component, depth + 1);
      } else if (t.kind == TToken::Kind::Ident) {
        ReadProperty(component);
      } else if (t.kind == TToken::Kind::End) {
        FFail.At(t.Line, "missing \"end\" of object " + Quoted(component->Name()));
      } else {
        Expected("a property name, \"object\" or \"end\"", t);
      }
    }
  }

  void ReadObject(TComponent* parent, int depth) {
    const TToken& name = TakeIdent("a component name");
    TakeSymbol(':');
    const TToken& cls = TakeIdent("a class name");
    if (depth > kMaxDepth) FFail.At(name.Line, "objects nested too deeply at " + Quoted(name.Text));
    const TClassInfo* info = FindClass(cls.Text);
    if (info == nullptr) FFail.At(cls.Line, "unknown class " + Quoted(cls.Text));
    if (!info->Creatable())
      FFail.At(cls.Line, "class " + Quoted(cls.Text) + " cannot be created from a description");
    TComponent* component = nullptr;
    try {
      component = info->Create(FRoot);
    } catch (const Exception& e) {
      FFail.At(cls.Line, "cannot create " + Quoted(cls.Text) + ": " + e.Message());
    }
    FCreated.push_back(component);
    FLines.push_back(name.Line);
    component->SetComponentStateFlag(csLoading, true);
    component->SetComponentStateFlag(csReading, true);
    try {
      component->SetName(name.Text);
    } catch (const Exception& e) {
      FFail.At(name.Line, "invalid component name " + Quoted(name.Text) + ": " + e.Message());
    }
    if (const TFieldInfo* field = FRoot->ClassInfo().FindField(name.Text)) {
      if (!field->Assign(FRoot, component))
        FFail.At(name.Line, "component " + Quoted(name.Text) + " is a " + component->ClassName() + ", but " +
                                FRoot->ClassName() + "." + field->Name + " holds a " + field->TypeName);
      FFilledFields.push_back(field);
    }
    try {
      component->SetParentComponent(parent);
    } catch (const Exception& e) {
      FFail.At(name.Line, "cannot place " + Quoted(name.Text) + " inside " + Quoted(parent->Name()) + ": " +
                              e.Message());
    }
    ReadBody(component, depth);
  }

  void ReadProperty(TComponent* component) {
    const TToken& first = Take();
    std::string path = first.Text;
    std::vector<std::string> parts{first.Text};
    while (AtSymbol('.')) {
      Take();
      const TToken& part = TakeIdent("a property name after \".\"");
      parts.push_back(part.Text);
      path += "." + part.Text;
    }
    TakeSymbol('=');
    TValue value = ReadValue();
    Assign(component, parts, path, first.Line, value);
  }

  TValue ReadValue() {
    TValue v;
    const TToken& t = Peek();
    v.Line = t.Line;
    std::size_t begin = t.Begin;
    switch (t.kind) {
      case TToken::Kind::String:
      case TToken::Kind::Char:
        v.Value.kind = TPropValue::Kind::String;
        v.Value.Str = ReadString();
        break;
      case TToken::Kind::Integer:
        v.Value.kind = TPropValue::Kind::Integer;
        v.Value.Int = Take().Int;
        break;
      case TToken::Kind::Float:
        v.Value.kind = TPropValue::Kind::Float;
        v.Value.Float = Take().Float;
        break;
      case TToken::Kind::Ident:
        if (IsKeyword(t, "end") || IsKeyword(t, "object")) Expected("a value", t);
        if (IsKeyword(t, "True") || IsKeyword(t, "False")) {
          v.Value.kind = TPropValue::Kind::Boolean;
          v.Value.Bool = IsKeyword(t, "True");
        } else {
          v.Value.kind = TPropValue::Kind::Identifier;
          v.Value.Str = t.Text;
        }
        Take();
        break;
      case TToken::Kind::Symbol:
        if (AtSymbol('[')) {
          Take();
          v.Value.kind = TPropValue::Kind::Set;
          if (!AtSymbol(']')) {
            v.Value.Items.push_back(TakeIdent("a set member").Text);
            while (AtSymbol(',')) {
              Take();
              v.Value.Items.push_back(TakeIdent("a set member").Text);
            }
          }
          TakeSymbol(']');
          break;
        }
        if (AtSymbol('(')) {
          Take();
          v.Value.kind = TPropValue::Kind::StringList;
          while (!AtSymbol(')')) {
            if (Peek().kind != TToken::Kind::String && Peek().kind != TToken::Kind::Char)
              Expected("a string or \")\"", Peek());
            v.Value.Items.push_back(ReadString());
          }
          Take();
          break;
        }
        Expected("a value", t);
      case TToken::Kind::End:
        Expected("a value", t);
    }
    v.Value.Line = v.Line;
    std::size_t end = FTokens[FPos - 1].End;
    v.Word = FText.substr(begin, end - begin);
    return v;
  }

  // Pieces written directly next to each other join ('a'#13#10'b'), and + joins across blanks and lines. A blank
  // alone ends the string, so that the items of a list ('a' 'b') stay apart.
  std::string ReadString() {
    std::string s;
    for (;;) {
      const TToken& piece = Take();
      s += piece.Str;
      const TToken& next = Peek();
      if ((next.kind == TToken::Kind::String || next.kind == TToken::Kind::Char) && next.Begin == piece.End) continue;
      if (AtSymbol('+')) {
        Take();
        if (Peek().kind != TToken::Kind::String && Peek().kind != TToken::Kind::Char)
          Expected("a string after \"+\"", Peek());
        continue;
      }
      return s;
    }
  }

  void Assign(TComponent* component, const std::vector<std::string>& parts, const std::string& path, int line,
              const TValue& value) {
    const bool onRoot = component == FRoot;
    const std::string owner = component->ClassName();
    TObject* target = component;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      const TPropInfo* prop = target->ClassInfo().FindProperty(parts[i]);
      if (prop == nullptr) FFail.At(line, "unknown property " + Quoted(path) + " of " + owner);
      if (!prop->Object)
        FFail.At(line, "unknown property " + Quoted(path) + " of " + owner + " (" + parts[i] + " has no members)");
      target = prop->Object(target);
      if (target == nullptr) FFail.At(line, "property " + Quoted(path) + " of " + owner + " has no object");
    }
    const std::string& last = parts.back();
    if (const TPropInfo* prop = target->ClassInfo().FindProperty(last)) {
      if (!prop->Write) FFail.At(line, "property " + Quoted(path) + " of " + owner + " is read-only");
      if (onRoot && prop->Read) {
        TPropValue old = prop->Read(target);
        FUndo.emplace_back([prop, target, old] { prop->Write(target, old); });
      }
      try {
        prop->Write(target, value.Value);
      } catch (const Exception& e) {
        FFail.At(value.Line, "invalid value " + Quoted(value.Word) + " for property " + Quoted(path) + " of " +
                                 owner + ": " + e.Message());
      }
      return;
    }
    if (const TEventInfo* event = target->ClassInfo().FindEvent(last)) {
      if (value.Value.kind != TPropValue::Kind::Identifier)
        FFail.At(value.Line, "event " + Quoted(path) + " of " + owner + " takes the name of a handler, not " +
                                 Quoted(value.Word));
      const TMethodInfo* method = FRoot->ClassInfo().FindMethod(value.Value.Str);
      if (method == nullptr)
        FFail.At(value.Line, "unknown handler " + Quoted(value.Word) + " of " + FRoot->ClassName());
      if (method->Type != event->Type)
        FFail.At(value.Line, "handler " + Quoted(value.Word) + " " + HandlerSignature(method->Type) +
                                 " does not fit event " + Quoted(path) + " of " + owner + " " +
                                 HandlerSignature(event->Type));
      if (onRoot && event->Read) {
        std::any old = event->Read(target);
        FUndo.emplace_back([event, target, old] { event->Write(target, old); });
      }
      try {
        event->Write(target, method->Bind(FRoot));
      } catch (const Exception& e) {
        FFail.At(value.Line, "handler " + Quoted(value.Word) + " does not fit event " + Quoted(path) + " of " +
                                 owner + ": " + e.Message());
      }
      return;
    }
    FFail.At(line, "unknown property " + Quoted(path) + " of " + owner);
  }

  void Finish() {
    FRoot->SetComponentStateFlag(csReading, false);
    for (TComponent* c : FCreated) c->SetComponentStateFlag(csReading, false);
    for (std::size_t i = 0; i <= FCreated.size(); ++i) {
      TComponent* c = i < FCreated.size() ? FCreated[i] : FRoot;  // the root last: its parts are ready by then
      int line = i < FCreated.size() ? FLines[i + 1] : FLines[0];
      try {
        c->Loaded();
      } catch (const Exception& e) {
        FFail.At(line, "loading " + Quoted(c->Name()) + " failed: " + e.Message());
      }
      c->SetComponentStateFlag(csLoading, false);
    }
  }

  void Undo() {
    for (const TFieldInfo* f : FFilledFields) f->Clear(FRoot);
    // Everything the root owns now and did not own before goes, last created first: the components the reader
    // created and any that their constructors added to the root.
    for (int i = FRoot->ComponentCount(); i-- > 0;) {
      if (i >= FRoot->ComponentCount()) continue;  // a destructor took more than one with it
      TComponent* c = FRoot->Components(i);
      bool before = false;
      for (TComponent* b : FBefore) before = before || b == c;
      if (!before) delete c;
    }
    for (std::size_t i = FUndo.size(); i-- > 0;) {
      try {
        FUndo[i]();
      } catch (...) {
        // Putting an old value back is the best that can be done; the load's own error is what is reported.
      }
    }
    FRoot->SetComponentStateFlag(csLoading, (FRootState & csLoading) != 0);
    FRoot->SetComponentStateFlag(csReading, (FRootState & csReading) != 0);
  }

  TComponent* FRoot;
  const std::string& FText;
  TFailure FFail;
  std::vector<TToken> FTokens;
  std::size_t FPos = 0;
  TComponentState FRootState = 0;
  int FEndLine = 0;
  std::vector<TComponent*> FBefore;   // what the root owned before the load
  std::vector<TComponent*> FCreated;
  std::vector<int> FLines;  // header line of the root, then of each created component
  std::vector<const TFieldInfo*> FFilledFields;
  std::vector<std::function<void()>> FUndo;
};

}  // namespace

void ReadComponentText(TComponent* root, const std::string& text, const std::string& formName) {
  if (root == nullptr) throw EReadError(formName + ": no component to read the description into");
  TFormReader(root, text, formName).Read();
}

std::string DescribedClassName(std::string_view text) {
  const std::string copy(text);
  TFailure fail("");
  TLexer lexer(copy, fail);
  // The header alone is read: what follows is the reader's to judge, with its messages, when the form is made.
  try {
    const TToken object = lexer.Next();
    const TToken name = lexer.Next();
    const TToken colon = lexer.Next();
    const TToken cls = lexer.Next();
    if (!IsKeyword(object, "object") || name.kind != TToken::Kind::Ident || colon.kind != TToken::Kind::Symbol ||
        colon.Text != ":" || cls.kind != TToken::Kind::Ident)
      return {};
    return cls.Text;
  } catch (const EReadError&) {
    return {};
  }
}
