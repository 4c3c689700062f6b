// The generic value: lenient reading, member order, interning, the length limit, copy and move
// within and between trees, and roots sharing an arena.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/PluginAllocator.h"
#include "binding/BindingProperty.h"
#include "binding/PageCache.h"
#include "binding/ValueTrees.h"

namespace vyn::binding {
namespace {

using namespace trees;
using Kind = BindingPropertyKind;

std::size_t PagesInUse() { return PageCache::Instance().GetStats().pagesInUse; }

// A tree with every kind and a text three times, for the copy and move tests.
BindingProperty Sample() {
  return Struct({{"flag", Bool(true)},
                 {"text", Text("shared")},
                 {"again", Text("shared")},
                 {"blob", Blob({1, 2, 3})},
                 {"enum", Enum(-4)},
                 {"list", List({Unsigned(7), Struct({{"deep", Float(0.5)}}), Text("shared")})}});
}
const std::string kList = "[u7,{deep:f0.500000,},'shared',]";
const std::string kSample =
    "{again:'shared',blob:bAQID,enum:e-4,flag:true,list:" + kList + ",text:'shared',}";

TEST(BindingPropertyReading, KindSizeTextAndLenientNumberPerKind) {
  const struct {
    const char* desc;
    BindingProperty value;
    Kind kind;
    uint32_t size;
    std::string text;
    uint64_t number;  // toUnsigned(99)
  } cases[] = {
      {"empty", {}, Kind::Empty, 0, "", 99},
      {"true", Bool(true), Kind::Bool, 1, "true", 1},
      {"false", Bool(false), Kind::Bool, 1, "false", 0},
      {"signed: same bits", Signed(INT64_MIN), Kind::Signed, 1, "-9223372036854775808", 1ULL << 63},
      {"unsigned", Unsigned(UINT64_MAX), Kind::Unsigned, 1, "18446744073709551615", UINT64_MAX},
      {"float: rounds, truncates", Float(-1.0000006), Kind::Float, 1, "-1.000001", UINT64_MAX},
      {"float 2^63", Float(0x1p63), Kind::Float, 1, "9223372036854775808.000000", 1ULL << 63},
      {"float 1.5 * 2^63", Float(0x1.8p63), Kind::Float, 1, "13835058055282163712.000000",
       0xC000000000000000ULL},
      {"float 2^64", Float(0x1p64), Kind::Float, 1, "18446744073709551616.000000", UINT64_MAX},
      {"float -2^64", Float(-0x1p64), Kind::Float, 1, "-18446744073709551616.000000", 1ULL << 63},
      {"float past 2^64, as long as the first buffer", Float(1e56), Kind::Float, 1,
       "100000000000000009190283508143378238084034459715684532224.000000", UINT64_MAX},
      {"float NaN", Float(std::nan("")), Kind::Float, 1, "nan", 0},
      {"string: bytes", Text("h\xC3\xA9"), Kind::String, 3, "h\xC3\xA9", 0},
      {"string: hexadecimal", Text("0x1F"), Kind::String, 4, "0x1F", 31},
      {"string: octal, then text", Text("017x"), Kind::String, 4, "017x", 15},
      {"null text", Set<const char*>(&Node::setString, nullptr), Kind::String, 0, "", 0},
      {"blob: Base64", Blob({1, 2, 3}), Kind::Blob, 3, "AQID", 99},
      {"enum: sign-extended", Enum(-2), Kind::Enum, 1, "-2", static_cast<uint64_t>(-2)},
      {"collection", List({{}, {}}), Kind::Collection, 2, "", 99},
      {"structure, a name twice", Struct({{"a", {}}, {"a", {}}}), Kind::Structure, 1, "", 99},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value.kind(), c.kind) << c.desc;
    EXPECT_EQ(c.value.size(), c.size) << c.desc;
    EXPECT_EQ(c.value.toText(), c.text) << c.desc;
    EXPECT_EQ(c.value.toUnsigned(99), c.number) << c.desc;
  }
  EXPECT_EQ(Float(1e300).toText().size(), 301u + 7u) << "long %f renderings are not cut";
  EXPECT_STREQ(BindingPropertyKindName(uint8_t{10}), "");
  EXPECT_EQ(Signed(5).asUnsigned(7), 7u) << "other kinds read as the default";
  EXPECT_EQ(Unsigned(5).asSigned(), 0) << "which is zero unless given";
  EXPECT_EQ(Text("").asString("default").data()[0], '\0');
  const BindingProperty list = List({Bool(true)});  // absent data reads as the empty node
  for (const BindingProperty* absent :
       {&list.member("x"), &list.element(1), &Sample().element(0), &Sample().member("X")}) {
    EXPECT_EQ(absent, &BindingProperty::EmptyNode());
  }
}

TEST(BindingPropertyWriting, MembersIterateInUnsignedByteOrderOverTheFullName) {
  // Names of every prefix length, differing in the byte that the prefix of each length takes
  // last, past a NUL, and above 0x7F.
  std::vector<std::string> names = {
      "b",     "a",     "B",        "",         "\xC3\xA9",  std::string("k\0b", 3),
      "k",     "\x7f",  "ab",       "aby",      "aca",       std::string("k\0a", 3),
      "abcdz", "abdca", "abcdefgh", "abcdefgi", "abcdefgha", std::string("abcdefgh\0", 9)};
  BindingProperty p;
  for (const std::string& name : names) p.memberAt(name).setString(name);
  for (int i = 0; i < 100; ++i) p.memberAt("m" + std::to_string(i));
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    EXPECT_EQ(p.member(name).asString(), name) << testing::PrintToString(name);
    EXPECT_EQ(&p.member(name + 'z'), &BindingProperty::EmptyNode()) << testing::PrintToString(name);
  }
  std::vector<std::string> order;
  for (const MemberView member : p.members()) {
    if (member.value.kind() == Kind::String) order.emplace_back(member.name);
  }
  EXPECT_EQ(order, names);
}

