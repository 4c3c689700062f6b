// PascalCase identifiers from a prefix and a path.
#include "routing/MakeIdentifier.h"

namespace vyn::routing {
namespace {

// ASCII only: the locale must not decide what a function is called.
char ToUpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char ToLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSeparator(char c) {
  return c == '!' || c == '+' || c == '-' || c == '.' || c == '/' || c == '_';
}

}  // namespace

std::string MakeIdentifier(std::string_view prefix, std::string_view path) {
  std::string source;
  source.reserve(prefix.size() + 1 + path.size());
  if (!prefix.empty()) {
    source.push_back(prefix.front());
    for (char c : prefix.substr(1)) source.push_back(ToLowerAscii(c));
    source.push_back('/');
  }
  source.append(path);

  std::string identifier;
  identifier.reserve(source.size() + 8);
  bool capitaliseNext = true;
  for (char c : source) {
    if (IsSeparator(c)) {
      capitaliseNext = true;
    } else if (c == '{') {
      identifier += "By";
      capitaliseNext = true;
    } else if (c == '}') {
      // dropped; the flag is left as it is
    } else if (capitaliseNext) {
      identifier.push_back(ToUpperAscii(c));
      capitaliseNext = false;
    } else {
      identifier.push_back(c);
    }
  }
  return identifier;
}

}  // namespace vyn::routing
