// Fuzzes the positional formatter with fuzzed format texts over a fixed list of arguments of every
// kind (their values fuzzed too) and a fuzzed argument count, so that placeholders name missing
// arguments, "*" takes widths from every kind and each letter meets each kind. Besides crashes and
// undefined behaviour (an argument read as another type, a text read past its end) it checks the
// contracts: at most 4095 bytes, the same text on every call, a format without placeholders comes
// back as it is, and the placeholder reader stays inside its text and its buffer.
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

// The arguments, in an order that mixes integer and other kinds, so that "*m$" and sequential
// stars meet both.
struct Arguments {
  int i = 0;
  const char* cText = nullptr;
  unsigned u = 0;
  double d = 0;
  long l = 0;
  std::string text;
  unsigned long ul = 0;
  float f = 0;
  long long ll = 0;
  std::string_view view;  // over a block without a terminator
  unsigned long long ull = 0;
  char c = 0;
  signed char sc = 0;
  vyn::diagnostics::PluginApiVersion version;
  unsigned char uc = 0;
  vyn::diagnostics::PluginType type;
  short s = 0;
  std::unique_ptr<char[]> array;  // kCharArraySize bytes, not necessarily terminated
  unsigned short us = 0;
  const char* nullText = nullptr;

  std::string cTextStore;
  std::unique_ptr<char[]> viewStore;
};

template <typename T>
T Bits(vyn::fuzz::FuzzInput& in) {
  const uint64_t bits = in.U64();
  T value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void Read(vyn::fuzz::FuzzInput& in, Arguments& a) {
  a.i = Bits<int>(in);
  a.cTextStore = in.Text();
  a.cText = a.cTextStore.c_str();
  a.u = Bits<unsigned>(in);
  a.d = Bits<double>(in);
  a.l = Bits<long>(in);
  a.text = in.Text();
  a.ul = Bits<unsigned long>(in);
  a.f = Bits<float>(in);
  a.ll = Bits<long long>(in);
  const std::string view = in.Text();
  a.viewStore = std::make_unique<char[]>(view.size());
  if (!view.empty()) std::memcpy(a.viewStore.get(), view.data(), view.size());
  a.view = std::string_view(a.viewStore.get(), view.size());
  a.ull = Bits<unsigned long long>(in);
  a.c = Bits<char>(in);
  a.sc = Bits<signed char>(in);
  a.version.major = in.U32();
  a.version.minor = in.U32();
  a.version.patch = in.U32();
  a.version.preRelease = in.Text();
  a.version.build = in.Text();
  a.uc = Bits<unsigned char>(in);
  a.type.type = in.Text();
  a.type.detail = in.Text();
  a.s = Bits<short>(in);
  a.array = std::make_unique<char[]>(kCharArraySize);
  const std::string arrayBytes = in.Bytes(kCharArraySize);
  std::memcpy(a.array.get(), arrayBytes.data(), arrayBytes.size());
  a.us = Bits<unsigned short>(in);
}

template <typename T>
FormatArg Arg(const T& value) {
  return vyn::diagnostics::format_internal::MakeFormatArg(value);
}

void CheckPlaceholders(std::string_view format, std::size_t count) {
  std::size_t next = 1;
  for (std::size_t pos = 0; pos < format.size(); ++pos) {
    if (format[pos] != '%') continue;
    if (pos + 1 < format.size() && format[pos + 1] == '%') {
      ++pos;
      continue;
    }
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
  const std::string formatBytes = in.Text();
  const std::string format(formatBytes.c_str());
  Arguments a;
  Read(in, a);

  const FormatArg args[] = {
      Arg(a.i),
      Arg(a.cText),
      Arg(a.u),
      Arg(a.d),
      Arg(a.l),
      Arg(a.text),
      Arg(a.ul),
      Arg(a.f),
      Arg(a.ll),
      Arg(a.view),
      Arg(a.ull),
      Arg(a.c),
      Arg(a.sc),
      Arg(a.version),
      Arg(a.uc),
      Arg(a.type),
      Arg(a.s),
      FormatArg{a.array.get(), &vyn::diagnostics::format_internal::kCharArrayKind<kCharArraySize>},
      Arg(a.us),
      Arg(a.nullText)};
  constexpr std::size_t kArgCount = sizeof args / sizeof args[0];
  const std::size_t count = countByte % (kArgCount + 1);

  CheckPlaceholders(format, count);
  const std::string text = vyn::diagnostics::FormatTextV(format.c_str(), args, count);
  if (text.size() > kFormatBufferSize - 1) Violated("a result longer than 4095 bytes");
  if (vyn::diagnostics::FormatTextV(format.c_str(), args, count) != text) {
    Violated("the same call formatted differently");
  }
  if (format.find('%') == std::string::npos &&
      text != std::string_view(format).substr(0, kFormatBufferSize - 1)) {
    Violated("a format without placeholders came back changed");
  }
  return 0;
}
