// The survey corpora: one document model built with RapidJSON and written out three ways, so that
// every format carries the same data and every baseline reads the same bytes as our code.
#include "BenchCorpus.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <msgpack.hpp>
#include <string_view>
#include <utility>

#include "binding/PageCache.h"
#include "base/PluginAllocator.h"

namespace vyn::bench {
namespace {

using rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

constexpr uint64_t kMaxU64 = 18446744073709551615ull;
constexpr int64_t kMinI64 = -9223372036854775807ll - 1;
constexpr int64_t kMaxI64 = 9223372036854775807ll;
// Integers beyond 2^53 do not survive a plain YAML scalar (it is read through strtod), so the
// YAML writer tags them.
constexpr uint64_t kExactDoubleLimit = uint64_t{1} << 53;

const char* const kKinds[] = {"rating", "choice", "text", "matrix"};
const char* const kPrompts[] = {
    "How did you like the match? \"Rate\" it\n(1 = bad, 10 = great)",
    "Wie fandest du die Runde? \xC3\x9C"
    "berraschend \xE2\x80\x93 oder \xC3\xB6"
    "de?",
    "\xE8\xA9\xA6\xE5\x90\x88\xE3\x81\xAF\xE3\x81\xA9\xE3\x81\x86\xE3\x81\xA7\xE3\x81\x97\xE3"
    "\x81\x9F\xE3\x81\x8B\xEF\xBC\x9F \xF0\x9F\x98\x80 \xE2\x98\x85\xE2\x98\x85\xE2\x98\x85",
    "Tab\there, a backslash \\ and a control \x01 byte; slash / stays",
    "\xC3\x87"
    "a va? \xC3\x91"
    "and\xC3\xBA, se\xC3\xB1or. \xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE"
    "\xBD\xCE\xB9\xCE\xBA\xCE\xAC.",
};
const char* const kOptionTexts[] = {
    "Strongly disagree", "Disagree",
    "Neutral",           "Agree",
    "Strongly agree",    "N/A \xE2\x80\x94 didn't notice",
};
const char* const kTags[] = {"ranked", "aram", "co-op", "new-player", "veteran", "mobile"};

// SplitMix64: a fixed seed gives the same corpus everywhere.
class Random {
 public:
  uint64_t Next() noexcept {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) noexcept { return static_cast<std::size_t>(Next() % n); }

