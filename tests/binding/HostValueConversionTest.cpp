// Host value records: conversion in both directions, the refusal of bad records, release through
// the counting allocator, and trees deeper than any native stack would allow.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "binding/BindingRegistry.h"
#include "binding/BindingTypeId.h"
#include "binding/HostValueConversion.h"
#include "base/PluginAllocator.h"

namespace vyn::binding {
namespace {

enum class HostTestColor : int32_t { Red = 1, Green = 2 };

const BindingTypeId* ColorId() { return TypeIdOf<HostTestColor>(); }

// Copies a field out of a packed record, so that assertions never bind a reference to it.
template <typename T>
T Val(T value) {
  return value;
}

HostValue Record(uint32_t kind) {
  HostValue value;
  std::memset(&value, 0, sizeof value);
  value.kind = kind;
  return value;
}

HostValue Ref(uint32_t kind, const void* ptr, uint32_t count) {
  HostValue value = Record(kind);
  value.payload.ref.ptr = ptr;
  value.payload.ref.count = count;
  return value;
}

HostValue Unsigned(uint64_t number) {
  HostValue value = Record(kHostValueUnsigned);
  value.payload.u = number;
  return value;
}

HostMember Member(const char* name, const HostValue& value) {
  HostMember member;
  std::memset(&member, 0, sizeof member);
  member.name = name;
  member.value = value;
  return member;
}

// A host error record that frees the message the conversion duplicated into it.
struct ErrorRecord {
  HostError record{};
  ~ErrorRecord() { base::PluginFree(const_cast<char*>(record.message)); }
  std::string Message() const { return record.message != nullptr ? record.message : ""; }
};

// A canonical one-line rendering of a tree, to compare trees in assertions.
std::string Describe(const BindingProperty& node) {
  switch (node.kind()) {
    case BindingPropertyKind::Empty:
      return "~";
    case BindingPropertyKind::Bool:
      return node.asBool() ? "true" : "false";
    case BindingPropertyKind::Signed:
      return "s" + std::to_string(node.asSigned());
    case BindingPropertyKind::Unsigned:
      return "u" + std::to_string(node.asUnsigned());
    case BindingPropertyKind::Float:
      return "f" + std::to_string(node.asFloat());
    case BindingPropertyKind::String:
      return "'" + std::string(node.asString()) + "'";
    case BindingPropertyKind::Blob: {
      std::string text = "b";
      for (uint8_t byte : node.asBlob()) text += std::to_string(byte) + ".";
      return text;
    }
    case BindingPropertyKind::Enum:
      return "e" + std::to_string(node.asEnum().number);
    case BindingPropertyKind::Collection: {
      std::string text = "[";
      for (const BindingProperty& element : node.elements()) text += Describe(element) + ",";
      return text + "]";
    }
    case BindingPropertyKind::Structure: {
      std::string text = "{";
      for (const auto member : node.members()) {
        text += std::string(member.name) + ":" + Describe(member.value) + ",";
      }
      return text + "}";
    }
  }
  return "?";
}

void FillMixed(BindingProperty& tree) {
  tree.memberAt("b").setBool(true);
  tree.memberAt("a").setSigned(std::numeric_limits<int64_t>::min());
  tree.memberAt("u").setUnsigned(std::numeric_limits<uint64_t>::max());
  tree.memberAt("f").setFloat(-0.25);
  tree.memberAt("s").setString(std::string_view("x\0y", 3));
  tree.memberAt("empty");
  tree.memberAt("blob").setBlob(std::vector<uint8_t>{0, 255, 7});
  BindingProperty& list = tree.memberAt("list");
  list.elementAt(0).setString("");
  list.elementAt(1).makeCollection();
  list.elementAt(2).memberAt("deep").elementAt(1).setUnsigned(3);
  list.elementAt(3).makeStructure();
}

void RunOnSmallStack(const std::function<void()>& work) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  auto body = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, body, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

// --- ToHostValue ---------------------------------------------------------------------------

TEST(HostValueFromTree, ListsMembersInNameOrderWithOwnedNames) {
  BindingProperty tree;
  FillMixed(tree);
  HostValue host = ToHostValue(tree, nullptr);
  ASSERT_EQ(Val(host.kind), uint32_t{kHostValueStructure});
  const HostValueRef ref = host.payload.ref;
  ASSERT_EQ(ref.count, 8u);
  const auto* members = static_cast<const HostMember*>(ref.ptr);
  std::vector<std::string> names;
  for (uint32_t i = 0; i < ref.count; ++i) {
    const HostMember member = members[i];
    names.emplace_back(member.name);
    EXPECT_EQ(Val(member.ownsName), 1) << member.name;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "blob", "empty", "f", "list", "s", "u"}));
  ReleaseHostValue(host);
}

