// Fuzzes the positional formatter: fuzzed formats over arguments of every kind and a fuzzed count,
// so that each letter meets each kind. Checked: at most 4095 bytes, a format without placeholders
// comes back as it is, and the placeholder reader stays inside its text and its buffer.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "diagnostics/FormatText.h"
#include "diagnostics/VersionText.h"
#include "fuzz/FuzzSupport.h"

namespace {

using vyn::diagnostics::FormatArg;
using vyn::diagnostics::FormatPlaceholder;
using vyn::diagnostics::kFormatBufferSize;
using vyn::diagnostics::kFormatSpecSize;
using vyn::fuzz::Violated;

constexpr std::size_t kCharArraySize = 6;

template <typename T>
FormatArg Arg(const T& value) {
  return vyn::diagnostics::format_internal::MakeFormatArg(value);
}

void CheckPlaceholders(std::string_view format, std::size_t count) {
  std::size_t next = 1;
  for (std::size_t pos = 0; pos < format.size(); ++pos) {
    if (format[pos] != '%') continue;
    if (format.compare(pos, 2, "%%") == 0 && ++pos) continue;  // past "%%", no placeholder
    FormatPlaceholder placeholder;
    const std::size_t before = next;
    vyn::diagnostics::ParseFormatPlaceholder(format.substr(pos), count, next, placeholder);
    if (placeholder.length < 1 || placeholder.length > format.size() - pos) {
      Violated("a placeholder spans bytes outside its text");
    }
    if (placeholder.specLength >= kFormatSpecSize || placeholder.spec[0] != '%' ||
        placeholder.spec[placeholder.specLength] != '\0') {
      Violated("a conversion outgrew or left its buffer");
    }
    // An over-long conversion was abandoned part-way; it ends the formatting.
    if (placeholder.tooLong) break;
    if (placeholder.precisionStart > placeholder.bodyLength ||
        placeholder.bodyLength > placeholder.specLength || placeholder.starCount > 2) {
      Violated("a conversion's parts are out of order");
    }
    if (next < before || next > before + 3) Violated("the sequential counter jumped");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  vyn::fuzz::FuzzInput in(data, size);
  const uint8_t countByte = in.Byte();
  // The engine takes a NUL-terminated format, so a fuzzed NUL simply ends it.
  const std::string format(in.Text().c_str());
  // Every kind, in an order that mixes integers and others, so that "*m$" and sequential stars
  // meet both; each number from eight input bytes, texts without a terminator in exactly sized
  // heap blocks. The arguments hold the addresses of these values.
  const int i = static_cast<int>(in.U64());
  const std::string cTextBytes = in.Text();
  const char* const cText = cTextBytes.c_str();
  const unsigned u = static_cast<unsigned>(in.U64());
  const double d = std::bit_cast<double>(in.U64());
  const long l = static_cast<long>(in.U64());
  const std::string text = in.Text();
  const unsigned long ul = static_cast<unsigned long>(in.U64());
  const float f = std::bit_cast<float>(static_cast<uint32_t>(in.U64()));
  const long long ll = static_cast<long long>(in.U64());
  const std::string viewBytes = in.Text();
  // Never null, even when empty: the formatter hands a view's data to memcpy as it is.
  const auto view = std::make_unique<char[]>(viewBytes.size());
  std::copy(viewBytes.begin(), viewBytes.end(), view.get());
  const std::string_view viewText(view.get(), viewBytes.size());
  const unsigned long long ull = static_cast<unsigned long long>(in.U64());
  const char c = static_cast<char>(in.U64());
  const signed char sc = static_cast<signed char>(in.U64());
  const vyn::diagnostics::PluginApiVersion version{in.U32(), in.U32(), in.U32(), in.Text(),
                                                   in.Text()};
  const unsigned char uc = static_cast<unsigned char>(in.U64());
  const vyn::diagnostics::PluginType type{in.Text(), in.Text()};
  const short sh = static_cast<short>(in.U64());
  const auto array = std::make_unique<char[]>(kCharArraySize);
  const std::string arrayBytes = in.Bytes(kCharArraySize);
  std::memcpy(array.get(), arrayBytes.data(), arrayBytes.size());
  const FormatArg arrayArg{array.get(),
                           &vyn::diagnostics::format_internal::kCharArrayKind<kCharArraySize>};
  const unsigned short us = static_cast<unsigned short>(in.U64());
  const char* nullText = nullptr;
  const FormatArg args[] = {Arg(i),    Arg(cText), Arg(u),   Arg(d),       Arg(l),
                            Arg(text), Arg(ul),    Arg(f),   Arg(ll),      Arg(viewText),
                            Arg(ull),  Arg(c),     Arg(sc),  Arg(version), Arg(uc),
                            Arg(type), Arg(sh),    arrayArg, Arg(us),      Arg(nullText)};
  constexpr std::size_t kArgCount = sizeof args / sizeof args[0];
  const std::size_t count = countByte % (kArgCount + 1);

  CheckPlaceholders(format, count);
  const std::string formatted = vyn::diagnostics::FormatTextV(format.c_str(), args, count);
  if (formatted.size() > kFormatBufferSize - 1) Violated("a result longer than 4095 bytes");
  if (format.find('%') == std::string::npos &&
      formatted != std::string_view(format).substr(0, kFormatBufferSize - 1)) {
    Violated("a format without placeholders came back changed");
  }
  return 0;
}
