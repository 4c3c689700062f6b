// The walk over the YAML parser's events: one pass that fills the value tree in place, records
// anchors by the path of their node and copies that node for each alias.
#include "formats/Yaml.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <yaml.h>

#include "binding/KnownNames.h"
#include "diagnostics/FormatText.h"
#include "diagnostics/Utf8Text.h"
#include "formats/YamlScalar.h"

namespace vyn::formats {

using binding::BindingProperty;
using binding::BindingPropertyKind;
using binding::BindingResult;
using diagnostics::FormatText;

namespace {

const char* Text(const yaml_char_t* text) { return reinterpret_cast<const char*>(text); }

// The tag of a scalar, sequence or mapping event; null for none and for other events.
const yaml_char_t* TagOf(const yaml_event_t& event) {
  switch (event.type) {
    case YAML_SCALAR_EVENT:
      return event.data.scalar.tag;
    case YAML_SEQUENCE_START_EVENT:
      return event.data.sequence_start.tag;
    case YAML_MAPPING_START_EVENT:
      return event.data.mapping_start.tag;
    default:
      return nullptr;
  }
}

// 1-based, as people count lines and columns.
std::size_t Line(const yaml_event_t& event) { return event.start_mark.line + 1; }
std::size_t Column(const yaml_event_t& event) { return event.start_mark.column + 1; }

class ParserGuard {
 public:
  ParserGuard() { initialized_ = yaml_parser_initialize(&parser_) != 0; }
  ~ParserGuard() {
    if (initialized_) yaml_parser_delete(&parser_);
  }
  ParserGuard(const ParserGuard&) = delete;
  ParserGuard& operator=(const ParserGuard&) = delete;
  bool Initialized() const { return initialized_; }
  yaml_parser_t* Get() { return &parser_; }

 private:
  yaml_parser_t parser_{};
  bool initialized_ = false;
};

class EventGuard {
 public:
  explicit EventGuard(yaml_event_t& event) : event_(event) {}
  ~EventGuard() { yaml_event_delete(&event_); }
  EventGuard(const EventGuard&) = delete;
  EventGuard& operator=(const EventGuard&) = delete;

 private:
  yaml_event_t& event_;
};

class YamlWalker {
 public:
  explicit YamlWalker(BindingResult& result) : result_(result) {}

  // Stops at the first error, which `result_` then holds.
  void Handle(const yaml_event_t& event);

 private:
  static constexpr std::size_t kNoPath = SIZE_MAX;

  // How a node hangs below its container. The name is the member's own record, which stays while
  // the node is being filled and, for a container, while it is open.
  struct Place {
    bool isIndex = false;
    uint32_t index = 0;
    std::string_view name;
  };

  // One step from the root to a node that aliases may need to find again. A step is shared by
  // everything below it, so recording an anchor costs one step rather than a copy of the path,
  // and the steps stay proportional to the input.
  struct PathStep {
    std::size_t parent;  // kNoPath for the root itself
    bool isIndex;
    uint32_t index;
    std::string name;  // a repeated key may replace the member and its name
  };

  struct Anchor {
    std::size_t path = kNoPath;  // the anchored node; kNoPath for an anchored mapping key
    std::string text;            // the key's text, or the source text of an anchored scalar
    bool keyable = false;        // an alias of it may stand as a mapping key
    bool open = false;           // the anchored container has not ended yet
  };

  // The node an event fills.
  struct Slot {
    BindingProperty* node = nullptr;
    bool isKey = false;  // the event stands where a mapping expects its next key
    Place place;
  };

  // Anchors are rare, so a container's step is recorded only once an anchor at or below it
  // needs one: until then `path` is kNoPath.
  struct OpenContainer {
    BindingProperty* node;
    Anchor* anchor;  // null without one; entries never move in the node-based table
    bool mapping;
    std::size_t path;
    Place place;
  };

