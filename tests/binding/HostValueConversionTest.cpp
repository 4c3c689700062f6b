// Host value records: copies and borrowing views of trees and their release through the counting
// allocator, and the refusal of bad records, of nesting beyond the limit and of cycles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "binding/BindingRegistry.h"
#include "binding/HostValueConversion.h"
#include "binding/ValueTrees.h"
#include "base/PluginAllocator.h"

namespace vyn::binding {
namespace {

using namespace trees;

enum class HostTestColor : int32_t { Green = 2 };

// The reference is the payload's largest member: it sets every byte.
HostValue Ref(uint32_t kind, const void* ptr = nullptr, uint32_t count = 0) {
  return HostValue{kind, {.ref = HostValueRef{ptr, count}}};
}
HostValue Number(uint64_t number) {
  HostValue value = Ref(kHostValueUnsigned);
  value.payload.u = number;
  return value;
}
HostMember Member(const char* name, const HostValue& value) { return HostMember{name, value, 0}; }
uint64_t LiveBlocks() { return base::LiveBlocks(base::GetAllocationStats()); }

// A host error record that frees the message the conversion duplicated into it.
struct ErrorRecord {
  HostError record{};
  ~ErrorRecord() { base::PluginFree(const_cast<char*>(record.message)); }
  std::string Message() const { return record.message != nullptr ? record.message : ""; }
};

// The tree that a host record converts back into, or the message that refused it.
std::string Back(const HostValue& value, const char* path = "x") {
  ErrorRecord error;
  BindingProperty node = List({Text("old")});
  const bool converted = FromHostValue(error.record, node, value, path);
  EXPECT_EQ(error.record.failed, converted ? 0 : 1);
  return converted ? Describe(node) : error.Message() + " " + Describe(node);
}

// "name:kind" of each member of a host structure, with "-" for a name the record does not own;
// arrays must be 8-byte aligned.
std::string Kinds(const HostValue& structure) {
  std::string text;
  for (uint32_t i = 0; i < structure.payload.ref.count; ++i) {
    const HostMember member = static_cast<const HostMember*>(structure.payload.ref.ptr)[i];
    const HostValueRef ref = member.value.payload.ref;
    const bool array = member.value.kind >= kHostValueCollection;
    text += std::string(member.name) + (member.ownsName ? ":" : "-:") +
            std::to_string(member.value.kind) +
            (array && reinterpret_cast<uintptr_t>(ref.ptr) % 8 != 0 ? "misaligned," : ",");
  }
  return text;
}

BindingProperty Mixed() {
  return Struct({{"b", Bool(true)},
                 {"a", Signed(INT64_MIN)},
                 {"u", Unsigned(UINT64_MAX)},
                 {"f", Float(-0.25)},
                 {"s", Text("x")},
                 {"e", {}},
                 {"blob", Blob({0, 255, 7})},
                 {"list", List({Text(""), List({}), Struct({{"deep", List({{}, Unsigned(3)})}}),
                                Blob({90})})}});
}

TEST(HostValueFromTree, CopiesOwnEverythingAndViewsBorrowTheTreesTexts) {
  BindingRegistry registry;
  registry.BeginType(4, "Color", TypeIdOf<HostTestColor>(), true).AddEnumValue("Green", 2, "");
  BindingProperty tree = Mixed();
  tree.memberAt("nul").setString(std::string_view("x\0y", 3));
  tree.memberAt("named").setEnum(BindingEnum{2, TypeIdOf<HostTestColor>()});
  tree.memberAt("unnamed").setEnum(BindingEnum{-9, TypeIdOf<HostTestColor>()});
  tree.memberAt("untyped").setEnum(BindingEnum{2, nullptr});
  // Texts come back up to their terminator, and enumerators by name where the registry has one.
  const std::string expected =
      "{a:s-9223372036854775808,b:true,blob:bAP8H,e:~,f:f-0.250000,"
      "list:['',[],{deep:[~,u3,],},bWg==,],named:'Green',nul:'x',s:'x',u:u18446744073709551615,"
      "unnamed:s-9,untyped:s2,}";
  const uint64_t before = LiveBlocks();
  HostValue copy = ToHostValue(tree, &registry);
  EXPECT_EQ(Back(copy), expected);
  EXPECT_EQ(Kinds(copy),
            "a:2,b:1,blob:8,e:0,f:4,list:9,named:6,nul:6,s:6,u:3,unnamed:2,untyped:2,");
  const HostMember nul = static_cast<const HostMember*>(copy.payload.ref.ptr)[7];
  EXPECT_EQ(std::memcmp(nul.value.payload.ref.ptr, "x\0y", 4), 0) << "bytes and terminator";
  ReleaseHostValue(copy);
  EXPECT_EQ(LiveBlocks(), before);
  EXPECT_EQ(Back(copy), "~") << "a released record is emptied";
  EXPECT_EQ(Back(ToHostValue(Enum(2, TypeIdOf<HostTestColor>()), nullptr)), "s2") << "no registry";
  {
    const HostValueView view(tree, &registry);
    EXPECT_EQ(LiveBlocks(), before) << "a small view takes no heap block";
    EXPECT_EQ(Back(view.value()), expected);
    EXPECT_EQ(
        Kinds(view.value()),
        "a-:2,b-:1,blob-:7,e-:0,f-:4,list-:9,named-:5,nul-:5,s-:5,u-:3,unnamed-:2,untyped-:2,");
    const HostMember s = static_cast<const HostMember*>(view.value().payload.ref.ptr)[8];
    const void* bytes = s.value.payload.ref.ptr;
    EXPECT_EQ(bytes, tree.member("s").asString().data());
  }
  EXPECT_EQ(LiveBlocks(), before);
}

TEST(HostValueFromTree, ViewsOfLargeTreesMatchCopiesAndShowGraftsInPlace) {
  BindingProperty tree;  // many small arrays across several blocks, and one larger than any
  for (uint64_t i = 0; i < 3000; ++i) {
    tree.memberAt("small").elementAt(i).copyFrom(Struct({{"k", Unsigned(i)}, {"l", List({{}})}}));
  }
  tree.memberAt("large").elementAt(100000).setSigned(-1);
  const uint64_t before = LiveBlocks();
  EXPECT_EQ(Back(HostValueView(tree, nullptr).value()), Describe(tree));
  EXPECT_EQ(LiveBlocks(), before);

  BindingProperty event = Struct({{"uri", Text("/a")}, {"data", {}}});
  BindingProperty survey = Struct({{"title", Text("T")}, {"data", Struct({{"url", {}}})}});
  const BindingProperty url = Text("u");
  const HostValueGraft grafts[] = {{&event.member("data"), &survey},
                                   {&survey.member("data").member("url"), &url}};
  EXPECT_EQ(Back(HostValueView(event, nullptr, grafts).value()),
            "{data:{data:{url:'u',},title:'T',},uri:'/a',}");
  // The root can be a placeholder, a node met twice is shown twice, only empty nodes are
  // placeholders, and grafts that point in a circle end.
  BindingProperty twice = List({{}, {}});
  const HostValueGraft both[] = {{&twice.element(0), &url}, {&twice.element(1), &url}};
  EXPECT_EQ(Back(HostValueView(twice, nullptr, both).value()), "['u','u',]");
  BindingProperty root;
  BindingProperty hop;  // a placeholder whose graft is a placeholder in turn
  const HostValueGraft atRoot[] = {{&root, &hop}, {&hop, &twice}, {&twice, &url}};
  EXPECT_EQ(Back(HostValueView(root, nullptr, atRoot).value()), "[~,~,]");
  const HostValueGraft circle[] = {{&root, &event.member("data")}, {&event.member("data"), &root}};
  EXPECT_EQ(Back(HostValueView(root, nullptr, circle).value()), "~");
}

TEST(HostValueToTree, ReadsEachKindAndRefusesBadRecordsWithTheFirstMessage) {
  static const HostMember kNamed[] = {Member("\xC3\xA9", Number(1))};
  static const HostMember kTwice[] = {Member("b", Number(3)), Member("b", Number(4))};
  const HostMember unnamed[] = {Member("a", Number(1)), Member(nullptr, Number(2))};
  const HostValue badText[] = {Ref(kHostValueStringBorrowed, "ok", 2),
                               Ref(kHostValueStringBorrowed, "ok\xC0\x80", 4)};
  const HostMember badName[] = {Member("ok", Number(1)), Member("a\x80", Number(2))};
  const HostValue inner[] = {Number(1), Ref(11), Number(4)};
  const HostMember stops[] = {Member("list", Ref(kHostValueCollection, inner, 3)),
                              Member("z", Number(9))};
  HostValue flag = Ref(kHostValueBool);
  flag.payload.b = 2;  // any non-zero byte is true
  const std::string prefix = "Couldn't assign value to 'x' of type object because ";
  const struct {
    const char* desc;
    HostValue value;
    std::string tree;  // or the message and what the node holds afterwards
  } cases[] = {
      {"bool", flag, "true"},
      {"borrowed string", Ref(kHostValueStringBorrowed, "text", 4), "'text'"},
      {"borrowed blob", Ref(kHostValueBlobBorrowed, "te", 2), "bdGU="},
      {"null string, no length", Ref(kHostValueStringOwned), "''"},
      {"null blob, no bytes", Ref(kHostValueBlobBorrowed), "b"},
      {"null array, no elements", Ref(kHostValueCollection), "[]"},
      {"null array, no members", Ref(kHostValueStructure), "{}"},
      {"member names in UTF-8", Ref(kHostValueStructure, kNamed, 1), "{\xC3\xA9:u1,}"},
      {"a repeated name keeps the later value", Ref(kHostValueStructure, kTwice, 2), "{b:u4,}"},
      {"kind 11", Ref(11), prefix + "the input is of an incompatible type ''. ['old',]"},
      {"null string with a length", Ref(kHostValueStringBorrowed, nullptr, 3),
       prefix + "the input of type 'string' has no data for its count of 3. ['old',]"},
      {"more elements than a value holds", Ref(kHostValueCollection, unnamed, 268435456u),
       prefix + "the input collection has 268435456 elements, more than 268435455. ~"},
      {"member without a name", Ref(kHostValueStructure, unnamed, 2),
       prefix + "member 1 of the input has no name. {a:u1,}"},
      {"text that is not UTF-8", Ref(kHostValueCollection, badText, 2),
       prefix + "the input string is not valid UTF-8 at byte 2. ['ok',~,]"},
      {"member name", Ref(kHostValueStructure, badName, 2),
       prefix + "the name of member 1 of the input is not valid UTF-8 at byte 1. {ok:u1,}"},
      {"stops at the failing element", Ref(kHostValueStructure, stops, 2),
       prefix + "the input is of an incompatible type ''. {list:[u1,~,],}"},
  };
  for (const auto& c : cases) EXPECT_EQ(Back(c.value), c.tree) << c.desc;
  HostError error{};
  error.message = "earlier";
  BindingProperty node;
  EXPECT_FALSE(FromHostValue(error, node, Ref(12), nullptr));
  EXPECT_STREQ(error.message, "earlier") << "the first error wins";
}

TEST(HostValueToTree, RefusesNestingBeyondTheLimitAndCycles) {
  std::vector<HostValue> chain;  // chain[i] holds chain[i + 1]; the last one is a number
  const auto nested = [&chain](std::size_t depth) -> const HostValue& {
    chain.assign(depth + 1, Number(7));
    for (std::size_t i = 0; i < depth; ++i) chain[i] = Ref(kHostValueCollection, &chain[i + 1], 1);
    return chain[0];
  };
  std::string deepest = "u7";
  for (uint32_t i = 0; i < kMaxHostValueDepth; ++i) deepest = "[" + deepest + ",]";
  EXPECT_EQ(Back(nested(kMaxHostValueDepth), ""), deepest);
  const std::string tooDeep =
      "Couldn't assign value to '' of type object because the input is nested deeper than 1000 "
      "levels.";
  EXPECT_EQ(Back(nested(kMaxHostValueDepth + 1), nullptr).substr(0, tooDeep.size()), tooDeep);
  HostValue cycle = Ref(kHostValueCollection);  // contains itself
  cycle.payload.ref = HostValueRef{&cycle, 1};
  EXPECT_EQ(Back(cycle, nullptr).substr(0, tooDeep.size()), tooDeep);
}

}  // namespace
}  // namespace vyn::binding
