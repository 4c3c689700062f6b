// JSON reading and writing over RapidJSON: a SAX handler that builds the value in one pass, and
// writer visitors that write straight into the caller's string. RapidJSON's own stacks come from
// the plugin's counting allocator.
#include "formats/Json.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

// RapidJSON's internal stack computes "null + size" before its first allocation (only to compare
// it, never to dereference it), which clang's undefined-behaviour sanitizer reports on the first
// string, member or container of every call. That check is switched off for RapidJSON's own code.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif
#include <rapidjson/error/error.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/writer.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif

#include "base/Base64.h"
#include "base/PluginAllocator.h"
#include "binding/BindingRegistry.h"
#include "binding/ElementCollector.h"
#include "binding/KnownNames.h"
#include "binding/MemberCollector.h"
#include "binding/WalkStack.h"
#include "diagnostics/FormatText.h"
#include "diagnostics/Utf8Text.h"

namespace vyn::formats {
namespace {

using binding::BindingProperty;
using binding::BindingPropertyKind;
using binding::BindingRegistry;
using binding::BindingResult;
using binding::ElementCollector;
using binding::MemberCollector;
using binding::MemberRange;
using binding::MemberView;

// RapidJSON's allocator concept over the counting allocator. Like operator new it throws
// std::bad_alloc when memory is exhausted, since RapidJSON's stacks do not check for null.
//
// The first block comes from room inside the allocator, which lives in the caller's frame: the
// reader's stack of a small body and the writer's stack of levels then cost no heap block, where
// a small call's blocks are a fifth of its time. RapidJSON frees through a static function that
// cannot see the room, so every block is preceded by a header that tells where it lives.
class JsonAllocator {
 public:
  static constexpr bool kNeedFree = true;

  JsonAllocator() noexcept = default;
  JsonAllocator(const JsonAllocator&) = delete;
  JsonAllocator& operator=(const JsonAllocator&) = delete;

  void* Malloc(std::size_t size) { return Realloc(nullptr, 0, size); }
  void* Realloc(void* block, std::size_t oldSize, std::size_t newSize) {
    if (newSize == 0) {
      Free(block);
      return nullptr;
    }
    if (block == nullptr) {
      if (!roomTaken_ && newSize <= kRoomBytes) {
        roomTaken_ = true;
        return Mark(room_, kInRoom);
      }
      return Mark(Checked(base::PluginAlloc(kHeaderBytes + newSize)), kOnHeap);
    }
    if (HeaderOf(block) == room_) {
      if (newSize <= kRoomBytes) return block;
      void* moved = Mark(Checked(base::PluginAlloc(kHeaderBytes + newSize)), kOnHeap);
      std::memcpy(moved, block, std::min(oldSize, kRoomBytes));
      roomTaken_ = false;
      return moved;
    }
    return Mark(Checked(base::PluginRealloc(HeaderOf(block), kHeaderBytes + newSize)), kOnHeap);
  }
  static void Free(void* block) {
    if (block == nullptr) return;
    unsigned char* header = HeaderOf(block);
    if (header[0] == kOnHeap) base::PluginFree(header);
  }

 private:
  // Enough for the reader's first stack (256 bytes) and the writer's 32 levels.
  static constexpr std::size_t kRoomBytes = 512;
  // Keeps the block behind it aligned as the heap's own blocks are.
  static constexpr std::size_t kHeaderBytes = 16;
  static constexpr unsigned char kOnHeap = 1;
  static constexpr unsigned char kInRoom = 2;

  static unsigned char* HeaderOf(void* block) noexcept {
    return static_cast<unsigned char*>(block) - kHeaderBytes;
  }
  static void* Mark(void* header, unsigned char where) noexcept {
    auto* bytes = static_cast<unsigned char*>(header);
    bytes[0] = where;
    return bytes + kHeaderBytes;
  }
  static void* Checked(void* block) {
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }

  alignas(16) unsigned char room_[kHeaderBytes + kRoomBytes];
  bool roomTaken_ = false;
};

static_assert(JsonAllocator::kNeedFree, "RapidJSON must free what it takes from the allocator");

// The writers' output stream: a block of the plugin's heap, grown by reallocation, which the
// runtime heap can often do in place, and copied once into the caller's string at the end. A
// string cannot grow without a copy and a fill of its new room, which cost a tenth of a large
// text's writing. `at_` and `end_` let a character be put without reading anything else.
class TextSink {
 public:
  using Ch = char;

  explicit TextSink(std::string& out) noexcept : out_(out) { out_.clear(); }
  ~TextSink() { base::PluginFree(first_); }
  TextSink(const TextSink&) = delete;
  TextSink& operator=(const TextSink&) = delete;