  bool ChooseSlot(const yaml_event_t& event, Slot& slot);
  void HandleScalar(const yaml_event_t& event, Slot& slot);
  void HandleStart(const yaml_event_t& event, Slot& slot, bool mapping);
  void HandleAlias(const yaml_event_t& event, Slot& slot);
  void HandleEnd();
  // Records the step of `slot`, below the innermost open container, and first those of the open
  // containers that have none yet.
  std::size_t AddPath(const Slot& slot);
  Anchor* RecordAnchor(const yaml_event_t& event, const yaml_char_t* name, Anchor anchor);
  const BindingProperty& Resolve(std::size_t path, std::size_t& depth) const;
  bool ChargeAliasCopy(const yaml_event_t& event, const BindingProperty& source);
  bool ChargeAlias(const yaml_event_t& event, std::size_t nodes, std::size_t bytes);
  void Fail(const char* format, const yaml_event_t& event);
  void FailAlias(const char* format, const yaml_event_t& event);

  BindingResult& result_;
  std::vector<OpenContainer> open_;
  std::vector<PathStep> paths_;
  std::unordered_map<std::string, Anchor> anchors_;
  // The keys of a list's records repeat, so they are interned through names kept at hand.
  binding::KnownNames names_;
  // The key read last, until its value comes; null when the mapping expects a key.
  const binding::InternedString* pendingKey_ = nullptr;
  // The members of the mapping that closed last at each depth. Mappings at one depth are most
  // often records of one kind (the elements of a list, or the same member of each of them), so a
  // mapping is made with room for as many members as the one before it, where its array would
  // grow one doubling at a time. A mapping's count serves only the next one at its depth, so the
  // room left unused is at most the members read.
  uint32_t closedMembers_[kYamlMaxDepth] = {};
  std::size_t aliasNodes_ = 0;
  std::size_t aliasBytes_ = 0;
};

void YamlWalker::Handle(const yaml_event_t& event) {
  switch (event.type) {
    case YAML_DOCUMENT_START_EVENT:
      if (result_.kind() != BindingPropertyKind::Empty) {
        result_.SetError("Multi-document YAML is not supported.");
      }
      return;
    case YAML_SEQUENCE_END_EVENT:
    case YAML_MAPPING_END_EVENT:
      HandleEnd();
      return;
    case YAML_SCALAR_EVENT:
    case YAML_SEQUENCE_START_EVENT:
    case YAML_MAPPING_START_EVENT:
    case YAML_ALIAS_EVENT:
      break;
    default:
      return;  // stream start and end, document end
  }
  // The library checks that the input is UTF-8, but decodes a tag's %-escapes checking only the
  // shape of each sequence, so "!x%C0%80" and "!<%ED%A0%80>" get through, and an unsupported tag
  // would reach an error message as it is. The check is completed here and reported as the
  // library reports an escape of the wrong shape ("found an incorrect leading UTF-8 octet"),
  // with the library's numbering from 0, at the node that carries the tag.
  const yaml_char_t* tag = TagOf(event);
  if (tag != nullptr && !diagnostics::IsValidUtf8(Text(tag))) {
    result_.SetError(
        FormatText("YAML parser error: found a tag that is not valid UTF-8. At line: %1 col: %2",
                   event.start_mark.line, event.start_mark.column));
    return;
  }
  Slot slot;
  if (!ChooseSlot(event, slot)) return;
  switch (event.type) {
    case YAML_SCALAR_EVENT:
      HandleScalar(event, slot);
      return;
    case YAML_SEQUENCE_START_EVENT:
      HandleStart(event, slot, false);
      return;
    case YAML_MAPPING_START_EVENT:
      HandleStart(event, slot, true);
      return;
    default:
      HandleAlias(event, slot);
      return;
  }
}

bool YamlWalker::ChooseSlot(const yaml_event_t& event, Slot& slot) {
  if (open_.empty()) {
    slot.node = &result_;
    return true;
  }
  OpenContainer& container = open_.back();
  if (!container.mapping) {
    if (container.node->size() >= BindingProperty::kMaxElements) {
      Fail("Too many sequence elements. At line: %1 col: %2", event);
      return false;
    }
    slot.node = &container.node->appendElement();
    slot.place.isIndex = true;
    slot.place.index = container.node->size() - 1;
    return true;
  }
  // Whether this event is a key follows from the mapping's state, not from what the member
  // already holds: a repeated key may find a structure there.
  if (pendingKey_ == nullptr) {
    slot.node = container.node;
    slot.isKey = true;
    return true;
  }
  slot.node = &container.node->memberAt(*pendingKey_);
  slot.place.name = pendingKey_->View();
  pendingKey_ = nullptr;
  return true;
}

void YamlWalker::HandleScalar(const yaml_event_t& event, Slot& slot) {
  const auto& scalar = event.data.scalar;
  const char* tag = Text(scalar.tag);
  const std::string_view text(scalar.length == 0 ? "" : Text(scalar.value), scalar.length);
  const bool stringTag = tag == nullptr || std::strcmp(tag, YAML_STR_TAG) == 0;
  if (slot.isKey) {
    if (!stringTag) {
      Fail("Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2", event);
      return;
    }
    pendingKey_ = names_.Find(*slot.node->arena(), binding::MemberProbe(text));
    if (scalar.anchor != nullptr) {
      Anchor anchor;
      anchor.text = pendingKey_->View();
      anchor.keyable = true;
      RecordAnchor(event, scalar.anchor, std::move(anchor));
    }
    return;
  }
  const bool quoted = scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                      scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
  ResolveYamlScalar(result_, *slot.node, tag, text.data(), text.size(), quoted);
  if (!result_.ok() || scalar.anchor == nullptr) return;
  Anchor anchor;
  anchor.path = AddPath(slot);
  anchor.text.assign(text);
  anchor.keyable = stringTag;
  RecordAnchor(event, scalar.anchor, std::move(anchor));
}

void YamlWalker::HandleStart(const yaml_event_t& event, Slot& slot, bool mapping) {
  if (slot.isKey) {
    Fail(mapping ? "Unexpected start of mapping. At line: %1 col: %2"
                 : "Unexpected start of sequence. At line: %1 col: %2",
         event);
    return;
  }
  if (open_.size() >= kYamlMaxDepth) {
    result_.SetError(FormatText("Nesting deeper than %1 levels. At line: %2 col: %3", kYamlMaxDepth,
                                Line(event), Column(event)));
    return;
  }
  // A repeated key may find a container there already; the new one starts empty.
  slot.node->reset();
  if (mapping) {
    slot.node->makeStructure(closedMembers_[open_.size()]);
  } else {
    slot.node->makeCollection();
  }
  const yaml_char_t* anchorName =
      mapping ? event.data.mapping_start.anchor : event.data.sequence_start.anchor;
  Anchor* anchor = nullptr;
  std::size_t path = kNoPath;
  if (anchorName != nullptr) {
    Anchor record;
    record.path = path = AddPath(slot);
    record.open = true;
    anchor = RecordAnchor(event, anchorName, std::move(record));
    if (anchor == nullptr) return;
  }
  open_.push_back(OpenContainer{slot.node, anchor, mapping, path, slot.place});
}

void YamlWalker::HandleEnd() {
  if (open_.empty()) return;  // the parser keeps starts and ends balanced
  const OpenContainer& container = open_.back();
  if (container.anchor != nullptr) container.anchor->open = false;
  container.node->closeMembers();
  if (container.mapping) {
    closedMembers_[open_.size() - 1] = static_cast<uint32_t>(container.node->size());
  }
  open_.pop_back();
  pendingKey_ = nullptr;
}

void YamlWalker::HandleAlias(const yaml_event_t& event, Slot& slot) {
  const auto found = anchors_.find(Text(event.data.alias.anchor));
  if (found != anchors_.end() && found->second.open) {
    FailAlias("Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3", event);
    return;
  }
  if (found == anchors_.end()) {
    FailAlias("Undefined alias encountered: \"%1\". At line: %2 col: %3", event);
    return;
  }
  const Anchor& anchor = found->second;
  if (slot.isKey) {
    // An alias standing as a key takes the text of the scalar it names, as written there (an
    // anchored key's text included). A container, or a scalar tagged as other than a string, has
    // no key spelling: that is reported like any other invalid key.
    if (!anchor.keyable) {
      FailAlias(
          "Invalid mapping key. Alias \"%1\" does not name a string scalar. "
          "At line: %2 col: %3",
          event);
      return;
    }
    if (!ChargeAlias(event, 1, anchor.text.size())) return;
    pendingKey_ = names_.Find(*slot.node->arena(), binding::MemberProbe(anchor.text));
    return;
  }
  if (anchor.path == kNoPath) {
    if (!ChargeAlias(event, 1, anchor.text.size())) return;
    slot.node->setString(anchor.text);
    return;
  }
  std::size_t depth = 0;
  const BindingProperty& source = Resolve(anchor.path, depth);
  // A node anchored where a repeated key now holds an open container would contain its own copy.
  if (depth < open_.size() && &source == open_[depth].node) {
    FailAlias("Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3", event);
    return;
  }
  if (!ChargeAliasCopy(event, source)) return;
  slot.node->copyFrom(source);
}

std::size_t YamlWalker::AddPath(const Slot& slot) {
  // The open containers with a step are those from the root down to some depth.
  std::size_t depth = open_.size();
  while (depth != 0 && open_[depth - 1].path == kNoPath) --depth;
  std::size_t parent = depth == 0 ? kNoPath : open_[depth - 1].path;
  for (; depth < open_.size(); ++depth) {
    const Place& place = open_[depth].place;
    paths_.push_back(PathStep{parent, place.isIndex, place.index, std::string(place.name)});
    parent = open_[depth].path = paths_.size() - 1;
  }
  paths_.push_back(
      PathStep{parent, slot.place.isIndex, slot.place.index, std::string(slot.place.name)});
  return paths_.size() - 1;
}

YamlWalker::Anchor* YamlWalker::RecordAnchor(const yaml_event_t& event, const yaml_char_t* name,
                                             Anchor anchor) {
  const auto [it, inserted] = anchors_.try_emplace(Text(name), std::move(anchor));
  if (!inserted) {
    result_.SetError(FormatText("Duplicate occurrence of anchor \"%1\". At line: %2 col: %3",
                                Text(name), Line(event), Column(event)));
    return nullptr;
  }
  return &it->second;
}

// Walks the recorded steps down from the root; `depth` receives the number of steps. A step that
// no longer exists (a repeated key replaced the node) yields the shared empty node.
const BindingProperty& YamlWalker::Resolve(std::size_t path, std::size_t& depth) const {
  std::vector<const PathStep*> steps;
  for (std::size_t at = path; paths_[at].parent != kNoPath; at = paths_[at].parent) {
    steps.push_back(&paths_[at]);
  }
  depth = steps.size();
  const BindingProperty* node = &result_;
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    const PathStep& step = **it;
    node = step.isIndex ? &node->element(step.index) : &node->member(step.name);
  }
  return *node;
}

// Counts what copying `source` would add, stopping as soon as the budget is spent, so that the
// count itself stays within the budget.
bool YamlWalker::ChargeAliasCopy(const yaml_event_t& event, const BindingProperty& source) {
  const std::size_t nodeRoom = kYamlMaxAliasNodes - aliasNodes_;
  const std::size_t byteRoom = kYamlMaxAliasTextBytes - aliasBytes_;
  std::size_t nodes = 1;
  std::size_t bytes = 0;
  std::size_t height = 0;  // container levels in the copy
  std::vector<std::pair<const BindingProperty*, std::size_t>> pending{{&source, 0}};
  while (!pending.empty() && nodes <= nodeRoom && bytes <= byteRoom) {
    const auto [node, level] = pending.back();
    pending.pop_back();
    switch (node->kind()) {
      case BindingPropertyKind::String:
        bytes += node->size();
        break;
      case BindingPropertyKind::Collection:
        height = std::max(height, level + 1);
        nodes += node->size();
        if (nodes > nodeRoom) break;
        for (const BindingProperty& element : node->elements()) {
          pending.emplace_back(&element, level + 1);
        }
        break;
      case BindingPropertyKind::Structure:
        height = std::max(height, level + 1);
        nodes += node->size();
        if (nodes > nodeRoom) break;
        for (const auto& member : node->members()) {
          bytes += member.name.size();
          pending.emplace_back(&member.value, level + 1);
        }
        break;
      default:
        break;
    }
  }
  if (nodes > nodeRoom || bytes > byteRoom) return ChargeAlias(event, nodes, bytes);
  if (open_.size() + height > kYamlMaxDepth) {
    result_.SetError(FormatText("Nesting deeper than %1 levels. At line: %2 col: %3", kYamlMaxDepth,
                                Line(event), Column(event)));
    return false;
  }
  return ChargeAlias(event, nodes, bytes);
}

bool YamlWalker::ChargeAlias(const yaml_event_t& event, std::size_t nodes, std::size_t bytes) {
  if (nodes > kYamlMaxAliasNodes - aliasNodes_ || bytes > kYamlMaxAliasTextBytes - aliasBytes_) {
    FailAlias("Alias expansion is too large. Alias \"%1\". At line: %2 col: %3", event);
    return false;
  }
  aliasNodes_ += nodes;
  aliasBytes_ += bytes;
  return true;
}

void YamlWalker::Fail(const char* format, const yaml_event_t& event) {
  result_.SetError(FormatText(format, Line(event), Column(event)));
}

void YamlWalker::FailAlias(const char* format, const yaml_event_t& event) {
  result_.SetError(FormatText(format, Text(event.data.alias.anchor), Line(event), Column(event)));
}

// Where the library's reader refused the input (not UTF-8, or a control character): it names only
// the byte offset, so the line and column are counted here, from 0 and in characters as the
// library counts them, over the text before that offset, which the reader has found well-formed.
// A byte order mark at the start counts for nothing, and line breaks are those of YAML 1.1: LF,
// CR, CR LF, NEL (C2 85), LS (E2 80 A8) and PS (E2 80 A9).
void ReaderErrorPosition(std::string_view text, std::size_t offset, std::size_t& line,
                         std::size_t& column) {
  const std::string_view before = text.substr(0, std::min(offset, text.size()));
  std::size_t i = before.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  line = 0;
  column = 0;
  while (i < before.size()) {
    const std::string_view rest = before.substr(i);
    std::size_t breakSize = 0;
    if (rest.starts_with("\r\n")) {
      breakSize = 2;
    } else if (rest[0] == '\n' || rest[0] == '\r') {
      breakSize = 1;
    } else if (rest.starts_with("\xC2\x85")) {
      breakSize = 2;
    } else if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) {
      breakSize = 3;
    }
    if (breakSize != 0) {
      ++line;
      column = 0;
      i += breakSize;
      continue;
    }
    if ((static_cast<unsigned char>(rest[0]) & 0xC0) != 0x80) ++column;  // a character's lead
    ++i;
  }
}

}  // namespace

