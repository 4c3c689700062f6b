// The MessagePack reader: a loop over type bytes with an explicit stack of open arrays and maps,
// so that the native stack stays flat however deep the input nests.
#include "formats/MsgPack.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "binding/KnownNames.h"
#include "binding/MemberCollector.h"
#include "diagnostics/FormatText.h"
#include "diagnostics/Utf8Text.h"
#include "formats/Json.h"

namespace vyn::formats {
namespace {

using binding::BindingProperty;
using binding::BindingResult;
using binding::MemberCollector;
using diagnostics::FormatText;

static_assert(kMaxMsgPackDepth == kMaxJsonDepth, "both readers nest equally deep");

// One open array or map. Scalars never get a frame: they are complete once read.
struct MsgPackFrame {
  BindingProperty* container;  // the collection or structure being filled
  std::size_t bodyPosition;    // offset of the first item, named when the input ends early
  uint32_t announced;          // elements, or pairs of a map
  uint32_t remaining;          // elements (pairs) not yet started
  bool isMap;
};

// A stack of frames that keeps the first 16 in place and moves to the heap only for deeper input,
// so that ordinary bodies cost no allocation for the bookkeeping. Pointers into it are invalidated
// by Push.
class FrameStack {
 public:
  static constexpr std::size_t kInitialCapacity = 16;

  FrameStack() noexcept = default;
  FrameStack(const FrameStack&) = delete;
  FrameStack& operator=(const FrameStack&) = delete;

  bool Empty() const noexcept { return size_ == 0; }
  std::size_t Size() const noexcept { return size_; }
  MsgPackFrame& Top() noexcept { return data_[size_ - 1]; }
  void Pop() noexcept { --size_; }
  void Push(const MsgPackFrame& frame) {
    if (size_ == capacity_) Grow();
    data_[size_++] = frame;
  }

 private:
  void Grow() {
    std::vector<MsgPackFrame> bigger(capacity_ * 2);
    std::copy(data_, data_ + size_, bigger.begin());
    spill_.swap(bigger);
    data_ = spill_.data();
    capacity_ = spill_.size();
  }

  MsgPackFrame inline_[kInitialCapacity];
  std::vector<MsgPackFrame> spill_;
  MsgPackFrame* data_ = inline_;
  std::size_t size_ = 0;
  std::size_t capacity_ = kInitialCapacity;
};

template <std::size_t N>
constexpr const char* kTruncatedIntegerMessage =
    N == 1   ? "Invalid MessagePack data. 8-bit integer value at position %1 is truncated."
    : N == 2 ? "Invalid MessagePack data. 16-bit integer value at position %1 is truncated."
    : N == 4 ? "Invalid MessagePack data. 32-bit integer value at position %1 is truncated."
             : "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";

constexpr const char* kInvalidTypeMessage = "Invalid MessagePack data at position %1.";
constexpr const char* kKeyNotStringMessage =
    "Invalid MessagePack data at position %1. Map keys must be strings.";
constexpr const char* kTruncatedStringMessage =
    "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
constexpr const char* kInvalidStringMessage =
    "Invalid MessagePack data. String of size %1 at position %2 is not valid UTF-8.";
constexpr const char* kTruncatedBlobMessage =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";
constexpr const char* kTruncatedCollectionMessage =
    "Invalid MessagePack data. Collection of size %1 at position %2 is truncated.";
constexpr const char* kTruncatedMapMessage =
    "Invalid MessagePack data. Map of size %1 at position %2 is truncated.";
constexpr const char* kCollectionTooLargeMessage =
    "Invalid MessagePack data. Collection of size %1 at position %2 is too large.";
constexpr const char* kTooDeepMessage =
    "Invalid MessagePack data. Nesting deeper than %1 levels at position %2.";

template <std::size_t N>
inline uint64_t LoadBigEndian(const uint8_t* at) noexcept {
  if constexpr (N == 1) {
    return *at;
  } else if constexpr (N == 2) {
    uint16_t v;
    std::memcpy(&v, at, 2);
    return __builtin_bswap16(v);
  } else if constexpr (N == 4) {
    uint32_t v;
    std::memcpy(&v, at, 4);
    return __builtin_bswap32(v);
  } else {
    static_assert(N == 8);
    uint64_t v;
    std::memcpy(&v, at, 8);
    return __builtin_bswap64(v);
  }
}

// Reads one value and everything nested in it into the result. The result is the only sink for
// errors: the first one is stored and the loop ends at once, since SetError releases the partly
// built tree that the frames point into.
class MsgPackReader {
 public:
  MsgPackReader(const uint8_t* bytes, std::size_t length, BindingResult& result) noexcept
      : bytes_(bytes), length_(length), result_(result) {}