  void Put(char c) {
    Reserve(1);
    *at_++ = c;
  }
  void Flush() {}
  void Reserve(std::size_t count) {
    if (count > static_cast<std::size_t>(end_ - at_)) Grow(count);
  }
  void PutUnchecked(char c) noexcept { *at_++ = c; }
  void PutTextUnchecked(const char* text, std::size_t count) noexcept;
  char* Push(std::size_t count) {
    Reserve(count);
    char* const first = at_;
    at_ += count;
    return first;
  }
  // Lets `format`, which writes at most `most` characters and returns their end, write in place.
  template <class Format>
  void PutFormatted(std::size_t most, Format format) {
    Reserve(most);
    at_ = format(at_);
  }
  std::size_t size() const noexcept { return static_cast<std::size_t>(at_ - first_); }
  // Leaves the string holding exactly the text written.
  void Finish() { out_.assign(first_, size()); }

 private:
  // A small text needs no growth, a survey's text grows from a page eight or nine times.
  static constexpr std::size_t kFirstBytes = 4096;

  // Out of line, so that putting a character stays small enough to inline everywhere.
  [[gnu::noinline]] void Grow(std::size_t count) {
    const std::size_t used = size();
    const std::size_t room = static_cast<std::size_t>(end_ - first_);
    const std::size_t bytes = std::max({room * 2, used + count, kFirstBytes});
    char* const block = static_cast<char*>(base::PluginRealloc(first_, bytes));
    if (block == nullptr) throw std::bad_alloc();
    first_ = block;
    at_ = block + used;
    end_ = block + bytes;
  }

  std::string& out_;
  char* first_ = nullptr;
  char* at_ = nullptr;
  char* end_ = nullptr;
};

inline void PutReserve(TextSink& sink, std::size_t count) { sink.Reserve(count); }
inline void PutUnsafe(TextSink& sink, char c) { sink.PutUnchecked(c); }

using CompactWriter =
    rapidjson::Writer<TextSink, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator>;
using PrettyWriter =
    rapidjson::PrettyWriter<TextSink, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator>;

// The pretty writer's stream for a newline text other than "\n". The writer puts each line break
// with Put and all else through PutReserve, PutUnsafe and PutN (a JSON string escapes its own line
// breaks), so Put alone writes the newline text: the output needs no second pass. The overloads
// below are found by argument-dependent lookup from inside the writer. A line break that came
// through PutUnsafe would still be expanded, through the checked Put.
class NewlineBuffer {
 public:
  using Ch = char;

  NewlineBuffer(TextSink& buffer, std::string_view newline) noexcept
      : buffer_(buffer), newline_(newline) {}

  void Put(char c) {
    if (c != '\n') {
      buffer_.Put(c);
      return;
    }
    std::memcpy(buffer_.Push(newline_.size()), newline_.data(), newline_.size());
  }
  void Flush() {}
  TextSink& buffer() noexcept { return buffer_; }

 private:
  TextSink& buffer_;
  std::string_view newline_;
};

inline void PutReserve(NewlineBuffer& stream, std::size_t count) { stream.buffer().Reserve(count); }
inline void PutUnsafe(NewlineBuffer& stream, char c) {
  if (c == '\n') {
    stream.Put(c);
  } else {
    stream.buffer().PutUnchecked(c);
  }
}
inline void PutN(NewlineBuffer& stream, char c, std::size_t n) {
  if (c == '\n') {
    for (std::size_t i = 0; i < n; ++i) stream.Put(c);
  } else {
    std::memset(stream.buffer().Push(n), c, n);
  }
}

using NewlinePrettyWriter =
    rapidjson::PrettyWriter<NewlineBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator>;
using NewlineWriter = NewlinePrettyWriter::Base;

// Texts are written a run at a time. The writer escapes a text byte by byte, but first, before
// each byte, lets a writer type copy the run of bytes that need no escape (its own specialises this
// for SSE over its string buffer), and goes on from where the run ends; specialised below for the
// writers here. Eight bytes are looked at a time, without intrinsics, so every target has it. The
// output is the writer's own, byte for byte.

// The bytes of `word`, read in memory order on a little-endian machine, that a JSON text escapes:
// those below 0x20, '"' and '\\'. The lowest flag is exact; a borrow may flag bytes above it, which
// are never looked at. Bytes from 0x80 up are written as they are.
inline uint64_t EscapeFlags(uint64_t word) noexcept {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  const uint64_t quote = word ^ (kOnes * '"'), backslash = word ^ (kOnes * '\\');
  return ((word - kOnes * 0x20) | (quote - kOnes) | (backslash - kOnes)) & ~word & kHigh;
}

inline bool NeedsEscape(char c) noexcept {
  return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\';
}

// The run of plain bytes from `at` on, before `end`: up to the first byte that the writer would
// escape, or all of them. Given `seen`, every byte of a run that ends before `end`, and perhaps
// some after it, is or-ed into it, so that a run with no byte from 0x80 up, which is UTF-8 as it
// stands, is known without looking at it again.
inline const char* PlainRunEnd(const char* at, const char* end, uint64_t* seen = nullptr) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    for (; end - at >= 8; at += 8) {
      uint64_t word;
      std::memcpy(&word, at, sizeof word);
      if (seen != nullptr) *seen |= word;
      if (const uint64_t flags = EscapeFlags(word)) {
        return at + static_cast<std::size_t>(std::countr_zero(flags)) / 8;
      }
    }
    // Most texts are short: four to seven bytes left are looked at as two words of four.
    if (end - at >= 4) {
      uint32_t first, last;
      std::memcpy(&first, at, sizeof first);
      std::memcpy(&last, end - 4, sizeof last);
      if (EscapeFlags(uint64_t{last} << 32 | first) == 0) return end;
    }
  }
  for (; at != end && !NeedsEscape(*at); ++at) {
    if (seen != nullptr) *seen |= static_cast<unsigned char>(*at);
  }
  return at;
}

