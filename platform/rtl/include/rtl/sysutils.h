// Exceptions, message formatting and the small text routines that the socket component, the toolkit and the
// programs share. No Qt. Everything here is safe to call from any thread.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <variant>

// One argument of a format: a text (for %s) or a decimal integer (for %d).
using TVarRec = std::variant<std::string, std::int64_t>;

// Formats fmt with %s (text) and %d (signed decimal) placeholders, %% for a percent sign. A placeholder whose
// argument is missing or of the other kind raises EConvertError with a clear message; extra arguments are ignored.
std::string Format(const std::string& fmt, std::initializer_list<TVarRec> args);

// The class library's base exception: it carries a message and nothing else.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message);
  // Built from a format and its arguments, as Format formats them.
  Exception(const std::string& fmt, std::initializer_list<TVarRec> args);
  ~Exception() override;
  const std::string& Message() const { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  const char* what() const noexcept override { return FMessage.c_str(); }
  // The most derived class name, for messages that name the exception's class.
  virtual const char* ClassName() const { return "Exception"; }

 private:
  std::string FMessage;
};

// Declares an exception class that adds nothing but its name.
#define TARVO_DECLARE_EXCEPTION(Name, Base)                             \
  class Name : public Base {                                            \
   public:                                                              \
    using Base::Base;                                                   \
    const char* ClassName() const override { return #Name; }            \
  }

TARVO_DECLARE_EXCEPTION(EConvertError, Exception);
TARVO_DECLARE_EXCEPTION(EListError, Exception);
TARVO_DECLARE_EXCEPTION(EStreamError, Exception);
TARVO_DECLARE_EXCEPTION(EFCreateError, EStreamError);
TARVO_DECLARE_EXCEPTION(EFOpenError, EStreamError);
TARVO_DECLARE_EXCEPTION(EReadError, EStreamError);
TARVO_DECLARE_EXCEPTION(EClassNotFound, Exception);
TARVO_DECLARE_EXCEPTION(EPropertyError, Exception);
TARVO_DECLARE_EXCEPTION(EOutOfResources, Exception);

std::string IntToStr(std::int64_t value);
// Decimal text, optional sign, surrounding blanks allowed; anything else raises EConvertError.
std::int32_t StrToInt(const std::string& text);
std::int32_t StrToIntDef(const std::string& text, std::int32_t def);
std::string UpperCase(const std::string& s);   // ASCII letters only; other bytes unchanged
std::string LowerCase(const std::string& s);
int CompareText(const std::string& a, const std::string& b);  // ASCII case-insensitive; <0, 0, >0
bool SameText(const std::string& a, const std::string& b);
std::string Trim(const std::string& s);
// The current local time in the long time format of the user's locale (LC_ALL, LC_TIME or LANG, as the
// environment names it): 14:03:27 in the C locale (and when the named locale is not installed), 02:03:27 PM in
// en_US.
std::string TimeToStr();
