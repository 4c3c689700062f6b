// Percent-encoding for outgoing URLs, percent-decoding for incoming paths and queries, and the
// split of a query into named values.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace vyn::routing {

// Name -> decoded value. Ordered by name, so that binding visits query arguments, and reports
// the first bad one, in the same order on every call.
using QueryParameters = std::map<std::string, std::string, std::less<>>;

// Keeps "A"-"Z", "a"-"z", "0"-"9", "-", "_", ".", "~"; every other byte becomes "%XX" with
// upper-case hexadecimal digits. Works on bytes, so UTF-8 is encoded byte by byte.
std::string PercentEncode(std::string_view text);

// "+" becomes a blank and "%XY" one byte. Never fails:
// - a "%" with fewer than two characters after it is dropped (the characters are kept);
// - a digit that is not hexadecimal counts as 16, and the byte is the low eight bits of
//   first * 16, OR second; the escape still consumes three characters.
// The result may hold any byte, NUL included.
std::string PercentDecode(std::string_view text);

// The part of a path after its first "?"; empty when there is none.
std::string_view QueryText(std::string_view path);

// Splits a query text (without the "?") at "&"; each item splits at its first "=" into name and
// value, an item without "=" is a name with an empty value. Names and values are decoded; a
// later item overwrites an earlier one of the same name. Empty items ("a=1&&b", a trailing
// "&") name nothing and are skipped.
QueryParameters ParseQuery(std::string_view query);

}  // namespace vyn::routing
