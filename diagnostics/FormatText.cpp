// The positional formatter's scan, its placeholder reader and the printers of each argument kind.
// Nothing here touches the heap until the result string is made: the output, the conversion
// and every converted argument text live in stack buffers.
#include "diagnostics/FormatText.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace vyn::diagnostics {
namespace {

constexpr std::string_view kFlagBytes = "-+ #0";
constexpr std::string_view kSignedLetters = "dciouxX";
constexpr std::string_view kUnsignedLetters = "ucdioxX";
constexpr std::string_view kCharLetters = "cdiouxX";
constexpr std::string_view kDoubleLetters = "gaefGAEF";
// The printf conversions; any other byte after a width is not a conversion.
constexpr std::string_view kConversionLetters = "diouxXcsfFeEgGaApn";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNonZeroDigit(char c) { return c >= '1' && c <= '9'; }

// Reads a run of decimal digits at pos; saturates instead of overflowing, so an absurd number
// simply names no argument.
std::size_t ReadNumber(std::string_view text, std::size_t& pos) {
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  std::size_t value = 0;
  while (pos < text.size() && IsDigit(text[pos])) {
    const auto digit = static_cast<std::size_t>(text[pos] - '0');
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    ++pos;
  }
  return value;
}

// Collects the printf conversion of one placeholder while it is read.
class PlaceholderReader {
 public:
  PlaceholderReader(std::string_view text, std::size_t& nextSequential, FormatPlaceholder& out)
      : text_(text), nextSequential_(nextSequential), out_(out) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  std::size_t Position() const { return pos_; }
  void Seek(std::size_t pos) { pos_ = pos; }
  void Skip() { ++pos_; }

  // Copies the current byte into the conversion; false once it would outgrow its buffer.
  bool Take() {
    if (out_.specLength + 1 >= kFormatSpecSize) {
      out_.tooLong = true;
      return false;
    }
    out_.spec[out_.specLength++] = text_[pos_++];
    out_.spec[out_.specLength] = '\0';
    return true;
  }

  // A width or a precision: "*", "*m$" or digits.
  bool ReadWidth() {
    if (Peek() == '*') {
      if (!Take()) return false;
      std::size_t after = pos_;
      std::size_t argument = 0;
      if (after < text_.size() && IsNonZeroDigit(text_[after])) {
        const std::size_t number = ReadNumber(text_, after);
        if (after < text_.size() && text_[after] == '$') {
          argument = number;
          pos_ = after + 1;
        }
      }
      if (argument == 0) argument = nextSequential_++;
      out_.starArguments[out_.starCount++] = argument;
      return true;
    }
    while (IsDigit(Peek())) {
      if (!Take()) return false;
    }
    return true;
  }

  bool ReadLengthModifier() {
    const char c = Peek();
    if (c == 'L' || c == 'j' || c == 't' || c == 'z') return Take();
    if (c == 'h' || c == 'l') {
      if (!Take()) return false;
      if (Peek() == c) return Take();
    }
    return true;
  }