TEST(BindingPropertyWriting, NamesInAnyOrderAreFoundOnceAndIterateInOrder) {
  // Hundreds of names in scrambled order, many repeated: past a few members a structure keeps
  // late names unordered for a while and merges them in now and then, and lookups, copies,
  // iteration and the node each addition hands back must not tell.
  std::map<std::string, int64_t> model;
  BindingProperty p;
  uint32_t random = 1;
  for (int64_t i = 0; i < 3000; ++i) {
    random = random * 1103515245u + 12345u;
    const std::string name = "k" + std::to_string((random >> 8) % 700);
    BindingProperty& node = p.memberAt(name);
    const bool added = !model.contains(name);
    EXPECT_EQ(node.asSigned(-1), added ? -1 : model[name]) << name;
    node.setSigned(i);
    model[name] = i;
    if (i % 211 == 0) {
      const BindingProperty copy = p;
      ASSERT_EQ(copy.size(), model.size());
      for (const auto& [each, value] : model) ASSERT_EQ(copy.member(each).asSigned(), value);
      EXPECT_EQ(&p.member(name + "x"), &BindingProperty::EmptyNode());
    }
  }
  using Members = std::vector<std::pair<std::string, int64_t>>;
  Members order;
  for (const MemberView member : p.members()) {
    order.emplace_back(member.name, member.value.asSigned());
  }
  EXPECT_EQ(order, Members(model.begin(), model.end()));
}