// Copies `count` bytes, most runs being a few bytes long: without a call up to sixteen, in words
// that may overlap.
inline void CopyText(char* to, const char* from, std::size_t count) noexcept {
  if (count > 16) {
    std::memcpy(to, from, count);
  } else if (count >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + count - 8, from + count - 8, 8);
  } else if (count >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + count - 4, from + count - 4, 4);
  } else {
    for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
  }
}

inline void TextSink::PutTextUnchecked(const char* text, std::size_t count) noexcept {
  CopyText(at_, text, count);
  at_ += count;
}

// Copies the bytes of the text from `text`'s place on up to the next one to escape, and tells
// whether the text goes on. The writer has reserved room for the rest of the text escaped.
inline bool WriteUnescapedRun(rapidjson::GenericStringStream<rapidjson::UTF8<>>& text,
                              std::size_t length, TextSink& sink) noexcept {
  const char* const end = text.head_ + length;
  const char* const stop = PlainRunEnd(text.src_, end);
  sink.PutTextUnchecked(text.src_, static_cast<std::size_t>(stop - text.src_));
  text.src_ = stop;
  return stop != end;
}

}  // namespace
}  // namespace vyn::formats

template <>
inline bool vyn::formats::CompactWriter::ScanWriteUnescapedString(GenericStringStream<UTF8<>>& is,
                                                                  size_t length) {
  return vyn::formats::WriteUnescapedRun(is, length, *os_);
}

// A text has no line break left unescaped, so its runs go to the buffer under the newline text.
template <>
inline bool vyn::formats::NewlineWriter::ScanWriteUnescapedString(GenericStringStream<UTF8<>>& is,
                                                                  size_t length) {
  return vyn::formats::WriteUnescapedRun(is, length, os_->buffer());
}

namespace vyn::formats {
namespace {

// Numbers are written in place, as RapidJSON writes them into its own string buffer. Its writer
// for any other stream formats a number into a buffer of its own and copies that a byte at a time,
// and each byte waits to reload the stream's place until the byte before has stored it. No number
// has a line break, so the newline writer's go to its buffer as they are. (The walk writes no
// `unsigned`: Uint is left as it is.)
inline void PutInt(TextSink& sink, int i) {
  sink.PutFormatted(11, [i](char* at) { return rapidjson::internal::i32toa(i, at); });
}
inline void PutInt64(TextSink& sink, int64_t i64) {
  sink.PutFormatted(21, [i64](char* at) { return rapidjson::internal::i64toa(i64, at); });
}
inline void PutUint64(TextSink& sink, uint64_t u64) {
  sink.PutFormatted(20, [u64](char* at) { return rapidjson::internal::u64toa(u64, at); });
}
// Without kWriteNanAndInfFlag a writer refuses a number that is not finite, as the general one.
static_assert((rapidjson::kWriteDefaultFlags & rapidjson::kWriteNanAndInfFlag) == 0);
inline bool PutDouble(TextSink& sink, double d, int maxDecimalPlaces) {
  if (rapidjson::internal::Double(d).IsNanOrInf()) return false;
  sink.PutFormatted(25, [d, maxDecimalPlaces](char* at) {
    return rapidjson::internal::dtoa(d, at, maxDecimalPlaces);
  });
  return true;
}

}  // namespace
}  // namespace vyn::formats