TEST(HostValueFromTree, WritesEachKindsPayload) {
  BindingProperty tree;
  FillMixed(tree);
  HostValue host = ToHostValue(tree, nullptr);
  const auto* members = static_cast<const HostMember*>(host.payload.ref.ptr);
  auto value = [&](uint32_t index) {
    const HostMember member = members[index];
    return member.value;
  };
  EXPECT_EQ(Val(value(0).kind), uint32_t{kHostValueSigned});
  EXPECT_EQ(Val(value(0).payload.i), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(Val(value(1).kind), uint32_t{kHostValueBool});
  EXPECT_EQ(Val(value(1).payload.b), 1);
  const HostValue blob = value(2);
  EXPECT_EQ(Val(blob.kind), uint32_t{kHostValueBlobOwned});
  ASSERT_EQ(Val(blob.payload.ref.count), 3u);
  EXPECT_EQ(std::memcmp(Val(blob.payload.ref.ptr), "\0\xff\x07", 3), 0);
  EXPECT_EQ(Val(value(3).kind), uint32_t{kHostValueEmpty});
  EXPECT_EQ(Val(value(4).payload.f), -0.25);
  const HostValue list = value(5);
  EXPECT_EQ(Val(list.kind), uint32_t{kHostValueCollection});
  EXPECT_EQ(Val(list.payload.ref.count), 4u);
  const HostValue text = value(6);
  EXPECT_EQ(Val(text.kind), uint32_t{kHostValueStringOwned});
  ASSERT_EQ(Val(text.payload.ref.count), 3u);
  EXPECT_EQ(std::memcmp(Val(text.payload.ref.ptr), "x\0y", 4), 0) << "bytes and the terminator";
  EXPECT_EQ(Val(value(7).payload.u), std::numeric_limits<uint64_t>::max());
  ReleaseHostValue(host);
}

TEST(HostValueFromTree, NamesEnumsThroughTheRegistry) {
  BindingRegistry registry;
  registry.BeginType(sizeof(HostTestColor), "VynHostTestColor", ColorId(), true)
      .AddEnumValue("Red", 1, "")
      .AddEnumValue("Green", 2, "");
  BindingProperty named;
  named.setEnum(BindingEnum{2, ColorId()});
  HostValue host = ToHostValue(named, &registry);
  EXPECT_EQ(Val(host.kind), uint32_t{kHostValueStringOwned});
  EXPECT_STREQ(static_cast<const char*>(Val(host.payload.ref.ptr)), "Green");
  EXPECT_EQ(Val(host.payload.ref.count), 5u);
  ReleaseHostValue(host);

  const struct {
    const char* desc;
    BindingEnum value;
    const BindingRegistry* registry;
  } numbers[] = {
      {"no registry", {2, ColorId()}, nullptr},
      {"number without a name", {-9, ColorId()}, &registry},
      {"no type", {2, nullptr}, &registry},
  };
  for (const auto& c : numbers) {
    BindingProperty node;
    node.setEnum(c.value);
    HostValue number = ToHostValue(node, c.registry);
    EXPECT_EQ(Val(number.kind), uint32_t{kHostValueSigned}) << c.desc;
    EXPECT_EQ(Val(number.payload.i), c.value.number) << c.desc;
  }
}

TEST(HostValueRelease, ReturnsEveryByteToTheCountingAllocator) {
  BindingRegistry registry;
  registry.BeginType(sizeof(HostTestColor), "VynHostTestColor", ColorId(), true)
      .AddEnumValue("Red", 1, "");
  BindingProperty tree;
  FillMixed(tree);
  tree.memberAt("color").setEnum(BindingEnum{1, ColorId()});
  const base::AllocationStats before = base::GetAllocationStats();
  HostValue host = ToHostValue(tree, &registry);
  EXPECT_GT(base::LiveBlocks(base::GetAllocationStats()), base::LiveBlocks(before) + 10);
  ReleaseHostValue(host);
  const base::AllocationStats after = base::GetAllocationStats();
  EXPECT_EQ(base::LiveBytes(after), base::LiveBytes(before));
  EXPECT_EQ(base::LiveBlocks(after), base::LiveBlocks(before));
  EXPECT_EQ(Val(host.kind), uint32_t{kHostValueEmpty});
  EXPECT_EQ(Val(host.payload.ref.ptr), nullptr);
}

TEST(HostValueRelease, LeavesBorrowedDataAlone) {
  static const char kText[] = "borrowed";
  static const uint8_t kBytes[] = {1, 2};
  auto* members = static_cast<HostMember*>(base::PluginAlloc(3 * sizeof(HostMember)));
  members[0] = Member("s", Ref(kHostValueStringBorrowed, kText, 8));
  members[1] = Member("b", Ref(kHostValueBlobBorrowed, kBytes, 2));
  members[2] = Member("n", Record(kHostValueCollection));  // null array, nothing to free
  HostValue host = Ref(kHostValueStructure, members, 3);
  const base::AllocationStats before = base::GetAllocationStats();
  ReleaseHostValue(host);  // names are not owned either
  EXPECT_EQ(base::LiveBlocks(base::GetAllocationStats()), base::LiveBlocks(before) - 1)
      << "the array only";
  EXPECT_EQ(Val(host.kind), uint32_t{kHostValueEmpty});

  HostValue borrowed = Ref(kHostValueStringBorrowed, kText, 8);
  ReleaseHostValue(borrowed);
  EXPECT_STREQ(kText, "borrowed");
  EXPECT_EQ(Val(borrowed.kind), uint32_t{kHostValueEmpty});
}

TEST(HostValueRelease, ReleasesTreesDeeperThanTheStack) {
  constexpr std::size_t kDepth = 100000;
  HostValue host = Unsigned(7);
  for (std::size_t i = 0; i < kDepth; ++i) {
    auto* element = static_cast<HostValue*>(base::PluginAlloc(sizeof(HostValue)));
    *element = host;
    host = Ref(kHostValueCollection, element, 1);
  }
  const base::AllocationStats before = base::GetAllocationStats();
  RunOnSmallStack([&] { ReleaseHostValue(host); });
  EXPECT_EQ(base::LiveBlocks(base::GetAllocationStats()), base::LiveBlocks(before) - kDepth);
  EXPECT_EQ(Val(host.kind), uint32_t{kHostValueEmpty});
}

// --- FromHostValue -------------------------------------------------------------------------

TEST(HostValueToTree, RoundTripsAMixedTree) {
  BindingProperty tree;
  FillMixed(tree);
  HostValue host = ToHostValue(tree, nullptr);
  ErrorRecord error;
  BindingProperty back;
  ASSERT_TRUE(FromHostValue(error.record, back, host, "body"));
  EXPECT_EQ(Val(error.record.failed), 0);
  EXPECT_EQ(Val(error.record.message), nullptr);
  // Strings are read up to their terminator, so the one with an embedded NUL comes back cut.
  tree.memberAt("s").setString("x");
  EXPECT_EQ(Describe(back), Describe(tree));
  ReleaseHostValue(host);
}

TEST(HostValueToTree, ReadsEachKind) {
  static const char kText[] = "text";
  static const uint8_t kBytes[] = {9, 8};
  static const char kUtf8[] = "\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF";
  static const char kCut[] = "x\0\xFF";
  static const uint8_t kNotText[] = {0xFF, 0xFE};
  static const HostMember kNamed[] = {Member("\xC3\xA9", Unsigned(1))};
  HostValue flag = Record(kHostValueBool);
  flag.payload.b = 2;  // any non-zero byte is true
  HostValue negative = Record(kHostValueSigned);
  negative.payload.i = -5;
  HostValue real = Record(kHostValueFloat);
  real.payload.f = 1.5;
  const struct {
    const char* desc;
    HostValue value;
    std::string tree;
  } cases[] = {
      {"empty", Record(kHostValueEmpty), "~"},
      {"bool", flag, "true"},
      {"signed", negative, "s-5"},
      {"unsigned", Unsigned(5), "u5"},
      {"float", real, "f1.500000"},
      {"borrowed string", Ref(kHostValueStringBorrowed, kText, 4), "'text'"},
      {"owned string", Ref(kHostValueStringOwned, kText, 4), "'text'"},
      {"borrowed blob", Ref(kHostValueBlobBorrowed, kBytes, 2), "b9.8."},
      {"owned blob", Ref(kHostValueBlobOwned, kBytes, 2), "b9.8."},
      {"null string with no length", Ref(kHostValueStringOwned, nullptr, 0), "''"},
      {"null blob with no bytes", Ref(kHostValueBlobBorrowed, nullptr, 0), "b"},
      {"null array with no elements", Ref(kHostValueCollection, nullptr, 0), "[]"},
      {"null array with no members", Ref(kHostValueStructure, nullptr, 0), "{}"},
      {"multi-byte UTF-8", Ref(kHostValueStringBorrowed, kUtf8, 9),
       "'\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF'"},
      {"bytes after the terminator are not read", Ref(kHostValueStringOwned, kCut, 3), "'x'"},
      {"blob bytes are not text", Ref(kHostValueBlobBorrowed, kNotText, 2), "b255.254."},
      {"member names in UTF-8", Ref(kHostValueStructure, kNamed, 1), "{\xC3\xA9:u1,}"},
  };
  for (const auto& c : cases) {
    ErrorRecord error;
    BindingProperty node;
    node.setString("old");
    EXPECT_TRUE(FromHostValue(error.record, node, c.value, "p")) << c.desc;
    EXPECT_EQ(Describe(node), c.tree) << c.desc;
    EXPECT_EQ(Val(error.record.failed), 0) << c.desc;
  }
}

TEST(HostValueToTree, ReplacesWhatTheNodeHeld) {
  HostValue elements[] = {Unsigned(1), Unsigned(2)};
  const HostMember members[] = {Member("b", Unsigned(3)), Member("b", Unsigned(4))};
  ErrorRecord error;
  BindingProperty node;
  node.elementAt(2).setBool(true);
  ASSERT_TRUE(FromHostValue(error.record, node, Ref(kHostValueCollection, elements, 2), "p"));
  EXPECT_EQ(Describe(node), "[u1,u2,]");
  node.memberAt("a").setBool(true);
  ASSERT_TRUE(FromHostValue(error.record, node, Ref(kHostValueStructure, members, 2), "p"));
  EXPECT_EQ(Describe(node), "{b:u4,}") << "a repeated name keeps the later value";
}

TEST(HostValueToTree, RefusesBadRecordsWithAMessage) {
  HostValue unknown = Record(11);
  const HostMember unnamed[] = {Member("a", Unsigned(1)), Member(nullptr, Unsigned(2))};
  const std::string notText =
      "Couldn't assign value to 'args.x' of type object because the input string is not valid "
      "UTF-8 at byte ";
  const HostValue badElements[] = {Ref(kHostValueStringBorrowed, "ok", 2),
                                   Ref(kHostValueStringBorrowed, "a\xC3\xC3", 3)};
  const HostMember badName[] = {Member("ok", Unsigned(1)), Member("a\x80", Unsigned(2))};
  const HostMember innerBadName[] = {Member("\xFF", Unsigned(1))};
  const HostValue nestedBadName[] = {Ref(kHostValueStructure, innerBadName, 1)};
  const struct {
    const char* desc;
    HostValue value;
    std::string message;
  } cases[] = {
      {"kind 11", unknown,
       "Couldn't assign value to 'args.x' of type object because the input is of an "
       "incompatible type ''."},
      {"huge kind", Record(0xFFFFFFFFu),
       "Couldn't assign value to 'args.x' of type object because the input is of an "
       "incompatible type ''."},
      {"null string with a length", Ref(kHostValueStringBorrowed, nullptr, 3),
       "Couldn't assign value to 'args.x' of type object because the input of type 'string' has "
       "no data for its count of 3."},
      {"null blob with bytes", Ref(kHostValueBlobOwned, nullptr, 1),
       "Couldn't assign value to 'args.x' of type object because the input of type 'blob' has "
       "no data for its count of 1."},
      {"null elements", Ref(kHostValueCollection, nullptr, 4000000000u),
       "Couldn't assign value to 'args.x' of type object because the input of type 'collection' "
       "has no data for its count of 4000000000."},
      {"null members", Ref(kHostValueStructure, nullptr, 2),
       "Couldn't assign value to 'args.x' of type object because the input of type 'structure' "
       "has no data for its count of 2."},
      {"more elements than a value holds", Ref(kHostValueCollection, unnamed, 300000000u),
       "Couldn't assign value to 'args.x' of type object because the input collection has "
       "300000000 elements, more than 268435455."},
      {"member without a name", Ref(kHostValueStructure, unnamed, 2),
       "Couldn't assign value to 'args.x' of type object because member 1 of the input has no "
       "name."},
      // Texts must be well-formed UTF-8; the offset is that of the first bad byte.
      {"string FF FE", Ref(kHostValueStringBorrowed, "\xFF\xFE", 2), notText + "0."},
      {"owned string with an overlong form", Ref(kHostValueStringOwned, "ok\xC0\x80", 4),
       notText + "2."},
      {"string with a surrogate", Ref(kHostValueStringBorrowed, "a\xED\xA0\x80", 4),
       notText + "1."},
      {"string above U+10FFFF", Ref(kHostValueStringBorrowed, "\xF4\x90\x80\x80", 4),
       notText + "0."},
      {"string cut short", Ref(kHostValueStringBorrowed, "abc\xE2\x82", 5), notText + "3."},
      {"string inside a collection", Ref(kHostValueCollection, badElements, 2), notText + "1."},
      {"member name", Ref(kHostValueStructure, badName, 2),
       "Couldn't assign value to 'args.x' of type object because the name of member 1 of the "
       "input is not valid UTF-8 at byte 1."},
      {"member name of a nested structure", Ref(kHostValueCollection, nestedBadName, 1),
       "Couldn't assign value to 'args.x' of type object because the name of member 0 of the "
       "input is not valid UTF-8 at byte 0."},
  };
  for (const auto& c : cases) {
    ErrorRecord error;
    BindingProperty node;
    EXPECT_FALSE(FromHostValue(error.record, node, c.value, "args.x")) << c.desc;
    EXPECT_EQ(Val(error.record.failed), 1) << c.desc;
    EXPECT_EQ(error.Message(), c.message) << c.desc;
  }
}

TEST(HostValueToTree, StopsAtTheFailingElement) {
  const HostValue inner[] = {Unsigned(1), Unsigned(2), Record(11), Unsigned(4)};
  const HostMember members[] = {Member("list", Ref(kHostValueCollection, inner, 4)),
                                Member("z", Unsigned(9))};
  ErrorRecord error;
  BindingProperty node;
  EXPECT_FALSE(FromHostValue(error.record, node, Ref(kHostValueStructure, members, 2), "body"));
  EXPECT_EQ(error.Message(),
            "Couldn't assign value to 'body' of type object because the input is of an "
            "incompatible type ''.");
  const BindingProperty& list = node.member("list");
  EXPECT_EQ(list.element(0).asUnsigned(), 1u);
  EXPECT_EQ(list.element(1).asUnsigned(), 2u);
  EXPECT_LT(list.size(), 4u) << "the element after the failing one is not converted";
  EXPECT_EQ(node.member("z").kind(), BindingPropertyKind::Empty) << "nor the next member";
}

TEST(HostValueToTree, KeepsTheFirstErrorMessage) {
  static const char kEarlier[] = "earlier";
  HostError error{};
  error.message = kEarlier;
  BindingProperty node;
  EXPECT_FALSE(FromHostValue(error, node, Record(12), nullptr));
  EXPECT_EQ(Val(error.message), kEarlier);
  EXPECT_EQ(Val(error.failed), 1);

  ErrorRecord fresh;
  EXPECT_FALSE(FromHostValue(fresh.record, node, Record(12), nullptr));
  EXPECT_EQ(fresh.Message(),
            "Couldn't assign value to '' of type object because the input is of an incompatible "
            "type ''.");
}

TEST(HostValueToTree, RefusesNestingBeyondTheLimit) {
  // chain[i] is a collection holding chain[i + 1]; the last one is a number.
  auto makeChain = [](std::vector<HostValue>& chain, std::size_t depth) {
    chain.assign(depth + 1, Unsigned(7));
    for (std::size_t i = 0; i < depth; ++i) chain[i] = Ref(kHostValueCollection, &chain[i + 1], 1);
  };
  std::vector<HostValue> chain;
  makeChain(chain, kMaxHostValueDepth);
  {
    ErrorRecord error;
    BindingProperty node;
    EXPECT_TRUE(FromHostValue(error.record, node, chain[0], "deep"));
    const BindingProperty* inner = &node;
    for (uint32_t i = 0; i < kMaxHostValueDepth; ++i) inner = &inner->element(0);
    EXPECT_EQ(inner->asUnsigned(), 7u);
  }
  const std::string tooDeep =
      "Couldn't assign value to 'deep' of type object because the input is nested deeper than " +
      std::to_string(kMaxHostValueDepth) + " levels.";
  makeChain(chain, 100000);
  ErrorRecord error;
  BindingProperty node;
  bool converted = true;
  RunOnSmallStack([&] { converted = FromHostValue(error.record, node, chain[0], "deep"); });
  EXPECT_FALSE(converted);
  EXPECT_EQ(error.Message(), tooDeep);

  // A record that contains itself ends the same way instead of running forever.
  HostValue cycle = Record(kHostValueCollection);
  cycle.payload.ref.ptr = &cycle;
  cycle.payload.ref.count = 1;
  ErrorRecord cycleError;
  BindingProperty cycleNode;
  EXPECT_FALSE(FromHostValue(cycleError.record, cycleNode, cycle, "deep"));
  EXPECT_EQ(cycleError.Message(), tooDeep);
}

TEST(HostValueToTree, NamesHostKinds) {
  const char* expected[] = {"",       "bool", "signed", "unsigned",   "float",     "string",
                            "string", "blob", "blob",   "collection", "structure", ""};
  for (uint32_t kind = 0; kind < std::size(expected); ++kind) {
    EXPECT_STREQ(HostValueKindName(kind), expected[kind]) << kind;
  }
}

}  // namespace
}  // namespace vyn::binding
