// Type-safe positional formatting ("%1", "%2$05d", "%s") for every message and URL the plugin
// builds, the bounded printf engine under it and the log entry, and the placeholder reader that
// message templates share.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "diagnostics/VersionText.h"
#include "platform/PrintfFormat.h"

namespace vyn::diagnostics {

// Bounded vsnprintf. Returns the bytes written (terminator excluded), or -1 when the output did
// not fit or could not be produced; the buffer is NUL-terminated either way when size > 0
// (a failed conversion leaves it empty). A null buffer or size 0 gives -1.
int PrintfToBuffer(char* buffer, std::size_t size, const char* format, va_list args)
    VYN_PRINTF_FORMAT(3, 0);
// The same with the arguments at the call. A name of its own, not an overload: where va_list is
// a plain pointer, a single text or null argument would select the va_list form.
int BufferPrintf(char* buffer, std::size_t size, const char* format, ...)
    VYN_PRINTF_FORMAT(3, 4);

// FormatText writes into a stack buffer of this size, so a message is at most 4095 bytes.
inline constexpr std::size_t kFormatBufferSize = 4096;
// Room for one printf specification ("%-08.3lld"), terminator included; a longer one ends the
// formatting, which bounds the work on hostile formats.
inline constexpr std::size_t kFormatSpecSize = 60;

// One placeholder as read from a format text. Its printf conversion holds "%", flags, width,
// precision, length modifier and conversion letter as written; "n$" and "*m$" argument numbers
// are taken out, since each piece is printed on its own.
struct FormatPlaceholder {
  char spec[kFormatSpecSize] = {};
  std::size_t specLength = 0;
  std::size_t bodyLength = 0;       // spec bytes before the length modifier
  std::size_t precisionStart = 0;   // index of "." in spec, or bodyLength without a precision
  char letter = '\0';               // conversion letter as written; '\0' when there is none
  std::size_t argument = 0;         // 1-based number of the argument printed
  bool positional = false;          // named by "%n" or "%n$" (the sequential counter stays)
  std::size_t starArguments[2] = {};  // 1-based arguments of "*" width, then "*" precision
  std::size_t starCount = 0;
  std::size_t length = 0;  // bytes of the format text spanned, "%" included
  bool tooLong = false;    // the conversion outgrew kFormatSpecSize; formatting must end
};

// Reads the placeholder at the start of text (text[0] is "%", and it is not "%%").
// argumentCount decides whether "%5d" names argument 5 or is a width of 5 (a "%5" followed by no
// conversion letter still names argument 5, which is then missing); nextSequential is the
// caller's counter of the next sequential argument (starting at 1) and advances for each
// sequential "*" and for a placeholder without an argument number. Numbers that name no argument
// (beyond argumentCount, or 0) are reported as they are; the caller refuses them.
void ParseFormatPlaceholder(std::string_view text, std::size_t argumentCount,
                            std::size_t& nextSequential, FormatPlaceholder& placeholder);

// How one argument type is printed. print writes the piece for one placeholder into out (size
// bytes, terminator included) and returns PrintfToBuffer's result; starValues hold the resolved
// "*" values, width first. toInt gives the value as a 32-bit signed integer for a "*" (0 for
// non-integer kinds); isInteger says whether the kind may serve as a "*" at all.
struct FormatArgKind {
  int (*print)(char* out, std::size_t size, const FormatPlaceholder& placeholder,
               const int* starValues, const void* value);
  int32_t (*toInt)(const void* value);
  bool isInteger;
};

// An argument: its value (borrowed for the call) and the constant descriptor of its type.
struct FormatArg {
  const void* value;
  const FormatArgKind* kind;
};

// One descriptor per argument type. The value pointer points at an object of exactly that type.
extern const FormatArgKind kFormatKindInt;               // int: "dciouxX"
extern const FormatArgKind kFormatKindUnsigned;          // unsigned: "ucdioxX"
// long and unsigned long are 64 bits on LP64, so the 32-bit "unsigned long" kind of other
// platforms has no type of its own here; both print with "l" as 64-bit values.
extern const FormatArgKind kFormatKindLong;              // "dciouxX" + "l"
extern const FormatArgKind kFormatKindUnsignedLong;      // "ucdioxX" + "l"
extern const FormatArgKind kFormatKindLongLong;          // "dciouxX" + "ll"
extern const FormatArgKind kFormatKindUnsignedLongLong;  // "ucdioxX" + "ll"
// Narrow integers are numbers (an int8_t prints as 65, not as "A"); only char is a character.
extern const FormatArgKind kFormatKindSignedChar;
extern const FormatArgKind kFormatKindUnsignedChar;
extern const FormatArgKind kFormatKindShort;
extern const FormatArgKind kFormatKindUnsignedShort;
extern const FormatArgKind kFormatKindChar;     // "cdiouxX", sign-extended to int
extern const FormatArgKind kFormatKindDouble;   // "gaefGAEF"
extern const FormatArgKind kFormatKindFloat;    // widened to double
extern const FormatArgKind kFormatKindCString;  // const char* or char*: "s", null prints "(null)"
extern const FormatArgKind kFormatKindString;   // std::string: "s"
extern const FormatArgKind kFormatKindStringView;  // std::string_view: "s", need not end in NUL
extern const FormatArgKind kFormatKindVersion;     // PluginApiVersion: "s", VersionText
extern const FormatArgKind kFormatKindPluginType;  // PluginType: "s", "type:detail"

// The non-template engine. args may be null when count is 0. Never throws for format problems
// and never reads an argument outside the list: an argument number beyond it, a "*" on a
// non-integer argument, an over-long specification or a full buffer end the formatting, and the
// text produced so far is returned.
std::string FormatTextV(const char* format, const FormatArg* args, std::size_t count);

namespace format_internal {

template <typename T>
inline constexpr bool kAlwaysFalse = false;

int PrintCharArray(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                   const int* starValues, const char* text, std::size_t capacity);
int32_t ToIntZero(const void* value);

// A char array is read up to its first NUL or its end, whichever comes first.
template <std::size_t N>
int PrintCharArrayOf(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                     const int* starValues, const void* value) {
  return PrintCharArray(out, size, placeholder, starValues, static_cast<const char*>(value), N);
}

template <std::size_t N>
inline constexpr FormatArgKind kCharArrayKind{&PrintCharArrayOf<N>, &ToIntZero, false};

template <typename T>
const FormatArgKind* KindOf() {
  if constexpr (std::is_same_v<T, bool>) {
    static_assert(kAlwaysFalse<T>, "FormatText has no bool kind: pass \"true\" or \"false\"");
    return nullptr;
  } else if constexpr (std::is_same_v<T, int>) {
    return &kFormatKindInt;
  } else if constexpr (std::is_same_v<T, unsigned>) {
    return &kFormatKindUnsigned;
  } else if constexpr (std::is_same_v<T, long>) {
    return &kFormatKindLong;
  } else if constexpr (std::is_same_v<T, unsigned long>) {
    return &kFormatKindUnsignedLong;
  } else if constexpr (std::is_same_v<T, long long>) {
    return &kFormatKindLongLong;
  } else if constexpr (std::is_same_v<T, unsigned long long>) {
    return &kFormatKindUnsignedLongLong;
  } else if constexpr (std::is_same_v<T, signed char>) {
    return &kFormatKindSignedChar;
  } else if constexpr (std::is_same_v<T, unsigned char>) {
    return &kFormatKindUnsignedChar;
  } else if constexpr (std::is_same_v<T, short>) {
    return &kFormatKindShort;
  } else if constexpr (std::is_same_v<T, unsigned short>) {
    return &kFormatKindUnsignedShort;
  } else if constexpr (std::is_same_v<T, char>) {
    return &kFormatKindChar;
  } else if constexpr (std::is_same_v<T, double>) {
    return &kFormatKindDouble;
  } else if constexpr (std::is_same_v<T, float>) {
    return &kFormatKindFloat;
  } else if constexpr (std::is_same_v<T, const char*> || std::is_same_v<T, char*>) {
    return &kFormatKindCString;
  } else if constexpr (std::is_same_v<T, std::string>) {
    return &kFormatKindString;
  } else if constexpr (std::is_same_v<T, std::string_view>) {
    return &kFormatKindStringView;
  } else if constexpr (std::is_same_v<T, PluginApiVersion>) {
    return &kFormatKindVersion;
  } else if constexpr (std::is_same_v<T, PluginType>) {
    return &kFormatKindPluginType;
  } else if constexpr (std::is_array_v<T> &&
                       std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char>) {
    return &kCharArrayKind<std::extent_v<T>>;
  } else {
    static_assert(kAlwaysFalse<T>,
                  "FormatText has no kind for this argument type: pass a number, a char or text");
    return nullptr;
  }
}

template <typename T>
FormatArg MakeFormatArg(const T& value) {
  return FormatArg{static_cast<const void*>(&value), KindOf<std::remove_cv_t<T>>()};
}

}  // namespace format_internal

// Formats with numbered ("%1", "%2$x") and sequential ("%s", "%*d") placeholders over typed
// arguments; each placeholder's conversion letter is corrected to one its argument's kind
// accepts, so a placeholder can never read an argument as another type. The result is at most
// 4095 bytes. Arguments are borrowed for the call only.
template <typename... Args>
std::string FormatText(const char* format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return FormatTextV(format, nullptr, 0);
  } else {
    const FormatArg list[] = {format_internal::MakeFormatArg(args)...};
    return FormatTextV(format, list, sizeof...(Args));
  }
}

}  // namespace vyn::diagnostics