BindingResult ParseYaml(std::string_view text) {
  BindingResult result;
  ParserGuard parser;
  if (!parser.Initialized()) {
    result.SetError("YAML parser error: out of memory. At line: 0 col: 0");
    return result;
  }
  yaml_parser_set_encoding(parser.Get(), YAML_UTF8_ENCODING);
  static const unsigned char kNoText[] = "";
  yaml_parser_set_input_string(
      parser.Get(), text.empty() ? kNoText : reinterpret_cast<const unsigned char*>(text.data()),
      text.size());

  YamlWalker walker(result);
  bool streamEnded = false;
  // The parser clears the event itself before filling it, also when it fails; clearing it here
  // as well, once per event, cost a slow block store each time.
  yaml_event_t event{};
  while (result.ok() && !streamEnded) {
    if (yaml_parser_parse(parser.Get(), &event) == 0) break;
    EventGuard guard(event);
    streamEnded = event.type == YAML_STREAM_END_EVENT;
    walker.Handle(event);
  }

  const yaml_parser_t& state = *parser.Get();
  if (result.ok() && state.error != YAML_NO_ERROR) {
    // The library counts lines and columns from 0 here, and the message keeps its numbers.
    const char* problem = state.problem != nullptr           ? state.problem
                          : state.error == YAML_MEMORY_ERROR ? "out of memory"
                                                             : "unknown error";
    std::size_t line = state.problem_mark.line;
    std::size_t column = state.problem_mark.column;
    if (state.error == YAML_READER_ERROR) {
      ReaderErrorPosition(text, state.problem_offset, line, column);
    }
    result.SetError(
        FormatText("YAML parser error: %1. At line: %2 col: %3", problem, line, column));
  }
  return result;
}

bool LooksLikeYaml(std::string_view text) {
  const std::size_t start = std::min(text.find_first_not_of(' '), text.size());
  return text.substr(start).starts_with("---");
}

}  // namespace vyn::formats
