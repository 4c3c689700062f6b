// JSON text: writing generic values (compact or pretty) and reading JSON into generic values, on
// top of RapidJSON's SAX reader and writers; plus the walk that every value writer is driven by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/BindingProperty.h"

namespace vyn::binding {
class BindingRegistry;
}

namespace vyn::formats {

// The callbacks of VisitValue, in the order of their table of virtual operations. Each returns a
// success flag, which VisitValue does not look at. Every operation does nothing by default, so a
// visitor overrides only what it needs. Texts and bytes are borrowed for the call; the data of
// every text is NUL-terminated.
class ValueVisitor {
 public:
  virtual bool VisitEmpty() { return true; }
  virtual bool VisitBool(bool /*value*/) { return true; }
  virtual bool VisitSigned(int64_t /*value*/) { return true; }
  virtual bool VisitUnsigned(uint64_t /*value*/) { return true; }
  virtual bool VisitFloat(double /*value*/) { return true; }
  virtual bool VisitString(std::string_view /*text*/) { return true; }
  virtual bool VisitBlob(std::span<const uint8_t> /*bytes*/) { return true; }
  virtual bool VisitEnum(const binding::BindingEnum& /*value*/) { return true; }
  virtual bool BeginCollection(uint32_t /*count*/) { return true; }
  virtual bool BeginElement(uint32_t /*index*/) { return true; }
  virtual bool EndElement(uint32_t /*index*/) { return true; }
  virtual bool EndCollection() { return true; }
  virtual bool BeginStructure(uint32_t /*count*/) { return true; }
  virtual bool BeginMember(std::string_view /*name*/) { return true; }
  virtual bool EndMember(std::string_view /*name*/) { return true; }
  virtual bool EndStructure() { return true; }
  virtual ~ValueVisitor() = default;
};

// Walks a value depth-first: scalars get their Visit operation; a collection gets
// BeginCollection(count), then BeginElement(i), the element, EndElement(i) for each element, then
// EndCollection; a structure the same with BeginStructure(count), BeginMember(name) and
// EndMember(name) in ascending byte order of the names, then EndStructure. A node of an unknown
// kind produces no call. The walk keeps its own stack, so any depth is safe.
void VisitValue(const binding::BindingProperty& value, ValueVisitor& visitor);

// The value as JSON text. An empty value gives the empty text (an empty value inside a container
// is null). A null or empty newline selects the compact form; any other newline selects the pretty
// form (4-blank indentation, ": " after names) with every line break written as `newline`. Blobs
// are written as Base64 strings; an enum is its enumerator's name when the registry (may be null)
// knows one, else its number. A float that is not finite (NaN, infinities) has no JSON form and
// is written as null, so the text stays valid JSON.
std::string ToJson(const binding::BindingProperty& value, const binding::BindingRegistry* registry,
                   const char* newline);
// The same into `out`, giving up as soon as the text passes `maxBytes`: false, with `out`
// unspecified. For trees from outside, whose pretty form outgrows them with every level of
// nesting, so that writing one costs no more than the bound.
[[nodiscard]] bool ToJson(const binding::BindingProperty& value,
                          const binding::BindingRegistry* registry, const char* newline,
                          std::size_t maxBytes, std::string& out);

// The deepest nesting of arrays and objects ParseJson accepts (the root container is level 1).
// The reader recurses once per level (a few hundred bytes of stack each in a debug build) and
// value trees are released and converted recursively, so the limit, far above any real document,
// keeps a call within a few hundred KB of whatever stack the host's thread has. A deeper text is
// refused: its opening bracket fails as a handler error (code 16, "Terminate parsing due to
// Handler error.", at the offset just after that bracket).
inline constexpr std::size_t kMaxJsonDepth = 1000;

// Reads one JSON text with RapidJSON's default rules into a value. Text that is empty or only
// blanks, tabs, line feeds and carriage returns gives an empty value with ok set. Integers without
// a minus sign become unsigned, with one signed ("-0" is signed 0), other numbers float; a member
// named twice keeps its last value. A syntax error fails the result with
// "Error: <RapidJSON's text for the code> at offset <byte offset>." and discards the value.
//
// Strings and member names must be well-formed UTF-8 once decoded, in the same form: a byte
// sequence in the text that is not (overlong, surrogate, above U+10FFFF, cut short, a stray
// continuation byte) fails as code 12, "Invalid encoding in string.", at the offset of its first
// byte, as RapidJSON's own encoding check reports it; a \u escape of a surrogate that is not half
// of a pair fails as code 9, "The surrogate pair in string is invalid.", at the offset of its
// backslash: RapidJSON reports a high surrogate without a low one itself, and a lone low surrogate
// (\uDC00 to \uDFFF), which it would encode on its own, is reported here the same way. Each
// decoded text is checked once, eight ASCII bytes at a time, rather than by RapidJSON's encoding
// check, which costs about a third of the reading time. A text that ends inside a string is
// refused as before, as a missing closing quotation mark.
//
// The NUL-terminated form ends at the first NUL and treats a null text as empty. The forms with a
// length read exactly `length` bytes and never past them. A NUL byte among them ends the text
// when only NUL bytes follow it (a length that counted a terminator); anything else after a NUL
// fails as a value after the root (code 2) at the offset of that NUL, instead of being dropped
// unseen. A null text with a length is read as empty.
[[nodiscard]] binding::BindingResult ParseJson(const char* text);
[[nodiscard]] binding::BindingResult ParseJson(const char* text, std::size_t length);
[[nodiscard]] binding::BindingResult ParseJson(const std::string& text);
// The same as the form with a length, for a text with a NUL at `length` (a string's, or the one a
// host puts after a request body): that NUL ends the reading, which then needs no check of the
// length at every byte it takes.
[[nodiscard]] binding::BindingResult ParseTerminatedJson(const char* text, std::size_t length);

// True when the first byte that is not a blank (only " " is skipped) is "{" or "[": how a body
// without a content type is recognised as JSON.
bool LooksLikeJson(std::string_view text) noexcept;

}  // namespace vyn::formats