 private:
  std::string_view text_;
  std::size_t& nextSequential_;
  FormatPlaceholder& out_;
  std::size_t pos_ = 1;  // past the "%"
};

// Reads the placeholder's specification past an optional "n$"; false when it outgrew the buffer.
bool ReadSpecification(PlaceholderReader& reader, FormatPlaceholder& out) {
  while (!reader.AtEnd() && kFlagBytes.find(reader.Peek()) != std::string_view::npos) {
    if (!reader.Take()) return false;
  }
  if (!reader.ReadWidth()) return false;
  out.precisionStart = out.specLength;
  bool hasPrecision = false;
  if (reader.Peek() == '.') {
    hasPrecision = true;
    if (!reader.Take()) return false;
    // A negative precision cannot be written literally; "%.-3d" reads as "%.3d".
    if (reader.Peek() == '-') reader.Skip();
    if (!reader.ReadWidth()) return false;
  }
  out.bodyLength = out.specLength;
  if (!hasPrecision) out.precisionStart = out.bodyLength;
  if (!reader.ReadLengthModifier()) return false;
  if (!reader.AtEnd()) {
    out.letter = reader.Peek();
    if (!reader.Take()) return false;
  }
  return true;
}

// The letter and length modifier a kind prints with.
struct Conversion {
  char letter;
  std::string_view modifier;
};

// The printf conversion handed to the engine and the "*" values it consumes.
struct PieceSpec {
  char text[kFormatSpecSize + 4];
  int stars[2];
  int starCount;
};

// Rebuilds the written specification for the kind: the written length modifier is replaced by
// the kind's own, so the engine always reads the value with the type that was passed. For
// "%c" and "%s" only the "-" flag and the width are kept (and for "%s" the precision), since
// other flags are undefined there; a letter correction ("%05d" on text) easily produces them.
PieceSpec BuildPieceSpec(const FormatPlaceholder& placeholder, const int* starValues,
                         Conversion conversion) {
  PieceSpec piece{};
  std::size_t length = 0;
  const bool textLike = conversion.letter == 's' || conversion.letter == 'c';
  std::size_t pos = 0;
  piece.text[length++] = placeholder.spec[pos++];  // "%"
  while (pos < placeholder.precisionStart &&
         kFlagBytes.find(placeholder.spec[pos]) != std::string_view::npos) {
    if (!textLike || placeholder.spec[pos] == '-') piece.text[length++] = placeholder.spec[pos];
    ++pos;
  }
  const std::size_t bodyEnd =
      conversion.letter == 'c' ? placeholder.precisionStart : placeholder.bodyLength;
  int widthStars = 0;
  for (; pos < placeholder.bodyLength; ++pos) {
    const char c = placeholder.spec[pos];
    if (c == '*' && pos < placeholder.precisionStart) ++widthStars;
    if (pos < bodyEnd) piece.text[length++] = c;
  }
  for (char c : conversion.modifier) piece.text[length++] = c;
  piece.text[length++] = conversion.letter;
  piece.text[length] = '\0';

  const int available = static_cast<int>(placeholder.starCount);
  const int used = conversion.letter == 'c' ? widthStars : available;
  for (int i = 0; i < used; ++i) piece.stars[i] = starValues[i];
  piece.starCount = used;
  return piece;
}

// The written letter when the kind accepts it, else the kind's default.
char PickLetter(const FormatPlaceholder& placeholder, std::string_view allowed) {
  if (placeholder.letter != '\0' && allowed.find(placeholder.letter) != std::string_view::npos) {
    return placeholder.letter;
  }
  return allowed.front();
}

template <typename Value>
int PrintPiece(char* out, std::size_t size, const PieceSpec& piece, Value value) {
  switch (piece.starCount) {
    case 0:
      return BufferPrintf(out, size, piece.text, value);
    case 1:
      return BufferPrintf(out, size, piece.text, piece.stars[0], value);
    default:
      return BufferPrintf(out, size, piece.text, piece.stars[0], piece.stars[1], value);
  }
}

enum class IntegerWidth { Int, Long, LongLong };

// Prints an integer of any kind from its two's-complement bits, passing the engine exactly the
// type that the final letter and modifier read.
int PrintIntegerBits(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                     const int* starValues, std::string_view allowed, IntegerWidth width,
                     unsigned long long bits) {
  const char letter = PickLetter(placeholder, allowed);
  if (letter == 'c') {
    // There is no 64-bit character conversion; the engine takes an int and prints its low byte.
    const PieceSpec piece = BuildPieceSpec(placeholder, starValues, {letter, ""});
    return PrintPiece(out, size, piece, static_cast<int>(bits));
  }
  const bool isSigned = letter == 'd' || letter == 'i';
  switch (width) {
    case IntegerWidth::Int: {
      const PieceSpec piece = BuildPieceSpec(placeholder, starValues, {letter, ""});
      return isSigned ? PrintPiece(out, size, piece, static_cast<int>(bits))
                      : PrintPiece(out, size, piece, static_cast<unsigned>(bits));
    }
    case IntegerWidth::Long: {
      const PieceSpec piece = BuildPieceSpec(placeholder, starValues, {letter, "l"});
      return isSigned ? PrintPiece(out, size, piece, static_cast<long>(bits))
                      : PrintPiece(out, size, piece, static_cast<unsigned long>(bits));
    }
    case IntegerWidth::LongLong:
    default: {
      const PieceSpec piece = BuildPieceSpec(placeholder, starValues, {letter, "ll"});
      return isSigned ? PrintPiece(out, size, piece, static_cast<long long>(bits))
                      : PrintPiece(out, size, piece, static_cast<unsigned long long>(bits));
    }
  }
}

template <typename T, IntegerWidth Width>
int PrintInteger(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                 const int* starValues, const void* value) {
  const T number = *static_cast<const T*>(value);
  const std::string_view allowed = std::is_signed_v<T> ? kSignedLetters : kUnsignedLetters;
  return PrintIntegerBits(out, size, placeholder, starValues, allowed, Width,
                          static_cast<unsigned long long>(number));
}

template <typename T>
int32_t IntegerToInt(const void* value) {
  return static_cast<int32_t>(*static_cast<const T*>(value));
}

int PrintChar(char* out, std::size_t size, const FormatPlaceholder& placeholder,
              const int* starValues, const void* value) {
  const int character = static_cast<signed char>(*static_cast<const char*>(value));
  return PrintIntegerBits(out, size, placeholder, starValues, kCharLetters, IntegerWidth::Int,
                          static_cast<unsigned long long>(character));
}

int32_t CharToInt(const void* value) {
  return static_cast<signed char>(*static_cast<const char*>(value));
}

// The engine follows the process locale, which the host may have changed; messages and URLs
// always use "." as the decimal point, so another radix text is put back to ".".
int NormalizeRadix(char* out, int written) {
  char probe[16];
  const int probeLength = std::snprintf(probe, sizeof probe, "%.1f", 0.5);  // "0.5" in "C"
  if (probeLength < 3 || probeLength >= static_cast<int>(sizeof probe)) return written;
  const std::string_view radix(probe + 1, static_cast<std::size_t>(probeLength - 2));
  if (radix == ".") return written;
  const std::size_t length = written >= 0 ? static_cast<std::size_t>(written) : std::strlen(out);
  const std::string_view piece(out, length);
  const std::size_t at = piece.find(radix);
  if (at == std::string_view::npos) return written;
  out[at] = '.';
  std::memmove(out + at + 1, out + at + radix.size(), length - at - radix.size() + 1);
  return written >= 0 ? written - static_cast<int>(radix.size() - 1) : written;
}

int PrintDoubleValue(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                     const int* starValues, double number) {
  const PieceSpec piece =
      BuildPieceSpec(placeholder, starValues, {PickLetter(placeholder, kDoubleLetters), ""});
  return NormalizeRadix(out, PrintPiece(out, size, piece, number));
}

template <typename T>
int PrintFloating(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                  const int* starValues, const void* value) {
  return PrintDoubleValue(out, size, placeholder, starValues,
                          static_cast<double>(*static_cast<const T*>(value)));
}

// Every text kind ends here with a NUL-terminated text.
int PrintTextValue(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                   const int* starValues, const char* text) {
  const PieceSpec piece = BuildPieceSpec(placeholder, starValues, {'s', ""});
  return PrintPiece(out, size, piece, text);
}

// Texts without a terminator are copied into a stack buffer first. Only the first 4095 bytes can
// ever reach the output, so the copy is cut there.
int PrintTextSpan(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                  const int* starValues, std::string_view text) {
  char copy[kFormatBufferSize];
  const std::size_t length = text.size() < sizeof copy ? text.size() : sizeof copy - 1;
  // An empty view may have no data at all, which memcpy must not be given.
  if (length != 0) std::memcpy(copy, text.data(), length);
  copy[length] = '\0';
  return PrintTextValue(out, size, placeholder, starValues, copy);
}

int PrintCString(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                 const int* starValues, const void* value) {
  const char* text = *static_cast<const char* const*>(value);
  return PrintTextValue(out, size, placeholder, starValues, text != nullptr ? text : "(null)");
}

int PrintString(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                const int* starValues, const void* value) {
  return PrintTextValue(out, size, placeholder, starValues,
                        static_cast<const std::string*>(value)->c_str());
}

int PrintStringView(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                    const int* starValues, const void* value) {
  return PrintTextSpan(out, size, placeholder, starValues,
                       *static_cast<const std::string_view*>(value));
}

int PrintVersion(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                 const int* starValues, const void* value) {
  char text[kFormatBufferSize];
  WriteVersionText(text, sizeof text, *static_cast<const PluginApiVersion*>(value));
  return PrintTextValue(out, size, placeholder, starValues, text);
}

int PrintPluginType(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                    const int* starValues, const void* value) {
  char text[kFormatBufferSize];
  WritePluginTypeText(text, sizeof text, *static_cast<const PluginType*>(value));
  return PrintTextValue(out, size, placeholder, starValues, text);
}

// Whether a written or "*" width or precision exceeds the output buffer. Beyond it a piece can
// only add padding or digits that do not fit, yet the engine would produce every one of them (a
// width of 2000000000 takes seconds), so such a placeholder ends the formatting, as an over-long
// specification does. A negative "*" width means left-justified; a negative precision, none.
bool Oversized(const FormatPlaceholder& placeholder, const int* starValues) {
  constexpr long long kLimit = static_cast<long long>(kFormatBufferSize);
  const std::string_view body(placeholder.spec, placeholder.bodyLength);
  std::size_t star = 0;
  for (std::size_t pos = 1; pos < body.size();) {
    if (body[pos] == '*') {
      const long long value = starValues[star++];
      const bool precision = pos >= placeholder.precisionStart;
      if ((precision ? value : (value < 0 ? -value : value)) > kLimit) return true;
      ++pos;
    } else if (IsDigit(body[pos])) {
      if (ReadNumber(body, pos) > kFormatBufferSize) return true;
    } else {
      ++pos;
    }
  }
  return false;
}

}  // namespace