  void Run() {
    BindingProperty* slot = &result_;
    for (;;) {
      if (position_ == length_) {
        // The root slot itself may stay unread (empty input); an open container may not.
        if (!frames_.Empty()) FailTruncated(frames_.Top());
        return;
      }
      if (!ReadValue(bytes_[position_++], *slot)) return;
      slot = NextSlot();
      if (slot == nullptr) return;
    }
  }

  std::size_t Position() const noexcept { return position_; }

 private:
  // The slot the next item goes into: a new element, or the member named by a freshly read key.
  // Completed containers are closed on the way. Null when the root is complete or on an error.
  BindingProperty* NextSlot() {
    while (!frames_.Empty()) {
      MsgPackFrame& top = frames_.Top();
      if (top.remaining == 0) {
        if (top.isMap) members_.Close();
        frames_.Pop();
        continue;
      }
      --top.remaining;
      if (!top.isMap) {
        --pendingItems_;
        return &top.container->appendElement();
      }
      pendingItems_ -= 2;
      if (position_ == length_) {
        FailTruncated(top);
        return nullptr;
      }
      // Of a key given twice the later value stays, as the collector keeps the last.
      return AddMember(bytes_[position_++]);
    }
    return nullptr;
  }

  // The member that the key with header `type` names, added to the innermost open map; null after
  // an error.
  BindingProperty* AddMember(uint8_t type) {
    uint64_t size;
    if (type >= 0xA0 && type <= 0xBF) {
      size = type & 0x1Fu;
    } else if (type == 0xD9) {
      if (!ReadNumber<1>(size)) return nullptr;
    } else if (type == 0xDA) {
      if (!ReadNumber<2>(size)) return nullptr;
    } else if (type == 0xDB) {
      if (!ReadNumber<4>(size)) return nullptr;
    } else {
      Fail(FormatText(kKeyNotStringMessage, position_));
      return nullptr;
    }
    if (!HasBody(size, kTruncatedStringMessage)) return nullptr;
    // Checked against the bytes left, so the size fits a size_t from here on.
    const auto bytes = static_cast<std::size_t>(size);
    const std::string_view key(reinterpret_cast<const char*>(bytes_ + position_), bytes);
    // The name expected was checked as UTF-8 when it was first read.
    BindingProperty* member = members_.AddExpected(key);
    if (member == nullptr) {
      if (!IsText(key)) return nullptr;
      member = &members_.AddUnexpected(key);
    }
    position_ += bytes;
    return member;
  }