TEST(BindingPropertyWriting, EqualStringsShareARecordAndResetsFreeTheSubtreeOrTheLength) {
  BindingProperty p = Struct({{"x", Text("same")}, {"y", Text("same")}});
  EXPECT_EQ(p.arena()->InternedCount(), 3u) << "x, y and one record for the text";
  p.memberAt("x").copyFrom(p.member("y"));  // one tree: shares the record, releasing its own
  p.memberAt("x").reset();
  p.memberAt("y").setString(p.member("y").asString());  // its own text, released by the reset
  EXPECT_EQ(Describe(p), "{x:~,y:'same',}");
  p.memberAt("y").copyFrom(Signed(1));  // a scalar copied over a text lets it go too
  EXPECT_EQ(p.arena()->InternedCount(), 2u) << "the text goes with its last user";
  const std::size_t pagesBefore = PagesInUse();
  const uint8_t bytes[] = {1, 2, 3};
  for (int i = 0; i < 500; ++i) {
    BindingProperty& element = p.appendElement();
    element.memberAt("s").setString(std::to_string(i));
    element.memberAt("b").setBlob(bytes);
    element.memberAt("e").setString("a text the enumerator replaces");
    element.memberAt("e").setEnum({i, nullptr});
  }
  BindingArena* arena = p.arena();
  p.reset();
  EXPECT_EQ(p.arena(), arena) << "a reset keeps the arena";
  EXPECT_EQ(arena->InternedCount() + arena->PagesHeld() + arena->HeapBlocksHeld(), 0u);
  EXPECT_EQ(PagesInUse(), pagesBefore);

  EXPECT_FALSE(p.tryReserve(4)) << "not a collection";
  EXPECT_EQ(p.kind(), Kind::Empty);
  p.elementAt(1).setSigned(1);
  EXPECT_TRUE(p.tryReserve(100));
  EXPECT_FALSE(p.tryReserve(BindingProperty::kMaxElements + 1));
  p.reserve(std::numeric_limits<std::size_t>::max());  // a length error: neither throws nor grows
  p.elementAt(BindingProperty::kMaxElements).setString("lost");
  EXPECT_EQ(Describe(p), "[~,s1,]");
  EXPECT_EQ(p.elementAt(std::numeric_limits<std::size_t>::max()).kind(), Kind::Empty)
      << "the scratch node is cleared on each length error";
}

TEST(BindingPropertyCopy, CopiesReinternAndCopiesAndMovesWithinOneTreeAreSafe) {
  BindingProperty source = Sample();
  BindingProperty copy(source);
  copy.copyFrom(copy);
  copy = copy;
  EXPECT_EQ(Describe(copy), kSample);
  EXPECT_NE(copy.member("text").asString().data(), source.member("text").asString().data());
  EXPECT_EQ(copy.member("text").asString().data(), copy.member("again").asString().data());
  BindingProperty parent;  // into a child of a third tree: the copy lives in that tree's arena
  parent.memberAt("child").copyFrom(source);
  EXPECT_EQ(parent.member("child").member("list").element(2).arena(), parent.arena());
  BindingProperty q = Struct({{"b", Signed(1)}, {"a", Sample()}});
  q.copyFrom(q.member("a"));  // from a member, which the reset would free without a detour
  EXPECT_EQ(Describe(q), kSample);
  BindingProperty r = Struct({{"a", Text("old")}});
  r.memberAt("a").copyFrom(r);  // from its own ancestor: the tree as it was
  EXPECT_EQ(Describe(r), "{a:{a:'old',},}");
  BindingProperty s = List({Struct({{"x", Text("x")}}), {}});
  s.elementAt(1).memberAt("inner").copyFrom(s.element(0));  // between children of one tree
  s.elementAt(0).copyFrom(s.element(1).member("inner"));
  s.elementAt(0).memberAt("x").copyFrom(s.element(0).member("x"));
  EXPECT_EQ(Describe(s), "[{x:'x',},{inner:{x:'x',},},]");

  BindingArena* arena = source.arena();
  BindingProperty target = Text("old");
  target.moveFrom(source);
  EXPECT_EQ(target.arena(), arena) << "no copy between owning roots";
  EXPECT_EQ(source.kind(), Kind::Empty);
  source.memberAt("slot").moveFrom(target.memberAt("list"));  // a copy, then a reset
  EXPECT_EQ(Describe(source), "{slot:" + kList + ",}");
  EXPECT_EQ(Describe(target.member("list")), "~") << "the source member stays, emptied";
  BindingProperty m = Struct({{"a", List({Unsigned(1)})}, {"b", Text("b")}});
  m.memberAt("a").moveFrom(m.memberAt("b"));  // between members: the source is not below
  EXPECT_EQ(Describe(m), "{a:'b',b:~,}");
  q.moveFrom(q.memberAt("list"));  // from its own member, which goes with the old tree
  EXPECT_EQ(Describe(q), kList);
  q.memberAt("x").moveFrom(q);  // into its own member
  EXPECT_EQ(q.kind(), Kind::Empty);
}