int PrintfToBuffer(char* buffer, std::size_t size, const char* format, va_list args) {
  if (buffer == nullptr || size == 0) return -1;
  if (format == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  const int needed = std::vsnprintf(buffer, size, format, args);
  if (needed < 0) {
    // What the engine left behind on a failed conversion is unspecified; leave nothing.
    buffer[0] = '\0';
    return -1;
  }
  return static_cast<std::size_t>(needed) < size ? needed : -1;
}

int BufferPrintf(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = PrintfToBuffer(buffer, size, format, args);
  va_end(args);
  return written;
}

void ParseFormatPlaceholder(std::string_view text, std::size_t argumentCount,
                            std::size_t& nextSequential, FormatPlaceholder& placeholder) {
  placeholder = FormatPlaceholder{};
  placeholder.spec[0] = '%';
  placeholder.specLength = 1;
  placeholder.bodyLength = 1;
  placeholder.precisionStart = 1;
  PlaceholderReader reader(text, nextSequential, placeholder);

  std::size_t missingArgument = 0;
  if (IsNonZeroDigit(reader.Peek())) {
    std::size_t after = reader.Position();
    const std::size_t number = ReadNumber(text, after);
    missingArgument = number;
    if (number <= argumentCount) {
      placeholder.argument = number;
      placeholder.positional = true;
      if (after >= text.size() || text[after] != '$') {
        // "%n": the kind's default conversion, and the scan goes on right after the digits.
        placeholder.length = after;
        return;
      }
      reader.Seek(after + 1);
    }
    // Otherwise the digits are a width for the next sequential argument ("%5d" with fewer than
    // five arguments)...
  }
  const bool complete = ReadSpecification(reader, placeholder);
  placeholder.length = reader.Position();
  if (!complete) return;
  if (missingArgument != 0 && !placeholder.positional &&
      kConversionLetters.find(placeholder.letter) == std::string_view::npos) {
    // ...but without a conversion letter ("%3 ", "%3" at the end) it was a "%n" naming a missing
    // argument, and printing the next argument in its place would put a wrong value in the text.
    placeholder.argument = missingArgument;
    placeholder.positional = true;
    return;
  }
  if (!placeholder.positional) placeholder.argument = nextSequential++;
}

std::string FormatTextV(const char* format, const FormatArg* args, std::size_t count) {
  if (format == nullptr) return {};
  if (args == nullptr) count = 0;
  char buffer[kFormatBufferSize];
  char* out = buffer;
  char* const end = buffer + kFormatBufferSize;
  const std::string_view text(format);
  std::size_t pos = 0;
  std::size_t nextSequential = 1;

  while (pos < text.size() && out < end) {
    if (text[pos] != '%') {
      *out++ = text[pos++];
      continue;
    }
    if (pos + 1 < text.size() && text[pos + 1] == '%') {
      *out++ = '%';
      pos += 2;
      continue;
    }
    FormatPlaceholder placeholder;
    ParseFormatPlaceholder(text.substr(pos), count, nextSequential, placeholder);
    if (placeholder.tooLong) break;
    pos += placeholder.length;
    if (placeholder.argument == 0 || placeholder.argument > count) break;

    int starValues[2] = {};
    bool starsValid = true;
    for (std::size_t i = 0; i < placeholder.starCount; ++i) {
      const std::size_t number = placeholder.starArguments[i];
      if (number == 0 || number > count || !args[number - 1].kind->isInteger) {
        starsValid = false;
        break;
      }
      starValues[i] = args[number - 1].kind->toInt(args[number - 1].value);
    }
    if (!starsValid) break;
    if (placeholder.letter == 'n') continue;  // consumes its argument, prints nothing
    if (Oversized(placeholder, starValues)) break;

    const FormatArg& arg = args[placeholder.argument - 1];
    const auto room = static_cast<std::size_t>(end - out);
    const int written = arg.kind->print(out, room, placeholder, starValues, arg.value);
    if (written < 0) {
      // Truncated: keep the part that fit (a failed conversion left nothing) and stop.
      const std::size_t kept = std::string_view(out, room).find('\0');
      out += kept != std::string_view::npos ? kept : 0;
      break;
    }
    out += written;
  }

  const auto length = static_cast<std::size_t>(out - buffer);
  return std::string(buffer, length < kFormatBufferSize ? length : kFormatBufferSize - 1);
}

const FormatArgKind kFormatKindInt{&PrintInteger<int, IntegerWidth::Int>, &IntegerToInt<int>,
                                   true};
const FormatArgKind kFormatKindUnsigned{&PrintInteger<unsigned, IntegerWidth::Int>,
                                        &IntegerToInt<unsigned>, true};
const FormatArgKind kFormatKindLong{&PrintInteger<long, IntegerWidth::Long>, &IntegerToInt<long>,
                                    true};
const FormatArgKind kFormatKindUnsignedLong{&PrintInteger<unsigned long, IntegerWidth::Long>,
                                            &IntegerToInt<unsigned long>, true};
const FormatArgKind kFormatKindLongLong{&PrintInteger<long long, IntegerWidth::LongLong>,
                                        &IntegerToInt<long long>, true};
const FormatArgKind kFormatKindUnsignedLongLong{
    &PrintInteger<unsigned long long, IntegerWidth::LongLong>, &IntegerToInt<unsigned long long>,
    true};
const FormatArgKind kFormatKindSignedChar{&PrintInteger<signed char, IntegerWidth::Int>,
                                          &IntegerToInt<signed char>, true};
const FormatArgKind kFormatKindUnsignedChar{&PrintInteger<unsigned char, IntegerWidth::Int>,
                                            &IntegerToInt<unsigned char>, true};
const FormatArgKind kFormatKindShort{&PrintInteger<short, IntegerWidth::Int>,
                                     &IntegerToInt<short>, true};
const FormatArgKind kFormatKindUnsignedShort{&PrintInteger<unsigned short, IntegerWidth::Int>,
                                             &IntegerToInt<unsigned short>, true};
const FormatArgKind kFormatKindChar{&PrintChar, &CharToInt, true};
const FormatArgKind kFormatKindDouble{&PrintFloating<double>, &format_internal::ToIntZero, false};
const FormatArgKind kFormatKindFloat{&PrintFloating<float>, &format_internal::ToIntZero, false};
const FormatArgKind kFormatKindCString{&PrintCString, &format_internal::ToIntZero, false};
const FormatArgKind kFormatKindString{&PrintString, &format_internal::ToIntZero, false};
const FormatArgKind kFormatKindStringView{&PrintStringView, &format_internal::ToIntZero, false};
const FormatArgKind kFormatKindVersion{&PrintVersion, &format_internal::ToIntZero, false};
const FormatArgKind kFormatKindPluginType{&PrintPluginType, &format_internal::ToIntZero, false};

namespace format_internal {

int PrintCharArray(char* out, std::size_t size, const FormatPlaceholder& placeholder,
                   const int* starValues, const char* text, std::size_t capacity) {
  const void* terminator = std::memchr(text, '\0', capacity);
  const std::size_t length =
      terminator != nullptr ? static_cast<std::size_t>(static_cast<const char*>(terminator) - text)
                            : capacity;
  return PrintTextSpan(out, size, placeholder, starValues, std::string_view(text, length));
}

int32_t ToIntZero(const void*) { return 0; }

}  // namespace format_internal

}  // namespace vyn::diagnostics
