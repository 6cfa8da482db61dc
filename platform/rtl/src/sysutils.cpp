// Exceptions, Format and the small text routines of sysutils.h.
#include "rtl/sysutils.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

Exception::Exception(std::string message) : FMessage(std::move(message)) {}

Exception::Exception(const std::string& fmt, std::initializer_list<TVarRec> args) : FMessage(Format(fmt, args)) {}

Exception::~Exception() = default;

namespace {

[[noreturn]] void RaiseFormatError(const std::string& fmt, std::size_t argIndex, const char* problem) {
  throw EConvertError("Format \"" + fmt + "\": argument " + std::to_string(argIndex + 1) + " " + problem);
}

}  // namespace

std::string Format(const std::string& fmt, std::initializer_list<TVarRec> args) {
  std::string out;
  out.reserve(fmt.size() + 16);
  const TVarRec* arg = args.begin();
  std::size_t used = 0;
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 >= fmt.size()) throw EConvertError("Format \"" + fmt + "\": a lone % at the end");
    char kind = fmt[++i];
    if (kind == '%') {
      out += '%';
      continue;
    }
    if (kind != 's' && kind != 'd')
      throw EConvertError("Format \"" + fmt + "\": unknown placeholder %" + std::string(1, kind));
    if (used >= args.size()) RaiseFormatError(fmt, used, "is missing");
    const TVarRec& a = arg[used];
    if (kind == 's') {
      const auto* s = std::get_if<std::string>(&a);
      if (s == nullptr) RaiseFormatError(fmt, used, "is not a text (%s)");
      out += *s;
    } else {
      const auto* n = std::get_if<std::int64_t>(&a);
      if (n == nullptr) RaiseFormatError(fmt, used, "is not an integer (%d)");
      out += std::to_string(*n);
    }
    ++used;
  }
  return out;
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

namespace {

bool ParseInt(const std::string& text, std::int32_t& result) {
  std::string t = Trim(text);
  if (t.empty()) return false;
  std::size_t i = 0;
  bool negative = false;
  if (t[0] == '+' || t[0] == '-') {
    negative = t[0] == '-';
    i = 1;
  }
  if (i >= t.size()) return false;
  std::int64_t value = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    value = value * 10 + (t[i] - '0');
    if (value > static_cast<std::int64_t>(INT32_MAX) + 1) return false;
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  result = static_cast<std::int32_t>(value);
  return true;
}

}  // namespace

std::int32_t StrToInt(const std::string& text) {
  std::int32_t result = 0;
  if (!ParseInt(text, result)) throw EConvertError("'" + text + "' is not a valid integer value");
  return result;
}

std::int32_t StrToIntDef(const std::string& text, std::int32_t def) {
  std::int32_t result = 0;
  return ParseInt(text, result) ? result : def;
}

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

int CompareText(const std::string& a, const std::string& b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 'a' + 'A');
    if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 'a' + 'A');
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(const std::string& a, const std::string& b) { return a.size() == b.size() && CompareText(a, b) == 0; }

std::string Trim(const std::string& s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && static_cast<unsigned char>(s[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(s[end - 1]) <= ' ') --end;
  return s.substr(begin, end - begin);
}

namespace {

// The time locale that the environment names, made again only when the environment changes: a new one per call
// would cost a look-up each time (and glibc loses a little memory with each while LOCPATH is set).
std::mutex gTimeLocaleLock;
locale_t gTimeLocale = static_cast<locale_t>(nullptr);
std::string gTimeLocaleNames = "\x01";  // matches no environment

std::string TimeLocaleNames() {
  std::string names;
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG", "LOCPATH"}) {
    const char* value = std::getenv(variable);
    names += value != nullptr ? value : "";
    names += '\n';
  }
  return names;
}

}  // namespace

std::string TimeToStr() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // The locale that the environment names for times, whatever the program's own C locale is: the user's
  // setting, as the rest of the desktop shows it.
  char buf[128];
  std::size_t n = 0;
  {
    std::lock_guard<std::mutex> guard(gTimeLocaleLock);
    std::string names = TimeLocaleNames();
    if (names != gTimeLocaleNames) {
      if (gTimeLocale != static_cast<locale_t>(nullptr)) freelocale(gTimeLocale);
      gTimeLocale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
      gTimeLocaleNames = std::move(names);
    }
    if (gTimeLocale != static_cast<locale_t>(nullptr)) {
      n = strftime_l(buf, sizeof buf, "%X", &local, gTimeLocale);
      // Texts are UTF-8 here; a time in another character set would show garbled, the plain format does not.
      if (std::strcmp(nl_langinfo_l(_NL_TIME_CODESET, gTimeLocale), "UTF-8") != 0)
        for (std::size_t i = 0; i < n; ++i)
          if (static_cast<unsigned char>(buf[i]) >= 0x80) n = 0;
    }
  }
  if (n == 0) n = std::strftime(buf, sizeof buf, "%H:%M:%S", &local);
  return std::string(buf, n);
}