  // `type` is the byte before position_: the value's header starts there.
  bool ReadValue(uint8_t type, BindingProperty& slot) {
    const std::size_t header = position_ - 1;
    if (type < 0x80) {
      slot.setSigned(type);
      return true;
    }
    if (type >= 0xE0) {
      slot.setSigned(static_cast<int8_t>(type));
      return true;
    }
    if (type < 0x90) return Open(slot, type & 0x0Fu, true, header);
    if (type < 0xA0) return Open(slot, type & 0x0Fu, false, header);
    if (type < 0xC0) return ReadString(slot, type & 0x1Fu);

    uint64_t n;
    switch (type) {
      case 0xC0:
        // Nil leaves the slot empty, as every slot starts: a repeated key gets a member of its
        // own, of which the collector keeps the last.
        return true;
      case 0xC2:
        slot.setBool(false);
        return true;
      case 0xC3:
        slot.setBool(true);
        return true;
      case 0xC4:
        return ReadNumber<1>(n) && ReadBlob(slot, n);
      case 0xC5:
        return ReadNumber<2>(n) && ReadBlob(slot, n);
      case 0xC6:
        return ReadNumber<4>(n) && ReadBlob(slot, n);
      case 0xCA:
        if (!ReadNumber<4>(n)) return false;
        slot.setFloat(std::bit_cast<float>(static_cast<uint32_t>(n)));
        return true;
      case 0xCB:
        if (!ReadNumber<8>(n)) return false;
        slot.setFloat(std::bit_cast<double>(n));
        return true;
      case 0xCC:
        return ReadUnsigned<1>(slot);
      case 0xCD:
        return ReadUnsigned<2>(slot);
      case 0xCE:
        return ReadUnsigned<4>(slot);
      case 0xCF:
        return ReadUnsigned<8>(slot);
      case 0xD0:
        if (!ReadNumber<1>(n)) return false;
        slot.setSigned(static_cast<int8_t>(n));
        return true;
      case 0xD1:
        if (!ReadNumber<2>(n)) return false;
        slot.setSigned(static_cast<int16_t>(n));
        return true;
      case 0xD2:
        if (!ReadNumber<4>(n)) return false;
        slot.setSigned(static_cast<int32_t>(n));
        return true;
      case 0xD3:
        if (!ReadNumber<8>(n)) return false;
        slot.setSigned(static_cast<int64_t>(n));
        return true;
      case 0xD9:
        return ReadNumber<1>(n) && ReadString(slot, n);
      case 0xDA:
        return ReadNumber<2>(n) && ReadString(slot, n);
      case 0xDB:
        return ReadNumber<4>(n) && ReadString(slot, n);
      case 0xDC:
        return ReadNumber<2>(n) && Open(slot, static_cast<uint32_t>(n), false, header);
      case 0xDD:
        return ReadNumber<4>(n) && Open(slot, static_cast<uint32_t>(n), false, header);
      case 0xDE:
        return ReadNumber<2>(n) && Open(slot, static_cast<uint32_t>(n), true, header);
      case 0xDF:
        return ReadNumber<4>(n) && Open(slot, static_cast<uint32_t>(n), true, header);
      default:
        // 0xC1 (never used) and the extension types 0xC7 to 0xC9 and 0xD4 to 0xD8.
        return Fail(FormatText(kInvalidTypeMessage, position_));
    }
  }

  template <std::size_t N>
  bool ReadNumber(uint64_t& value) {
    if (length_ - position_ < N) return Fail(FormatText(kTruncatedIntegerMessage<N>, position_));
    value = LoadBigEndian<N>(bytes_ + position_);
    position_ += N;
    return true;
  }

  template <std::size_t N>
  bool ReadUnsigned(BindingProperty& slot) {
    uint64_t value;
    if (!ReadNumber<N>(value)) return false;
    slot.setUnsigned(value);
    return true;
  }

  bool HasBody(uint64_t size, const char* message) {
    if (size <= length_ - position_) return true;
    return FailSized(message, size);
  }

  // The string's bytes are all in the buffer and form well-formed UTF-8.
  bool HasText(uint64_t size) {
    if (!HasBody(size, kTruncatedStringMessage)) return false;
    return IsText(std::string_view(reinterpret_cast<const char*>(bytes_ + position_),
                                   static_cast<std::size_t>(size)));
  }
  // `text`, the string at position_, forms well-formed UTF-8.
  bool IsText(std::string_view text) {
    if (diagnostics::FindInvalidUtf8(text) == std::string_view::npos) [[likely]]
      return true;
    return FailSized(kInvalidStringMessage, text.size());
  }

  // Out of line, so that the checks that call it on every string need no frame for the message.
  [[gnu::noinline, gnu::cold]] bool FailSized(const char* message, uint64_t size) {
    return Fail(FormatText(message, static_cast<unsigned long long>(size), position_));
  }

