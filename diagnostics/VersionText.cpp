// Text forms of version numbers and plugin type pairs.
#include "diagnostics/VersionText.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace vyn::diagnostics {
namespace {

// Appends as much of piece as fits before the terminator's byte.
class BoundedWriter {
 public:
  BoundedWriter(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {
    if (size_ > 0) buffer_[0] = '\0';
  }
  void Append(std::string_view piece) {
    if (size_ == 0) return;
    const std::size_t room = size_ - 1 - length_;
    const std::size_t count = piece.size() < room ? piece.size() : room;
    std::memcpy(buffer_ + length_, piece.data(), count);
    length_ += count;
    buffer_[length_] = '\0';
  }
  void AppendNumber(uint32_t value) {
    char digits[16];
    const auto converted = std::to_chars(digits, digits + sizeof digits, value);
    Append(std::string_view(digits, static_cast<std::size_t>(converted.ptr - digits)));
  }
  std::size_t Length() const { return length_; }

 private:
  char* buffer_;
  std::size_t size_;
  std::size_t length_ = 0;
};

template <typename Sink>
void WriteVersion(Sink& sink, const PluginApiVersion& version) {
  sink.AppendNumber(version.major);
  sink.Append(".");
  sink.AppendNumber(version.minor);
  sink.Append(".");
  sink.AppendNumber(version.patch);
  if (!version.preRelease.empty()) {
    sink.Append("-");
    sink.Append(version.preRelease);
  }
  if (!version.build.empty()) {
    sink.Append("+");
    sink.Append(version.build);
  }
}

class StringWriter {
 public:
  void Append(std::string_view piece) { text_.append(piece); }
  void AppendNumber(uint32_t value) { text_.append(std::to_string(value)); }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace

std::string VersionText(const PluginApiVersion& version) {
  StringWriter writer;
  WriteVersion(writer, version);
  return writer.Take();
}

std::size_t WriteVersionText(char* buffer, std::size_t size, const PluginApiVersion& version) {
  BoundedWriter writer(buffer, size);
  WriteVersion(writer, version);
  return writer.Length();
}

std::size_t WritePluginTypeText(char* buffer, std::size_t size, const PluginType& pluginType) {
  BoundedWriter writer(buffer, size);
  writer.Append(pluginType.type);
  writer.Append(":");
  writer.Append(pluginType.detail);
  return writer.Length();
}

}  // namespace vyn::diagnostics