TEST(BindingPropertySharedArena, RootsJoinKeepTheirValuesMoveTheirHoldsAndLetGo) {
  const uint64_t liveBefore = base::LiveBytes(base::GetAllocationStats());
  {
    BindingProperty host;
    host.shareArenaWith(host);
    EXPECT_EQ(host.arena(), nullptr) << "joining itself does nothing";
    BindingProperty sibling;
    sibling.shareArenaWith(host);  // neither has an arena yet: joining creates it
    EXPECT_NE(host.arena(), nullptr);
    EXPECT_EQ(sibling.arena(), host.arena());
    BindingProperty joiner = Sample();
    BindingArena* const own = joiner.arena();
    joiner.shareArenaWith(host);
    BindingArena* const shared = host.arena();
    EXPECT_EQ(joiner.arena(), shared) << "the value is copied over and the old arena goes";
    EXPECT_NE(shared, own);
    EXPECT_EQ(Describe(joiner), kSample);
    joiner.shareArenaWith(host.memberAt("t"));  // already shared; any node names its tree
    EXPECT_EQ(shared->RootCount(), 3u);
    host.memberAt("t").setString("shared");
    EXPECT_EQ(host.member("t").asString().data(), joiner.member("text").asString().data());
    BindingProperty moved(std::move(joiner));  // as a vector moves its elements: the hold moves
    EXPECT_EQ(joiner.arena(), nullptr);
    BindingProperty target = Text("own");  // its own arena stays with the source, alone
    BindingArena* const targetArena = target.arena();
    target.moveFrom(moved);
    EXPECT_EQ(target.arena(), shared);
    EXPECT_EQ(moved.arena(), targetArena);
    host.moveFrom(target);  // between siblings: the emptied source lets go of the shared arena
    EXPECT_EQ(Describe(host), kSample);
    EXPECT_EQ(target.arena(), nullptr);
    EXPECT_EQ(shared->RootCount(), 2u);
  }
  EXPECT_EQ(base::LiveBytes(base::GetAllocationStats()), liveBefore);
}

TEST(BindingPropertySharedArena, ARootTakesAContainerOfAnotherTreeAsItStandsAndMovesTheRest) {
  const uint64_t liveBefore = base::LiveBytes(base::GetAllocationStats());
  for (const bool takerGoesFirst : {true, false}) {
    auto source = std::make_unique<BindingProperty>(Sample());
    auto taker = std::make_unique<BindingProperty>(Text("old"));
    const BindingProperty* const deep = &source->member("list").element(1);
    taker->takeFrom(source->memberAt("list"));
    EXPECT_EQ(Describe(*taker), kList);
    EXPECT_EQ(&taker->element(1), deep) << "taken, not copied";
    EXPECT_EQ(taker->arena(), source->arena());
    EXPECT_EQ(Describe(*source),
              "{again:'shared',blob:bAQID,enum:e-4,flag:true,list:~,text:'shared',}");
    BindingProperty leaf;  // not a container: moved, without joining
    leaf.takeFrom(source->memberAt("text"));
    EXPECT_EQ(Describe(leaf), "'shared'");
    EXPECT_NE(leaf.arena(), source->arena());
    EXPECT_EQ(source->member("text").kind(), Kind::Empty);
    taker->takeFrom(taker->elementAt(1));  // its own tree: a move, as moveFrom makes it
    EXPECT_EQ(Describe(*taker), "{deep:f0.500000,}");
    (takerGoesFirst ? taker : source).reset();
    EXPECT_EQ(Describe(source ? *source : *taker),
              source ? "{again:'shared',blob:bAQID,enum:e-4,flag:true,list:~,text:~,}"
                     : "{deep:f0.500000,}");
  }
  EXPECT_EQ(base::LiveBytes(base::GetAllocationStats()), liveBefore);
}

TEST(BindingPropertyDepth, DeepTreesCopyResetAndDieWithoutRecursion) {
  // Walks keep their own stacks: a tree nested past any native stack's depth is safe to handle.
  BindingProperty root;
  BindingProperty* node = &root;
  for (int i = 0; i < 100000; ++i) node = i % 2 == 0 ? &node->memberAt("k") : &node->elementAt(1);
  node->setString("leaf");
  BindingProperty copy(root);
  const BindingProperty* read = &copy;
  for (int i = 0; i < 100000; ++i) read = i % 2 == 0 ? &read->member("k") : &read->element(1);
  EXPECT_EQ(read->asString(), "leaf");
  root.moveFrom(*node);  // from the bottom of the same tree: the whole tree is searched first
  EXPECT_EQ(root.asString(), "leaf");
}

}  // namespace
}  // namespace vyn::binding
