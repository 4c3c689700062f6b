// The plugin's one code conversion: NUL-terminated UTF-16 to UTF-8.
#pragma once

#include <string>

namespace vyn::diagnostics {

// Converts up to the first NUL unit. Surrogate pairs become 4-byte sequences and a low surrogate
// without a high one before it is encoded on its own as 3 bytes. A high surrogate followed by
// anything but a low one, the end of the text included, makes the text ill-formed: the result is
// then empty. A null pointer gives an empty string.
std::string Utf16ToUtf8(const char16_t* text);

}  // namespace vyn::diagnostics