 private:
  uint64_t state_ = 0x5EED;
};

Value Text(std::string_view text, Allocator& allocator) {
  return Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

// Takes the value over (RapidJSON moves on add; values cannot be copied implicitly).
template <class V>
void Add(Value& object, const char* name, V&& value, Allocator& allocator) {
  Value key = Text(name, allocator);
  Value taken(std::move(value));
  object.AddMember(key, taken, allocator);
}

Value Limits(Allocator& allocator) {
  Value limits(rapidjson::kObjectType);
  Add(limits, "maxU64", Value(kMaxU64), allocator);
  Add(limits, "minI64", Value(kMinI64), allocator);
  Add(limits, "maxI64", Value(kMaxI64), allocator);
  Add(limits, "zero", Value(0u), allocator);
  Add(limits, "tiny", Value(1e-7), allocator);
  Add(limits, "huge", Value(1.5e300), allocator);
  Add(limits, "negative", Value(-2.5e-3), allocator);
  return limits;
}

Value Question(std::size_t i, Random& random, Allocator& allocator) {
  Value q(rapidjson::kObjectType);
  Add(q, "id", Value(static_cast<uint64_t>(i + 1)), allocator);
  Add(q, "kind", Text(kKinds[i % std::size(kKinds)], allocator), allocator);
  const std::string prompt =
      std::string(kPrompts[random.Below(std::size(kPrompts))]) + " #" + std::to_string(i);
  Add(q, "prompt", Text(prompt, allocator), allocator);
  Add(q, "required", Value(i % 3 == 0), allocator);
  Add(q, "weight", Value(0.125 + static_cast<double>(i) * 0.37), allocator);
  Add(q, "order", Value(-static_cast<int64_t>(i) - 1), allocator);

  Value scale(rapidjson::kObjectType);
  Add(scale, "min", Value(-5), allocator);
  Add(scale, "max", Value(10u), allocator);
  Add(scale, "step", Value(0.5), allocator);
  Value labels(rapidjson::kArrayType);
  labels.PushBack(Text(kOptionTexts[0], allocator), allocator);
  labels.PushBack(Text(kOptionTexts[4], allocator), allocator);
  Add(scale, "labels", labels, allocator);
  Add(q, "scale", scale, allocator);

  Value options(rapidjson::kArrayType);
  const std::size_t optionCount = 3 + random.Below(3);
  for (std::size_t k = 0; k < optionCount; ++k) {
    Value option(rapidjson::kObjectType);
    Add(option, "id", Value(static_cast<uint64_t>(i * 10 + k)), allocator);
    Add(option, "text", Text(kOptionTexts[(i + k) % std::size(kOptionTexts)], allocator),
        allocator);
    Add(option, "score", Value((static_cast<double>(k) - 1.5) * 1.25), allocator);
    Add(option, "next",
        k + 1 == optionCount ? Value(rapidjson::kNullType) : Value(static_cast<uint64_t>(i + 2)),
        allocator);
    Add(option, "exclusive", Value(k == 0), allocator);
    options.PushBack(option, allocator);
  }
  Add(q, "options", options, allocator);

  Value meta(rapidjson::kObjectType);
  Add(meta, "created", Value(uint64_t{1700000000000} + i * 7919), allocator);
  Add(meta, "author", Text("team-" + std::to_string(random.Below(40)), allocator), allocator);
  Value tags(rapidjson::kArrayType);
  for (std::size_t t = 0, n = 1 + random.Below(3); t < n; ++t) {
    tags.PushBack(Text(kTags[random.Below(std::size(kTags))], allocator), allocator);
  }
  Add(meta, "tags", tags, allocator);
  Add(meta, "limits", Limits(allocator), allocator);
  Value deepest(rapidjson::kArrayType);
  deepest.PushBack(Value(1u), allocator)
      .PushBack(Value(-2), allocator)
      .PushBack(Value(3.25), allocator)
      .PushBack(Value(true), allocator)
      .PushBack(Value(false), allocator)
      .PushBack(Value(rapidjson::kNullType), allocator)
      .PushBack(Text("deep", allocator), allocator);
  Value level3(rapidjson::kObjectType);
  Add(level3, "level3", deepest, allocator);
  Value level2(rapidjson::kObjectType);
  Add(level2, "level2", level3, allocator);
  Value nested(rapidjson::kObjectType);
  Add(nested, "level1", level2, allocator);
  Add(meta, "nested", nested, allocator);
  Add(q, "meta", meta, allocator);

  Add(q, "hint", Value(rapidjson::kNullType), allocator);
  if (i % 5 == 0) {
    Value condition(rapidjson::kObjectType);
    Add(condition, "questionId", Value(static_cast<uint64_t>(i)), allocator);
    Value equals(rapidjson::kArrayType);
    equals.PushBack(Value(1u), allocator).PushBack(Value(2u), allocator);
    Add(condition, "equals", equals, allocator);
    Add(q, "condition", condition, allocator);
  } else {
    Add(q, "condition", Value(false), allocator);
  }
  return q;
}

void BuildSurvey(rapidjson::Document& document, std::size_t questionCount) {
  Allocator& allocator = document.GetAllocator();
  Random random;
  document.SetObject();
  Add(document, "id", Value(4242u), allocator);
  Add(document, "title",
      Text("Player feedback \xE2\x80\x94 \"post-match\" survey \xE2\x98\x85", allocator),
      allocator);
  Add(document, "caption", Text("Tell us about your last match.\r\nIt takes a minute.", allocator),
      allocator);
  Add(document, "type", Text("questions", allocator), allocator);
  Add(document, "display", Text("modal", allocator), allocator);

  Value data(rapidjson::kObjectType);
  Value questions(rapidjson::kArrayType);
  questions.Reserve(static_cast<rapidjson::SizeType>(questionCount), allocator);
  for (std::size_t i = 0; i < questionCount; ++i) {
    questions.PushBack(Question(i, random, allocator), allocator);
  }
  Add(data, "questions", questions, allocator);
  Add(data, "locale", Text("de_DE", allocator), allocator);
  Add(data, "version", Value(3u), allocator);
  Add(data, "extremes", Limits(allocator), allocator);
  Value flags(rapidjson::kArrayType);
  flags.PushBack(Value(true), allocator)
      .PushBack(Value(false), allocator)
      .PushBack(Value(rapidjson::kNullType), allocator);
  Add(data, "flags", flags, allocator);
  Add(document, "data", data, allocator);
}

std::string WriteJson(const Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

// --- MessagePack ---------------------------------------------------------------------------------

void WriteMsgPack(const Value& value, msgpack::packer<msgpack::sbuffer>& packer) {
  switch (value.GetType()) {
    case rapidjson::kNullType:
      packer.pack_nil();
      break;
    case rapidjson::kFalseType:
      packer.pack_false();
      break;
    case rapidjson::kTrueType:
      packer.pack_true();
      break;
    case rapidjson::kStringType:
      packer.pack_str(value.GetStringLength());
      packer.pack_str_body(value.GetString(), value.GetStringLength());
      break;
    case rapidjson::kNumberType:
      if (value.IsDouble()) {
        packer.pack_double(value.GetDouble());
      } else if (value.IsUint64()) {
        packer.pack_uint64(value.GetUint64());
      } else {
        packer.pack_int64(value.GetInt64());
      }
      break;
    case rapidjson::kArrayType:
      packer.pack_array(value.Size());
      for (const Value& element : value.GetArray()) WriteMsgPack(element, packer);
      break;
    case rapidjson::kObjectType:
      packer.pack_map(value.MemberCount());
      for (const auto& member : value.GetObject()) {
        WriteMsgPack(member.name, packer);
        WriteMsgPack(member.value, packer);
      }
      break;
  }
}

// --- YAML ----------------------------------------------------------------------------------------

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02X", byte);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

bool IsPlainKey(std::string_view key) {
  if (key.empty()) return false;
  for (const char c : key) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
    if (!word) return false;
  }
  return true;
}

void AppendScalar(std::string& out, const Value& value) {
  switch (value.GetType()) {
    case rapidjson::kNullType:
      out += '~';
      break;
    case rapidjson::kFalseType:
      out += "false";
      break;
    case rapidjson::kTrueType:
      out += "true";
      break;
    case rapidjson::kStringType:
      AppendQuoted(out, std::string_view(value.GetString(), value.GetStringLength()));
      break;
    case rapidjson::kNumberType:
      if (value.IsDouble()) {
        // An integral double would read back as an integer, a huge one out of range.
        const double d = value.GetDouble();
        if (std::trunc(d) == d) out += "!!float ";
        out += WriteJson(value);
      } else if (value.IsUint64()) {
        if (value.GetUint64() > kExactDoubleLimit) out += "!!int ";
        out += std::to_string(value.GetUint64());
      } else {
        const int64_t v = value.GetInt64();
        if (v < -static_cast<int64_t>(kExactDoubleLimit)) out += "!!int ";
        out += std::to_string(v);
      }
      break;
    case rapidjson::kArrayType:
      out += "[]";
      break;
    case rapidjson::kObjectType:
      out += "{}";
      break;
  }
}

bool IsBlock(const Value& value) {
  return (value.IsArray() && !value.Empty()) || (value.IsObject() && value.MemberCount() != 0);
}

void WriteYamlBlock(std::string& out, const Value& value, std::size_t indent, bool prefixed);

// A block value under a key or a sequence dash: a nested sequence or mapping on its own lines.
void WriteYamlChild(std::string& out, const Value& value, std::size_t indent) {
  if (!IsBlock(value)) {
    out += ' ';
    AppendScalar(out, value);
    out += '\n';
    return;
  }
  out += '\n';
  WriteYamlBlock(out, value, indent, false);
}

// `prefixed`: the first line's indentation is already written (after "- ").
void WriteYamlBlock(std::string& out, const Value& value, std::size_t indent, bool prefixed) {
  bool first = true;
  if (value.IsArray()) {
    for (const Value& element : value.GetArray()) {
      if (!(first && prefixed)) out.append(indent, ' ');
      first = false;
      if (element.IsObject() && element.MemberCount() != 0) {
        out += "- ";
        WriteYamlBlock(out, element, indent + 2, true);
      } else {
        out += '-';
        WriteYamlChild(out, element, indent + 2);
      }
    }
    return;
  }
  for (const auto& member : value.GetObject()) {
    if (!(first && prefixed)) out.append(indent, ' ');
    first = false;
    const std::string_view key(member.name.GetString(), member.name.GetStringLength());
    if (IsPlainKey(key)) {
      out += key;
    } else {
      AppendQuoted(out, key);
    }
    out += ':';
    WriteYamlChild(out, member.value, indent + 2);
  }
}

std::string WriteYaml(const Value& value) {
  std::string out = "---\n";
  WriteYamlBlock(out, value, 0, false);
  return out;
}

Corpus MakeCorpus(std::string name, std::size_t questionCount) {
  rapidjson::Document document;
  BuildSurvey(document, questionCount);
  Corpus corpus;
  corpus.name = std::move(name);
  corpus.json = WriteJson(document);
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  WriteMsgPack(document, packer);
  corpus.msgPack.assign(reinterpret_cast<const uint8_t*>(buffer.data()),
                        reinterpret_cast<const uint8_t*>(buffer.data()) + buffer.size());
  corpus.yaml = WriteYaml(document);
  return corpus;
}

// The question count that brings the JSON text nearest to `targetBytes`.
std::size_t QuestionsFor(std::size_t targetBytes) {
  constexpr std::size_t kProbe = 64;
  rapidjson::Document none;
  BuildSurvey(none, 0);
  rapidjson::Document some;
  BuildSurvey(some, kProbe);
  const std::size_t base = WriteJson(none).size();
  const std::size_t perQuestion = (WriteJson(some).size() - base) / kProbe;
  return targetBytes <= base ? 1 : (targetBytes - base + perQuestion / 2) / perQuestion;
}

}  // namespace

const Corpus& LargeSurvey() {
  static const Corpus corpus = MakeCorpus("1MB", QuestionsFor(1 << 20));
  return corpus;
}

const Corpus& SmallSurvey() {
  static const Corpus corpus = MakeCorpus("10KB", QuestionsFor(10 << 10));
  return corpus;
}

const Corpus& TinySurvey() {
  static const Corpus corpus = [] {
    rapidjson::Document document;
    Allocator& allocator = document.GetAllocator();
    document.SetObject();
    Add(document, "id", Value(7u), allocator);
    Add(document, "title", Text("Quick one", allocator), allocator);
    Add(document, "type", Text("questions", allocator), allocator);
    Value data(rapidjson::kObjectType);
    Add(data, "questions", Value(rapidjson::kArrayType), allocator);
    Add(document, "data", data, allocator);
    Corpus tiny;
    tiny.name = "tiny";
    tiny.json = WriteJson(document);
    msgpack::sbuffer buffer;
    msgpack::packer<msgpack::sbuffer> packer(buffer);
    WriteMsgPack(document, packer);
    tiny.msgPack.assign(reinterpret_cast<const uint8_t*>(buffer.data()),
                        reinterpret_cast<const uint8_t*>(buffer.data()) + buffer.size());
    tiny.yaml = WriteYaml(document);
    return tiny;
  }();
  return corpus;
}

void ParseDocument(const Corpus& corpus, rapidjson::Document& document) {
  document.Parse(corpus.json.c_str());
}

namespace {

// The page cache as the plugin keeps it while it serves (see PageCacheRetention), unless
// VYN_BENCH_COLD is set: then every tree maps and unmaps its regions as a bare core user would.
struct ServingRetention {
  ServingRetention() {
    const char* cold = std::getenv("VYN_BENCH_COLD");
    if (cold != nullptr && *cold != '\0') return;
    const char* limit = std::getenv("VYN_BENCH_RETAIN");  // experiments with other limits
    retention = std::make_unique<binding::PageCacheRetention>(
        limit != nullptr ? std::strtoul(limit, nullptr, 10) : binding::kServingRetainedRegions);
  }
  std::unique_ptr<binding::PageCacheRetention> retention;
};
const ServingRetention kServingRetention;

}  // namespace

const Corpus& CorpusOf(const benchmark::State& state) {
  return state.range(0) == 0 ? LargeSurvey() : SmallSurvey();
}

void Describe(benchmark::State& state, const Corpus& corpus, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  state.SetLabel(corpus.name);
}

uint64_t LiveBytesNow() { return base::LiveBytes(base::GetAllocationStats()); }

void CheckLiveBytes(benchmark::State& state, uint64_t before, uint64_t after) {
  if (after == before) return;
  const std::string message =
      "live bytes " + std::to_string(before) + " before, " + std::to_string(after) + " after";
  state.SkipWithError(message.c_str());
}

}  // namespace vyn::bench