template <>
inline bool vyn::formats::CompactWriter::WriteInt(int i) {
  PutInt(*os_, i);
  return true;
}
template <>
inline bool vyn::formats::CompactWriter::WriteInt64(int64_t i64) {
  PutInt64(*os_, i64);
  return true;
}
template <>
inline bool vyn::formats::CompactWriter::WriteUint64(uint64_t u64) {
  PutUint64(*os_, u64);
  return true;
}
template <>
inline bool vyn::formats::CompactWriter::WriteDouble(double d) {
  return PutDouble(*os_, d, maxDecimalPlaces_);
}

template <>
inline bool vyn::formats::NewlineWriter::WriteInt(int i) {
  PutInt(os_->buffer(), i);
  return true;
}
template <>
inline bool vyn::formats::NewlineWriter::WriteInt64(int64_t i64) {
  PutInt64(os_->buffer(), i64);
  return true;
}
template <>
inline bool vyn::formats::NewlineWriter::WriteUint64(uint64_t u64) {
  PutUint64(os_->buffer(), u64);
  return true;
}
template <>
inline bool vyn::formats::NewlineWriter::WriteDouble(double d) {
  return PutDouble(os_->buffer(), d, maxDecimalPlaces_);
}

namespace vyn::formats {
namespace {

uint32_t ClampCount(std::size_t count) noexcept {
  return count > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                      : static_cast<uint32_t>(count);
}

// ---------------------------------------------------------------------------------------------
// The walk. A template so that the JSON writers, whose visitor classes are final, get direct
// calls; VisitValue instantiates it over the virtual interface.

struct WalkFrame {
  const BindingProperty* elements;  // for collections
  uint32_t index;
  uint32_t count;
  MemberRange::iterator member;  // the current member, for structures
  MemberRange::iterator end;
  bool structure;
};

// A visitor with a Stopped() operation ends the walk early once it says so: checked before each
// node, so a writer that has passed its bound writes at most one more value.
template <class Visitor>
void Walk(const BindingProperty& root, Visitor& visitor) {
  binding::WalkStack<WalkFrame> stack;
  const BindingProperty* node = &root;
  for (;;) {
    if constexpr (requires { visitor.Stopped(); }) {
      if (visitor.Stopped()) return;
    }
    switch (node->kind()) {
      case BindingPropertyKind::Empty:
        visitor.VisitEmpty();
        break;
      case BindingPropertyKind::Bool:
        visitor.VisitBool(node->asBool());
        break;
      case BindingPropertyKind::Signed:
        visitor.VisitSigned(node->asSigned());
        break;
      case BindingPropertyKind::Unsigned:
        visitor.VisitUnsigned(node->asUnsigned());
        break;
      case BindingPropertyKind::Float:
        visitor.VisitFloat(node->asFloat());
        break;
      case BindingPropertyKind::String:
        visitor.VisitString(node->asString());
        break;
      case BindingPropertyKind::Blob:
        visitor.VisitBlob(node->asBlob());
        break;
      case BindingPropertyKind::Enum:
        visitor.VisitEnum(node->asEnum());
        break;
      case BindingPropertyKind::Collection: {
        const std::span<const BindingProperty> elements = node->elements();
        const uint32_t count = static_cast<uint32_t>(elements.size());
        visitor.BeginCollection(count);
        if (count == 0) {
          visitor.EndCollection();
          break;
        }
        stack.Emplace(elements.data(), 0u, count, MemberRange::iterator{}, MemberRange::iterator{},
                      false);
        visitor.BeginElement(0);
        node = elements.data();
        continue;
      }
      case BindingPropertyKind::Structure: {
        const MemberRange members = node->members();
        visitor.BeginStructure(ClampCount(members.size()));
        if (members.empty()) {
          visitor.EndStructure();
          break;
        }
        const MemberView first = *members.begin();
        stack.Emplace(nullptr, 0u, 0u, members.begin(), members.end(), true);
        visitor.BeginMember(first.name);
        node = &first.value;
        continue;
      }
      default:
        break;
    }
    // The node is done: close containers until one has a next child, or the walk ends.
    for (;;) {
      if (stack.Empty()) return;
      WalkFrame& frame = stack.Top();
      if (!frame.structure) {
        visitor.EndElement(frame.index);
        if (++frame.index < frame.count) {
          visitor.BeginElement(frame.index);
          node = frame.elements + frame.index;
          break;
        }
        visitor.EndCollection();
      } else {
        visitor.EndMember((*frame.member).name);
        if (++frame.member != frame.end) {
          const MemberView next = *frame.member;
          visitor.BeginMember(next.name);
          node = &next.value;
          break;
        }
        visitor.EndStructure();
      }
      stack.Pop();
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Writing

template <class Writer>
class JsonWriterVisitor final : public ValueVisitor {
 public:
  // The walk stops once `buffer` holds more than `maxBytes`.
  JsonWriterVisitor(Writer& writer, const BindingRegistry* registry, const TextSink& buffer,
                    std::size_t maxBytes)
      : writer_(writer), registry_(registry), buffer_(buffer), maxBytes_(maxBytes) {}

  bool Stopped() const noexcept { return buffer_.size() > maxBytes_; }

  bool VisitEmpty() override { return writer_.Null(); }
  bool VisitBool(bool value) override { return writer_.Bool(value); }
  bool VisitSigned(int64_t value) override { return writer_.Int64(value); }
  bool VisitUnsigned(uint64_t value) override { return writer_.Uint64(value); }
  bool VisitFloat(double value) override {
    // The writer refuses non-finite numbers after it has written the separator; null keeps the
    // text valid.
    return std::isfinite(value) ? writer_.Double(value) : writer_.Null();
  }
  bool VisitString(std::string_view text) override {
    return writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  }
  bool VisitBlob(std::span<const uint8_t> bytes) override {
    const std::string text = base::Base64Encode(bytes.data(), bytes.size());
    return writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  }
  bool VisitEnum(const binding::BindingEnum& value) override {
    if (registry_ != nullptr && value.type != nullptr) {
      if (const char* name = registry_->EnumeratorName(value.type, value.number)) {
        return writer_.String(name);
      }
    }
    return writer_.Int(value.number);
  }
  bool BeginCollection(uint32_t /*count*/) override { return writer_.StartArray(); }
  bool EndCollection() override { return writer_.EndArray(); }
  bool BeginStructure(uint32_t /*count*/) override { return writer_.StartObject(); }
  bool BeginMember(std::string_view name) override {
    return writer_.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
  }
  bool EndStructure() override { return writer_.EndObject(); }

 private:
  Writer& writer_;
  const BindingRegistry* registry_;
  const TextSink& buffer_;
  std::size_t maxBytes_;
};

// ---------------------------------------------------------------------------------------------
// Reading

// A text that ends in a NUL byte after `length` bytes, read as RapidJSON reads any NUL-terminated
// text. Its end is known, so the bytes of a string can be looked at a word at a time without
// reading past it. The reader copies a string byte by byte, growing its stack for each, but first,
// before each byte, lets a reader copy the run of bytes up to the next one that ends the string,
// starts an escape or is refused (the bytes a written text escapes); specialised below. A run
// copied a word at a time also spares the reading of the string just after: a word read from
// bytes stored one at a time waits for them to reach the cache.
struct TerminatedStream : rapidjson::StringStream {
  TerminatedStream(const char* text, std::size_t length) noexcept
      : rapidjson::StringStream(text), end(text + length) {}
  const char* end;
};

using JsonReader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, JsonAllocator>;

// Where the run of plain bytes from the stream's place on ends. A run is at most a gibibyte, so
// that its length fits the reader's count; a longer one goes on from where it stopped.
inline const char* PlainTextRunEnd(const TerminatedStream& is, uint64_t* seen = nullptr) noexcept {
  constexpr std::size_t kMaxRun = std::size_t{1} << 30;
  const char* const start = is.src_;
  const bool whole = static_cast<std::size_t>(is.end - start) <= kMaxRun;
  return PlainRunEnd(start, whole ? is.end : start + kMaxRun, seen);
}

// Puts the plain run up to `stop` onto the reader's stack in one push, and goes on from there.
template <class StackStream>
inline void PushPlainRun(TerminatedStream& is, const char* stop, StackStream& os) {
  const auto run = static_cast<rapidjson::SizeType>(stop - is.src_);
  if (run != 0) CopyText(static_cast<char*>(os.Push(run)), is.src_, run);
  is.src_ = stop;
}

}  // namespace
}  // namespace vyn::formats

// Read in place, not copied at each token as RapidJSON copies its own string streams: a copy of
// this larger stream is read back whole right after its place was stored, which stalls.
template <>
struct rapidjson::StreamTraits<vyn::formats::TerminatedStream> {
  enum { copyOptimization = 0 };
};

// The reader's stack takes each run in one push. A run is at most a gibibyte, so that its length
// fits the stack stream's count; a longer one goes on from where it stopped.
template <>
template <>
inline void vyn::formats::JsonReader::ScanCopyUnescapedString(vyn::formats::TerminatedStream& is,
                                                              StackStream<char>& os) {
  vyn::formats::PushPlainRun(is, vyn::formats::PlainTextRunEnd(is), os);
}

namespace vyn::formats {
namespace {

// Builds the value while the reader runs: a stack of the open containers and, inside a structure,
// the member that the next value goes to. Each value first resets its slot, so a member named
// again is replaced as a whole, null included.
class JsonValueBuilder {
 public:
  explicit JsonValueBuilder(BindingProperty& root) : member_(&root) {}

  bool Null() {
    Slot().reset();
    return true;
  }
  bool Bool(bool value) {
    Slot().setBool(value);
    return true;
  }
  bool Int(int value) {
    Slot().setSigned(value);
    return true;
  }
  bool Uint(unsigned value) {
    Slot().setUnsigned(value);
    return true;
  }
  bool Int64(int64_t value) {
    Slot().setSigned(value);
    return true;
  }
  bool Uint64(uint64_t value) {
    Slot().setUnsigned(value);
    return true;
  }
  bool Double(double value) {
    Slot().setFloat(value);
    return true;
  }
  // Only called with the numbers-as-strings flag, which this reader does not use.
  bool RawNumber(const char* text, rapidjson::SizeType length, bool /*copy*/) {
    Slot().setString(std::string_view(text, length));
    return true;
  }
  // `ascii`: the reader saw that no byte of the text is from 0x80 up.
  bool String(const char* text, rapidjson::SizeType length, bool /*copy*/, bool ascii = false) {
    if (!ascii && !IsText(text, length)) return false;
    texts_.SetText(Slot(), std::string_view(text, length));
    return true;
  }
  bool StartObject() {
    if (open_.Size() >= kMaxJsonDepth) return false;
    BindingProperty& slot = Slot();
    slot.reset();
    members_.Open(slot);
    open_.Push(&slot);
    inCollection_ = false;
    return true;
  }
  bool Key(const char* text, rapidjson::SizeType length, bool /*copy*/, bool ascii = false) {
    if (!ascii && !IsText(text, length)) return false;
    member_ = &members_.Add(std::string_view(text, length));
    return true;
  }
  bool EndObject(rapidjson::SizeType /*count*/) {
    members_.Close();
    Closed();
    return true;
  }
  bool StartArray() {
    if (open_.Size() >= kMaxJsonDepth) return false;
    BindingProperty& slot = Slot();
    elements_.Open(slot);
    open_.Push(&slot);
    inCollection_ = true;
    return true;
  }
  bool EndArray(rapidjson::SizeType /*count*/) {
    elements_.Close();
    Closed();
    return true;
  }

  // After a string or member name was refused for not being UTF-8 (the reader then fails as a
  // handler error at the offset just after its closing quote): the offset of the first bad byte
  // in the decoded text; npos otherwise.
  std::size_t invalidText() const noexcept { return invalidText_; }

 private:
  // Every text is checked once, in one pass: a string without escapes where it stands in the
  // input (unless the reader, looking for its end, saw only bytes below 0x80), any other as
  // decoded, both what the input held as it is and what an escape produced. RapidJSON refuses a
  // \u escape of a high surrogate without a low one, but encodes a lone low surrogate (\uDC00 to
  // \uDFFF) on its own, as ED B0..BF xx, which is not UTF-8; that is caught here too.
  bool IsText(const char* text, std::size_t length) noexcept {
    invalidText_ = diagnostics::FindInvalidUtf8(text, length);
    return invalidText_ == std::string_view::npos;
  }

  // The node the next value goes to: a new element of the innermost open collection, or else the
  // member named last, which is the root until a structure opens. Elements and members collected
  // stay put while their containers are open, so the pointers on the stack stay valid.
  BindingProperty& Slot() { return inCollection_ ? elements_.Add() : *member_; }
  // After the innermost container closed.
  void Closed() {
    open_.Pop();
    inCollection_ = !open_.Empty() && open_.Top()->kind() == BindingPropertyKind::Collection;
  }

  binding::WalkStack<BindingProperty*> open_;  // a small document's depth takes no heap block
  MemberCollector members_;
  ElementCollector elements_;
  binding::KnownNames texts_;
  BindingProperty* member_;
  bool inCollection_ = false;  // the innermost open container is a collection
  std::size_t invalidText_ = std::string_view::npos;
};

}  // namespace
}  // namespace vyn::formats

// Most strings hold no escape: such a string is handed to the builder where it stands in the text,
// without the copy onto the reader's stack. Any other is read on from its first byte that is not
// plain, as the reader reads every string, and fails where and as it would.
template <>
template <>
inline void vyn::formats::JsonReader::ParseString<rapidjson::kParseDefaultFlags>(
    vyn::formats::TerminatedStream& is, vyn::formats::JsonValueBuilder& handler, bool isKey) {
  RAPIDJSON_ASSERT(is.Peek() == '"');
  is.Take();
  const char* const start = is.src_;
  uint64_t seen = 0;
  const char* const stop = vyn::formats::PlainTextRunEnd(is, &seen);
  const char* text = start;
  rapidjson::SizeType length = 0;
  bool copy = false, ascii = false;
  if (stop != is.end && *stop == '"') {
    is.src_ = stop + 1;
    length = static_cast<rapidjson::SizeType>(stop - start);
    ascii = (seen & 0x8080808080808080ull) == 0;
  } else {
    // The plain run before the escape (or the bad byte) is known already: it goes onto the stack
    // as it is, and the reader goes on from where it stopped.
    StackStream<char> stackStream(stack_);
    vyn::formats::PushPlainRun(is, stop, stackStream);
    ParseStringToStream<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>, rapidjson::UTF8<>>(
        is, stackStream);
    RAPIDJSON_PARSE_ERROR_EARLY_RETURN_VOID;
    length = static_cast<rapidjson::SizeType>(stackStream.Length()) - 1;
    text = stackStream.Pop();
    copy = true;
  }
  // One call of each, which the compiler then takes inline.
  const bool success =
      isKey ? handler.Key(text, length, copy, ascii) : handler.String(text, length, copy, ascii);
  if (RAPIDJSON_UNLIKELY(!success)) {
    RAPIDJSON_PARSE_ERROR(rapidjson::kParseErrorTermination, is.Tell());
  }
}

namespace vyn::formats {
namespace {

constexpr const char* kParseErrorTexts[] = {
    "No error.",
    "The document is empty.",
    "The document root must not be followed by other values.",
    "Invalid value.",
    "Missing a name for object member.",
    "Missing a colon after a name of object member.",
    "Missing a comma or '}' after an object member.",
    "Missing a comma or ']' after an array element.",
    "Incorrect hex digit after \\u escape in string.",
    "The surrogate pair in string is invalid.",
    "Invalid escape character in string.",
    "Missing a closing quotation mark in string.",
    "Invalid encoding in string.",
    "Number too big to be stored in double.",
    "Miss fraction part in number.",
    "Miss exponent in number.",
    "Terminate parsing due to Handler error.",
    "Unspecific syntax error.",
};

const char* ParseErrorText(unsigned code) noexcept {
  return code < std::size(kParseErrorTexts) ? kParseErrorTexts[code] : "Unknown error.";
}

void SetParseError(BindingResult& result, unsigned code, std::size_t offset) {
  result.SetError(diagnostics::FormatText("Error: %s at offset %u.", ParseErrorText(code), offset));
}

bool IsJsonBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

unsigned HexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

struct TextError {
  unsigned code;
  std::size_t offset;
};

// Where in the input the byte at `decoded` of a refused text came from. The text is the string
// whose closing quote is the byte before `end`, and the reader has accepted everything up to
// there, escapes included. Its opening quote is the nearest quote before that is not escaped, that
// is not preceded by an odd number of backslashes. A byte the input held as it is fails as
// "Invalid encoding in string." (code 12) at its own offset, as RapidJSON's encoding check would
// report it; a byte an escape produced can only be a lone low surrogate's, and fails as "The
// surrogate pair in string is invalid." (code 9) at the offset of its backslash, as RapidJSON
// reports a high surrogate without a low one.
TextError LocateTextError(const char* text, std::size_t end, std::size_t decoded) noexcept {
  const std::size_t close = end - 1;
  std::size_t open = close;
  while (open > 0) {
    --open;
    if (text[open] != '"') continue;
    std::size_t backslashes = 0;
    while (backslashes < open && text[open - 1 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 0) break;
  }
  std::size_t written = 0;
  for (std::size_t i = open + 1; i < close;) {
    if (text[i] != '\\') {
      if (written == decoded) return {rapidjson::kParseErrorStringInvalidEncoding, i};
      ++written;
      ++i;
      continue;
    }
    std::size_t produced = 1;  // \" \\ \/ \b \f \n \r \t
    std::size_t consumed = 2;
    if (text[i + 1] == 'u') {
      unsigned unit = 0;
      for (std::size_t k = 2; k < 6; ++k) unit = unit * 16 + HexDigitValue(text[i + k]);
      consumed = 6;
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        produced = 4;  // a pair: the reader checked its low half
        consumed = 12;
      } else {
        produced = unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
      }
    }
    if (decoded < written + produced) {
      return {rapidjson::kParseErrorStringUnicodeSurrogateInvalid, i};
    }
    written += produced;
    i += consumed;
  }
  return {rapidjson::kParseErrorStringInvalidEncoding, close};  // not reached for a refused text
}

bool OnlyNulBytes(const char* from, const char* end) noexcept {
  for (; from != end; ++from) {
    if (*from != '\0') return false;
  }
  return true;
}

// Runs the reader over a stream of `length` bytes (SIZE_MAX: up to the first NUL). The stream
// stops at a NUL; one that is followed by more than NUL bytes within the length is an error.
template <class Stream>
BindingResult ParseStream(Stream& stream, const char* text, std::size_t length) {
  BindingResult result;
  JsonAllocator allocator;
  JsonReader reader(&allocator);
  JsonValueBuilder builder(result);
  const rapidjson::ParseResult parsed =
      reader.Parse<rapidjson::kParseDefaultFlags>(stream, builder);
  if (parsed.IsError()) {
    if (parsed.Code() == rapidjson::kParseErrorTermination &&
        builder.invalidText() != std::string_view::npos) {
      const TextError error = LocateTextError(text, parsed.Offset(), builder.invalidText());
      SetParseError(result, error.code, error.offset);
      return result;
    }
    SetParseError(result, static_cast<unsigned>(parsed.Code()), parsed.Offset());
    return result;
  }
  const std::size_t stop = stream.Tell();
  if (length != std::numeric_limits<std::size_t>::max() && stop < length &&
      !OnlyNulBytes(text + stop, text + length)) {
    SetParseError(result, rapidjson::kParseErrorDocumentRootNotSingular, stop);
  }
  return result;
}

// True when the bytes hold no value: blanks only, possibly followed by NUL bytes only.
bool IsBlankText(const char* text, std::size_t length) noexcept {
  const char* end = text + length;
  const char* p = text;
  while (p != end && IsJsonBlank(*p)) ++p;
  return OnlyNulBytes(p, end);
}

}  // namespace

void VisitValue(const BindingProperty& value, ValueVisitor& visitor) { Walk(value, visitor); }

bool ToJson(const BindingProperty& value, const BindingRegistry* registry, const char* newline,
            std::size_t maxBytes, std::string& out) {
  TextSink buffer(out);
  if (value.kind() == BindingPropertyKind::Empty) return true;
  JsonAllocator allocator;
  if (newline == nullptr || *newline == '\0') {
    CompactWriter writer(buffer, &allocator);
    JsonWriterVisitor<CompactWriter> visitor(writer, registry, buffer, maxBytes);
    Walk(value, visitor);
  } else if (std::strcmp(newline, "\n") == 0) {
    PrettyWriter writer(buffer, &allocator);
    JsonWriterVisitor<PrettyWriter> visitor(writer, registry, buffer, maxBytes);
    Walk(value, visitor);
  } else {
    NewlineBuffer stream(buffer, newline);
    NewlinePrettyWriter writer(stream, &allocator);
    JsonWriterVisitor<NewlinePrettyWriter> visitor(writer, registry, buffer, maxBytes);
    Walk(value, visitor);
  }
  buffer.Finish();
  return out.size() <= maxBytes;
}

std::string ToJson(const BindingProperty& value, const BindingRegistry* registry,
                   const char* newline) {
  std::string text;
  (void)ToJson(value, registry, newline, std::numeric_limits<std::size_t>::max(), text);
  return text;
}

BindingResult ParseJson(const char* text) {
  if (text == nullptr) return BindingResult();
  const char* p = text;
  while (IsJsonBlank(*p)) ++p;
  if (*p == '\0') return BindingResult();
  rapidjson::StringStream stream(text);
  return ParseStream(stream, text, std::numeric_limits<std::size_t>::max());
}

BindingResult ParseJson(const char* text, std::size_t length) {
  if (text == nullptr || IsBlankText(text, length)) return BindingResult();
  rapidjson::MemoryStream stream(text, length);
  return ParseStream(stream, text, length);
}

BindingResult ParseJson(const std::string& text) {
  return ParseTerminatedJson(text.c_str(), text.size());
}

BindingResult ParseTerminatedJson(const char* text, std::size_t length) {
  if (text == nullptr || IsBlankText(text, length)) return BindingResult();
  // The reader takes no NUL: it stops at the first one, the terminator at the latest, so nothing
  // past the length is read.
  TerminatedStream stream(text, length);
  return ParseStream(stream, text, length);
}

bool LooksLikeJson(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  return i < text.size() && (text[i] == '{' || text[i] == '[');
}

}  // namespace vyn::formats