  bool ReadString(BindingProperty& slot, uint64_t size) {
    if (!HasText(size)) return false;
    const auto bytes = static_cast<std::size_t>(size);  // fits: checked against the bytes left
    texts_.SetText(slot,
                   std::string_view(reinterpret_cast<const char*>(bytes_ + position_), bytes));
    position_ += bytes;
    return true;
  }

  bool ReadBlob(BindingProperty& slot, uint64_t size) {
    if (!HasBody(size, kTruncatedBlobMessage)) return false;
    const auto bytes = static_cast<std::size_t>(size);  // fits: checked against the bytes left
    slot.setBlob(std::span<const uint8_t>(bytes_ + position_, bytes));
    position_ += bytes;
    return true;
  }

  // Turns the slot into an empty container and, unless it is empty, opens a frame for its items.
  // The frames are the open containers around the slot, so the new one is at level Size() + 1;
  // `header` is the offset of its type byte.
  bool Open(BindingProperty& slot, uint32_t count, bool isMap, std::size_t header) {
    if (frames_.Size() >= kMaxMsgPackDepth) {
      return Fail(FormatText(kTooDeepMessage, kMaxMsgPackDepth, header));
    }
    if (isMap) {
      // The structure is made once its last member is read; the count lets the members of a
      // kind the collector knows go straight to their places.
      if (count != 0) {
        members_.Open(slot, count);
      } else {
        slot.makeStructure();
      }
    } else {
      if (count > BindingProperty::kMaxElements) {
        return Fail(FormatText(kCollectionTooLargeMessage, count, position_));
      }
      slot.makeCollection();
      // Every item takes at least one byte, and so does every item still owed to the enclosing
      // containers: a hostile count cannot make us reserve more than the input could fill.
      if (count != 0) {
        const std::size_t left = length_ - position_;
        const std::size_t budget =
            left > pendingItems_ ? static_cast<std::size_t>(left - pendingItems_) : 0;
        (void)slot.tryReserve(std::min<std::size_t>(count, budget));
      }
    }
    if (count == 0) return true;
    const uint64_t owed = isMap ? 2 * uint64_t{count} : count;
    // Saturates on absurd nesting of huge counts; the budget only guides reserve.
    pendingItems_ = owed > kNoBudget - pendingItems_ ? kNoBudget : pendingItems_ + owed;
    frames_.Push(MsgPackFrame{&slot, position_, count, count, isMap});
    return true;
  }

  void FailTruncated(const MsgPackFrame& frame) {
    (void)Fail(FormatText(frame.isMap ? kTruncatedMapMessage : kTruncatedCollectionMessage,
                          frame.announced, frame.bodyPosition));
  }

  bool Fail(const std::string& message) {
    result_.SetError(message);
    return false;
  }

  static constexpr uint64_t kNoBudget = std::numeric_limits<uint64_t>::max();

  const uint8_t* const bytes_;
  const std::size_t length_;
  std::size_t position_ = 0;
  // Items announced by the open containers and not yet started (a pair counts two).
  uint64_t pendingItems_ = 0;
  BindingResult& result_;
  FrameStack frames_;
  // On an error, the maps still open keep their members here until the reader goes, after the
  // result has let go of its tree: the collector releases them then.
  MemberCollector members_;
  binding::KnownNames texts_;
};

}  // namespace

BindingResult ParseMsgPack(const uint8_t* bytes, std::size_t length, std::size_t& consumed) {
  BindingResult result;
  consumed = 0;
  if (bytes == nullptr || length == 0) return result;
  MsgPackReader reader(bytes, length, result);
  reader.Run();
  consumed = reader.Position();
  return result;
}

bool LooksLikeMsgPack(const uint8_t* bytes, std::size_t length) noexcept {
  if (bytes == nullptr || length == 0) return false;
  const uint8_t first = bytes[0];
  return (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
}

}  // namespace vyn::formats
