// The generic value: reading defaults, member order, interning, lenient rendering, results,
// copy and move within and between trees, roots sharing an arena, and the heap use of trees.
#include "binding/BindingProperty.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "binding/PageCache.h"
#include "base/PluginAllocator.h"

namespace vyn::binding {
namespace {

using Kind = BindingPropertyKind;

std::vector<std::string> MemberNames(const BindingProperty& node) {
  std::vector<std::string> names;
  for (auto [name, value] : node.members()) names.emplace_back(name);
  return names;
}

// A small tree with every kind, used by the copy and move tests.
void FillSample(BindingProperty& p) {
  p.memberAt("flag").setBool(true);
  p.memberAt("text").setString("shared");
  p.memberAt("again").setString("shared");
  p.memberAt("blob").setBlob(std::vector<uint8_t>{1, 2, 3});
  p.memberAt("enum").setEnum({-4, nullptr});
  BindingProperty& list = p.memberAt("list");
  list.elementAt(0).setUnsigned(7);
  list.elementAt(1).memberAt("deep").setFloat(0.5);
  list.elementAt(2).setString("shared");
}

void ExpectSample(const BindingProperty& p) {
  EXPECT_EQ(MemberNames(p),
            (std::vector<std::string>{"again", "blob", "enum", "flag", "list", "text"}));
  EXPECT_TRUE(p.member("flag").asBool());
  EXPECT_EQ(p.member("text").asString(), "shared");
  EXPECT_EQ(p.member("blob").toText(), "AQID");
  EXPECT_EQ(p.member("enum").asEnum().number, -4);
  EXPECT_EQ(p.member("list").size(), 3u);
  EXPECT_EQ(p.member("list").element(0).asUnsigned(), 7u);
  EXPECT_EQ(p.member("list").element(1).member("deep").asFloat(), 0.5);
  EXPECT_EQ(p.member("list").element(2).asString(), "shared");
}

TEST(BindingPropertyReading, AbsentDataReadsAsTheSharedEmptyNode) {
  BindingProperty list;
  list.elementAt(0).setBool(true);
  BindingProperty record;
  record.memberAt("x").setBool(true);
  EXPECT_EQ(&list.member("x"), &BindingProperty::EmptyNode());
  EXPECT_EQ(&list.element(1), &BindingProperty::EmptyNode());
  EXPECT_EQ(&record.element(0), &BindingProperty::EmptyNode());
  EXPECT_EQ(&record.member("y"), &BindingProperty::EmptyNode());
  EXPECT_EQ(&record.member("X"), &BindingProperty::EmptyNode());
  EXPECT_TRUE(record.elements().empty());
  EXPECT_TRUE(list.members().empty());
  EXPECT_EQ(BindingProperty::EmptyNode().kind(), Kind::Empty);
}

TEST(BindingPropertyReading, AccessorsGiveTheDefaultForOtherKinds) {
  BindingProperty p;
  p.setSigned(5);
  EXPECT_EQ(p.asUnsigned(7), 7u);
  EXPECT_EQ(p.toUnsigned(7), 5u);
  EXPECT_EQ(p.asFloat(1.5), 1.5);
  EXPECT_EQ(p.asBool(true), true);
  EXPECT_EQ(p.asString("d"), "d");
  EXPECT_EQ(p.asEnum({3, nullptr}).number, 3);
  EXPECT_EQ(p.asSigned(9), 5);
  p.setSigned(int32_t{-2});
  EXPECT_EQ(p.asSigned(), -2) << "32-bit values sign-extend";
  p.setUnsigned(uint32_t{0xFFFFFFFFu});
  EXPECT_EQ(p.asUnsigned(), 0xFFFFFFFFu) << "32-bit values zero-extend";
}

TEST(BindingPropertyReading, SizeAndKindPerKind) {
  struct Case {
    const char* desc;
    void (*fill)(BindingProperty&);
    Kind kind;
    uint32_t size;
  };
  const Case cases[] = {
      {"empty", [](BindingProperty&) {}, Kind::Empty, 0},
      {"bool", [](BindingProperty& p) { p.setBool(false); }, Kind::Bool, 1},
      {"float", [](BindingProperty& p) { p.setFloat(0); }, Kind::Float, 1},
      {"string: bytes", [](BindingProperty& p) { p.setString("h\xC3\xA9"); }, Kind::String, 3},
      {"empty string stays a string", [](BindingProperty& p) { p.setString(""); }, Kind::String, 0},
      {"null text is the empty string", [](BindingProperty& p) { p.setString(nullptr); },
       Kind::String, 0},
      {"blob", [](BindingProperty& p) { p.setBlob(std::vector<uint8_t>{1, 2}); }, Kind::Blob, 2},
      {"enum", [](BindingProperty& p) { p.setEnum({}); }, Kind::Enum, 1},
      {"collection", [](BindingProperty& p) { p.makeCollection(); }, Kind::Collection, 0},
      {"elementAt(3) makes four", [](BindingProperty& p) { (void)p.elementAt(3); },
       Kind::Collection, 4},
      {"structure", [](BindingProperty& p) { p.memberAt("a"); p.memberAt("a"); },
       Kind::Structure, 1},
  };
  for (const Case& c : cases) {
    BindingProperty p;
    c.fill(p);
    EXPECT_EQ(p.kind(), c.kind) << c.desc;
    EXPECT_EQ(p.size(), c.size) << c.desc;
  }
  BindingProperty p;
  p.setString("");
  EXPECT_EQ(p.asString("default").data()[0], '\0');
  EXPECT_EQ(p.asString("default"), "");
}

TEST(BindingPropertyReading, KindNames) {
  EXPECT_STREQ(BindingPropertyKindName(Kind::Empty), "empty");
  EXPECT_STREQ(BindingPropertyKindName(Kind::Unsigned), "unsigned");
  EXPECT_STREQ(BindingPropertyKindName(Kind::Structure), "structure");
  EXPECT_STREQ(BindingPropertyKindName(uint8_t{10}), "");
  EXPECT_STREQ(BindingPropertyKindName(uint8_t{255}), "");
}

TEST(BindingPropertyWriting, ElementAtGrowsWithEmptyElements) {
  BindingProperty p;
  p.elementAt(3).setSigned(1);
  ASSERT_EQ(p.size(), 4u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(p.element(i).kind(), Kind::Empty) << i;
  EXPECT_EQ(p.element(3).asSigned(), 1);
  EXPECT_FALSE(p.element(3).ownsArena());
  EXPECT_EQ(p.element(3).arena(), p.arena());
  p.makeCollection();
  EXPECT_EQ(p.size(), 4u) << "makeCollection keeps an existing collection";
  p.appendElement().setString("five");
  EXPECT_EQ(p.elements().size(), 5u);
  EXPECT_EQ(p.elements()[4].asString(), "five");
}

TEST(BindingPropertyWriting, MemberAtTurnsAnyNodeIntoAStructure) {
  BindingProperty p;
  p.setBool(true);
  p.memberAt("x");
  EXPECT_EQ(p.kind(), Kind::Structure);
  EXPECT_EQ(p.size(), 1u);
  EXPECT_EQ(p.member("x").kind(), Kind::Empty);
  p.memberAt("y").setSigned(2);
  p.makeStructure();
  EXPECT_EQ(p.size(), 2u) << "makeStructure keeps an existing structure";
  BindingProperty& y = p.memberAt("y");
  for (int i = 0; i < 200; ++i) p.memberAt("m" + std::to_string(i)).setSigned(i);
  EXPECT_EQ(&p.memberAt("y"), &y) << "members stay put while others are added";
  EXPECT_EQ(y.asSigned(), 2);
}

TEST(BindingPropertyWriting, MembersIterateInUnsignedByteOrder) {
  BindingProperty p;
  for (const char* name : {"b", "a", "B"}) p.memberAt(name);
  EXPECT_EQ(MemberNames(p), (std::vector<std::string>{"B", "a", "b"}));
  p.memberAt("c");
  p.memberAt("c");  // the last name again: found, not appended
  p.memberAt("bb");
  EXPECT_EQ(MemberNames(p), (std::vector<std::string>{"B", "a", "b", "bb", "c"}));

  BindingProperty q;
  const std::string nulA("k\0a", 3);
  const std::string nulB("k\0b", 3);
  for (std::string name : {std::string("\xC3\xA9"), std::string("ab"), std::string("z"),
                           nulB, std::string("a"), nulA, std::string("k"), std::string("")}) {
    q.memberAt(name).setString(name);
  }
  EXPECT_EQ(MemberNames(q), (std::vector<std::string>{"", "a", "ab", "k", nulA, nulB, "z",
                                                      "\xC3\xA9"}))
      << "a proper prefix first; bytes above 0x7F after ASCII; names past a NUL stay distinct";
  EXPECT_EQ(q.member(nulB).asString(), nulB);
  EXPECT_EQ(&q.member(std::string_view("k\0c", 3)), &BindingProperty::EmptyNode());
}

TEST(BindingPropertyWriting, NamesOfEveryShortLengthSortAndAreFound) {
  // Names up to ten bytes long from bytes that tell signed from unsigned and a NUL from the
  // padding, inserted out of order: iteration must be std::string's unsigned byte order.
  const char bytes[] = {'\0', '\x01', 'a', 'b', '\x7f', '\x80', '\xff'};
  std::vector<std::string> names;
  uint64_t seed = 7;
  for (std::size_t length = 0; length <= 10; ++length) {
    for (int variant = 0; variant < 24; ++variant) {
      std::string name;
      for (std::size_t i = 0; i < length; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        name += bytes[(seed >> 33) % std::size(bytes)];
      }
      names.push_back(name);
    }
  }
  BindingProperty p;
  for (const std::string& name : names) p.memberAt(name).setString(name);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  EXPECT_EQ(MemberNames(p), names);
  for (const std::string& name : names) {
    EXPECT_EQ(p.member(name).asString(), name) << testing::PrintToString(name);
  }
}

TEST(BindingPropertyWriting, EqualStringsShareOneRecord) {
  BindingProperty p;
  p.memberAt("x").setString("same");
  p.memberAt("y").setString(std::string("same"));
  EXPECT_EQ(p.member("x").asString().data(), p.member("y").asString().data());
  const std::size_t interned = p.arena()->InternedCount();
  EXPECT_EQ(interned, 3u) << "x, y and one record for the text";
  p.memberAt("x").reset();
  EXPECT_EQ(p.member("y").asString(), "same");
  p.memberAt("y").setString(p.member("y").asString());  // own text: interned before the reset
  EXPECT_EQ(p.member("y").asString(), "same");
  p.memberAt("y").reset();
  EXPECT_EQ(p.arena()->InternedCount(), 2u) << "the text's record goes with its last user";
}

TEST(BindingPropertyWriting, ResetFreesTheSubtreeButKeepsTheArena) {
  const std::size_t pagesBefore = PageCache::Instance().GetStats().pagesInUse;
  BindingProperty p;
  for (int i = 0; i < 500; ++i) {
    BindingProperty& item = p.appendElement();
    item.memberAt("n").setSigned(i);
    item.memberAt("s").setString(std::to_string(i));
  }
  BindingArena* arena = p.arena();
  p.reset();
  EXPECT_EQ(p.kind(), Kind::Empty);
  EXPECT_EQ(p.arena(), arena);
  EXPECT_EQ(arena->InternedCount(), 0u);
  EXPECT_EQ(arena->PagesHeld(), 0u);
  EXPECT_EQ(PageCache::Instance().GetStats().pagesInUse, pagesBefore);
}

TEST(BindingPropertyWriting, ReserveBeyondTheLimitIsALengthError) {
  BindingProperty p;
  EXPECT_FALSE(p.tryReserve(4)) << "not a collection";
  EXPECT_EQ(p.kind(), Kind::Empty);
  p.elementAt(1).setSigned(1);
  EXPECT_TRUE(p.tryReserve(100));
  EXPECT_FALSE(p.tryReserve(BindingProperty::kMaxElements + 1));
  p.reserve(std::numeric_limits<std::size_t>::max());  // neither throws nor allocates
  BindingProperty& scratch = p.elementAt(BindingProperty::kMaxElements);
  scratch.setString("lost");
  EXPECT_EQ(p.size(), 2u);
  EXPECT_NE(&scratch, &p.element(1));
  EXPECT_EQ(p.elementAt(std::numeric_limits<std::size_t>::max()).kind(), Kind::Empty)
      << "the scratch node is cleared on each length error";
  EXPECT_EQ(p.element(1).asSigned(), 1);
}

TEST(BindingPropertyText, RendersEachKind) {
  struct Case {
    const char* desc;
    void (*fill)(BindingProperty&);
    const char* text;
  };
  const Case cases[] = {
      {"empty", [](BindingProperty&) {}, ""},
      {"bool true", [](BindingProperty& p) { p.setBool(true); }, "true"},
      {"bool false", [](BindingProperty& p) { p.setBool(false); }, "false"},
      {"signed minimum", [](BindingProperty& p) { p.setSigned(INT64_MIN); },
       "-9223372036854775808"},
      {"unsigned maximum", [](BindingProperty& p) { p.setUnsigned(UINT64_MAX); },
       "18446744073709551615"},
      {"float: six decimals", [](BindingProperty& p) { p.setFloat(2.0); }, "2.000000"},
      {"float: 1.5", [](BindingProperty& p) { p.setFloat(1.5); }, "1.500000"},
      {"float: rounded", [](BindingProperty& p) { p.setFloat(-1.0000006); }, "-1.000001"},
      {"string", [](BindingProperty& p) { p.setString("a b"); }, "a b"},
      {"blob: Base64", [](BindingProperty& p) { p.setBlob(std::vector<uint8_t>{1, 2, 3}); },
       "AQID"},
      {"enum: signed number", [](BindingProperty& p) { p.setEnum({-3, nullptr}); }, "-3"},
      {"collection", [](BindingProperty& p) { p.elementAt(0).setSigned(1); }, ""},
      {"structure", [](BindingProperty& p) { p.memberAt("a").setSigned(1); }, ""},
  };
  for (const Case& c : cases) {
    BindingProperty p;
    c.fill(p);
    EXPECT_EQ(p.toText(), c.text) << c.desc;
  }
  BindingProperty huge;
  huge.setFloat(1e300);
  EXPECT_EQ(huge.toText().size(), 301u + 7u) << "long %f renderings are not cut";
}

TEST(BindingPropertyText, ToUnsignedIsLenient) {
  struct Case {
    const char* desc;
    void (*fill)(BindingProperty&);
    uint64_t value;
  };
  const Case cases[] = {
      {"empty: default", [](BindingProperty&) {}, 99},
      {"bool", [](BindingProperty& p) { p.setBool(true); }, 1},
      {"signed -1: same bits", [](BindingProperty& p) { p.setSigned(-1); }, UINT64_MAX},
      {"float truncates", [](BindingProperty& p) { p.setFloat(3.9); }, 3},
      {"float 2^63 keeps its top bit", [](BindingProperty& p) { p.setFloat(9223372036854775808.0); },
       uint64_t{1} << 63},
      {"float above 2^64 saturates", [](BindingProperty& p) { p.setFloat(1e30); }, UINT64_MAX},
      {"float NaN", [](BindingProperty& p) { p.setFloat(std::nan("")); }, 0},
      {"float -2.5", [](BindingProperty& p) { p.setFloat(-2.5); }, static_cast<uint64_t>(-2)},
      {"string hexadecimal", [](BindingProperty& p) { p.setString("0x1F"); }, 31},
      {"string octal", [](BindingProperty& p) { p.setString("017"); }, 15},
      {"string decimal, trailing text", [](BindingProperty& p) { p.setString("42abc"); }, 42},
      {"string not a number", [](BindingProperty& p) { p.setString("abc"); }, 0},
      {"string empty", [](BindingProperty& p) { p.setString(""); }, 0},
      {"enum sign-extends", [](BindingProperty& p) { p.setEnum({-2, nullptr}); },
       static_cast<uint64_t>(-2)},
      {"blob: default", [](BindingProperty& p) { p.setBlob(std::vector<uint8_t>{9}); }, 99},
      {"collection: default", [](BindingProperty& p) { p.makeCollection(); }, 99},
      {"structure: default", [](BindingProperty& p) { p.makeStructure(); }, 99},
  };
  for (const Case& c : cases) {
    BindingProperty p;
    c.fill(p);
    EXPECT_EQ(p.toUnsigned(99), c.value) << c.desc;
  }
}

TEST(BindingResultErrors, LastMessageWinsAndOkReadsEmpty) {
  BindingResult result;
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(result.kind(), Kind::Empty);
  EXPECT_EQ(result.ErrorText(), "");
  result.setString("value");
  EXPECT_EQ(result.ErrorText(), "") << "an ok result has no error text";
  result.SetError("first");
  result.SetError("second");
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.ErrorText(), "second");
  EXPECT_EQ(MemberNames(result), std::vector<std::string>{"error"});
  result.SetError(result.member("error").asString());  // its own text, released by the reset
  EXPECT_EQ(result.ErrorText(), "second");
  result.memberAt("error").setSigned(5);
  EXPECT_EQ(result.ErrorText(), "") << "a non-string error member reads as the empty text";
}

TEST(BindingPropertyCopy, DeepCopyBetweenTreesReinternsEverything) {
  BindingProperty source;
  FillSample(source);
  BindingProperty copy(source);
  ExpectSample(copy);
  EXPECT_NE(copy.arena(), source.arena());
  EXPECT_TRUE(copy.ownsArena());
  EXPECT_NE(copy.member("text").asString().data(), source.member("text").asString().data());
  EXPECT_EQ(copy.member("text").asString().data(), copy.member("again").asString().data());
  EXPECT_NE(copy.member("blob").asBlob().data(), source.member("blob").asBlob().data());
  copy.memberAt("list").elementAt(0).setUnsigned(8);
  EXPECT_EQ(source.member("list").element(0).asUnsigned(), 7u);

  // Into a child of a third tree: the copy lives in that tree's arena.
  BindingProperty parent;
  parent.memberAt("child").copyFrom(source);
  ExpectSample(parent.member("child"));
  EXPECT_EQ(parent.member("child").member("list").element(2).arena(), parent.arena());
  source.reset();
  ExpectSample(parent.member("child"));
}

TEST(BindingPropertyCopy, SelfAndOwnSubtreeCopiesAreSafe) {
  BindingProperty p;
  FillSample(p);
  p.copyFrom(p);
  ExpectSample(p);
  p = p;  // through the assignment operator as well
  ExpectSample(p);

  // From a member: the reset of p would free the source without the detour.
  BindingProperty q;
  q.memberAt("a").copyFrom(p);
  q.memberAt("b").setSigned(1);
  q.copyFrom(q.member("a"));
  ExpectSample(q);

  // Into a member from its own ancestor: the copy sees the tree as it was.
  BindingProperty r;
  r.memberAt("a").setString("old");
  r.memberAt("a").copyFrom(r);
  EXPECT_EQ(r.member("a").member("a").asString(), "old");
  EXPECT_EQ(r.size(), 1u);

  // Between members of one collection (a child, not a root, receives the copy).
  BindingProperty s;
  s.elementAt(0).memberAt("x").setString("x");
  s.elementAt(1).memberAt("inner").copyFrom(s.element(0));
  s.elementAt(0).copyFrom(s.element(1).member("inner"));
  EXPECT_EQ(s.element(0).member("x").asString(), "x");
  EXPECT_EQ(s.element(1).member("inner").member("x").asString(), "x");
  s.elementAt(0).memberAt("x").copyFrom(s.element(0).member("x"));
  EXPECT_EQ(s.element(0).member("x").asString(), "x");
}

TEST(BindingPropertyMove, OwningRootsSwapArenas) {
  BindingProperty source;
  FillSample(source);
  BindingArena* arena = source.arena();
  BindingProperty target;
  target.setString("old");
  target.moveFrom(source);
  ExpectSample(target);
  EXPECT_EQ(target.arena(), arena) << "no copy between owning roots";
  EXPECT_EQ(source.kind(), Kind::Empty);
  EXPECT_TRUE(source.ownsArena());
  source.setString("reusable");
  EXPECT_EQ(source.asString(), "reusable");

  BindingProperty constructed(std::move(target));
  EXPECT_EQ(constructed.arena(), arena);
  ExpectSample(constructed);
  EXPECT_EQ(target.kind(), Kind::Empty);  // NOLINT(bugprone-use-after-move): defined as empty
}

TEST(BindingPropertyMove, ChildrenAreCopiedThenReset) {
  BindingProperty a;
  FillSample(a.memberAt("inner"));
  BindingProperty b;
  b.memberAt("slot").moveFrom(a.memberAt("inner"));
  ExpectSample(b.member("slot"));
  EXPECT_EQ(a.member("inner").kind(), Kind::Empty);
  EXPECT_EQ(a.size(), 1u) << "the source member stays, emptied";

  BindingProperty root;
  root.moveFrom(b.memberAt("slot"));
  ExpectSample(root);
  EXPECT_NE(root.arena(), b.arena());

  // From its own member: the member is gone with the old tree, nothing is reset twice.
  BindingProperty c;
  FillSample(c.memberAt("inner"));
  c.memberAt("other").setSigned(1);
  c.moveFrom(c.memberAt("inner"));
  ExpectSample(c);
  // Into its own member from the root.
  BindingProperty d;
  d.memberAt("x").setString("x");
  d.memberAt("x").moveFrom(d);
  EXPECT_EQ(d.kind(), Kind::Empty);
}

uint64_t LiveBytes() { return base::LiveBytes(base::GetAllocationStats()); }
std::size_t PagesInUse() { return PageCache::Instance().GetStats().pagesInUse; }

TEST(BindingPropertySharedArena, SiblingsShareRecordsResetAloneAndDieInAnyOrder) {
  for (const bool firstDiesFirst : {true, false}) {
    const uint64_t liveBefore = LiveBytes();
    const std::size_t pagesBefore = PagesInUse();
    {
      auto first = std::make_unique<BindingProperty>();
      auto second = std::make_unique<BindingProperty>();
      first->memberAt("only-first").setString("x");
      second->shareArenaWith(*first);
      ASSERT_EQ(second->arena(), first->arena());
      BindingArena& arena = *first->arena();
      EXPECT_EQ(arena.RootCount(), 2u);
      first->memberAt("both").setString("shared");
      second->memberAt("both").setString("shared");
      EXPECT_EQ(first->member("both").asString().data(), second->member("both").asString().data())
          << "one record for the text of both trees";
      // Enough in both trees to take pages, which the surviving tree keeps using.
      for (int i = 0; i < 300; ++i) {
        first->memberAt("list").appendElement().memberAt("n").setSigned(i);
        second->memberAt("list").appendElement().memberAt("n").setSigned(-i);
      }
      EXPECT_GT(arena.PagesHeld(), 0u);

      // A reset gives back the sibling's records only.
      FillSample(second->memberAt("sample"));
      second->memberAt("sample").reset();
      FillSample(second->memberAt("sample"));
      std::unique_ptr<BindingProperty>& dying = firstDiesFirst ? first : second;
      std::unique_ptr<BindingProperty>& surviving = firstDiesFirst ? second : first;
      const std::size_t internedBefore = arena.InternedCount();
      dying.reset();
      EXPECT_EQ(arena.RootCount(), 1u);
      EXPECT_LT(arena.InternedCount(), internedBefore) << "the dead tree's own names are gone";
      EXPECT_EQ(surviving->member("both").asString(), "shared");
      EXPECT_EQ(surviving->member("list").size(), 300u);
      EXPECT_EQ(surviving->member("list").element(299).member("n").asSigned(),
                firstDiesFirst ? -299 : 299);
      if (firstDiesFirst) {
        ExpectSample(surviving->member("sample"));
      } else {
        EXPECT_EQ(surviving->member("only-first").asString(), "x");
      }
    }
    EXPECT_EQ(LiveBytes(), liveBefore) << "first dies first: " << firstDiesFirst;
    EXPECT_EQ(PagesInUse(), pagesBefore) << "first dies first: " << firstDiesFirst;
  }
}

TEST(BindingPropertySharedArena, JoiningKeepsTheValueAndLetsTheOldArenaGo) {
  const uint64_t liveBefore = LiveBytes();
  {
    BindingProperty host;  // no arena yet: joining creates it
    BindingProperty joiner;
    FillSample(joiner);
    BindingArena* own = joiner.arena();
    joiner.shareArenaWith(host);
    ASSERT_NE(host.arena(), nullptr);
    EXPECT_EQ(joiner.arena(), host.arena());
    EXPECT_NE(joiner.arena(), own);
    ExpectSample(joiner);
    EXPECT_EQ(host.kind(), Kind::Empty);

    joiner.shareArenaWith(host);  // already shared: nothing changes
    EXPECT_EQ(host.arena()->RootCount(), 2u);
    BindingProperty third;
    third.shareArenaWith(joiner.memberAt("list"));  // any node of the tree names its arena
    EXPECT_EQ(host.arena()->RootCount(), 3u);
  }
  EXPECT_EQ(LiveBytes(), liveBefore);
}

TEST(BindingPropertySharedArena, CopiesAndMovesOfSharingRoots) {
  BindingProperty a;
  BindingProperty b;
  b.shareArenaWith(a);
  BindingArena* const shared = a.arena();
  FillSample(a);
  FillSample(b);

  BindingProperty copied(b);  // a copy gets an arena of its own
  ExpectSample(copied);
  EXPECT_NE(copied.arena(), shared);
  EXPECT_EQ(shared->RootCount(), 2u);

  b = copied;  // into a sharing root, from another tree: it stays in the shared arena
  b = b;
  b.copyFrom(a.member("list"));  // from its sibling's subtree
  EXPECT_EQ(b.arena(), shared);
  EXPECT_EQ(b.size(), 3u);
  EXPECT_EQ(b.element(1).member("deep").asFloat(), 0.5);
  b.copyFrom(a);
  ExpectSample(b);
  EXPECT_EQ(shared->RootCount(), 2u);

  // Move-constructed (as a vector moves its elements): the hold moves with the value.
  BindingProperty moved(std::move(b));
  ExpectSample(moved);
  EXPECT_EQ(moved.arena(), shared);
  EXPECT_EQ(b.arena(), nullptr);  // NOLINT(bugprone-use-after-move): defined as empty
  EXPECT_EQ(shared->RootCount(), 2u);

  // Into a root with an arena of its own: that arena stays with the source, alone.
  BindingProperty target;
  target.setString("own");
  BindingArena* const own = target.arena();
  target.moveFrom(moved);
  ExpectSample(target);
  EXPECT_EQ(target.arena(), shared);
  EXPECT_EQ(moved.arena(), own);
  EXPECT_EQ(own->RootCount(), 1u);

  // Between siblings: the emptied source lets go of the shared arena.
  a.moveFrom(target);
  ExpectSample(a);
  EXPECT_EQ(target.arena(), nullptr);
  EXPECT_EQ(shared->RootCount(), 1u);

  // Into a child of another tree: a copy there; the source root is emptied.
  BindingProperty c;
  c.shareArenaWith(a);
  FillSample(c);
  BindingProperty parent;
  parent.elementAt(0).moveFrom(c);
  ExpectSample(parent.element(0));
  EXPECT_EQ(parent.element(0).arena(), parent.arena());
  EXPECT_EQ(c.kind(), Kind::Empty);
  ExpectSample(a);
}

TEST(BindingPropertyDepth, DeepTreesCopyResetAndDieWithoutRecursion) {
  // Parsers build trees as deep as their input; walking one must not exhaust the stack.
  constexpr int kDepth = 100000;
  BindingProperty root;
  BindingProperty* node = &root;
  for (int i = 0; i < kDepth; ++i) {
    node = i % 2 == 0 ? &node->memberAt("k") : &node->elementAt(1);
    if (i % 1000 == 0) node->setBlob(std::vector<uint8_t>{1});  // reset again by the next step
  }
  node->setString("leaf");
  BindingProperty* const leaf = node;

  BindingProperty copy(root);
  const BindingProperty* read = &copy;
  for (int i = 0; i < kDepth; ++i) read = i % 2 == 0 ? &read->member("k") : &read->element(1);
  EXPECT_EQ(read->asString(), "leaf");
  EXPECT_EQ(copy.member("k").size(), 2u);

  // A move from the bottom of the same tree searches the whole tree first.
  root.moveFrom(*leaf);
  EXPECT_EQ(root.asString(), "leaf");
  copy.memberAt("k").reset();
  EXPECT_EQ(copy.size(), 1u);
}

TEST(BindingPropertyHeap, SmallTreesCostWhatTheyUse) {
  // Counted heap bytes of a root with the tree, all in, and no page of the page cache.
  struct Case {
    const char* desc;
    void (*fill)(BindingProperty&);
    uint64_t maxBytes;
  };
  const Case cases[] = {
      {"nothing", [](BindingProperty&) {}, 0},
      {"a scalar", [](BindingProperty& p) { p.setFloat(1.5); }, 0},
      {"an answer {questionId: 1, value: 2}",
       [](BindingProperty& p) {
         p.memberAt("questionId").setUnsigned(1);
         p.memberAt("value").setUnsigned(2);
       },
       400},
      {"the same answer copied in",
       [](BindingProperty& p) {
         BindingProperty answer;
         answer.memberAt("questionId").setUnsigned(1);
         answer.memberAt("value").setUnsigned(2);
         p.copyFrom(answer);
       },
       400},
      {"a string", [](BindingProperty& p) { p.setString("hello"); }, 400},
      {"three numbers", [](BindingProperty& p) { p.elementAt(2).setSigned(3); }, 520},
      {"a record of six members",
       [](BindingProperty& p) {
         p.memberAt("playerSurveyId").setUnsigned(12);
         p.memberAt("action").setString("close");
         p.memberAt("data").elementAt(0).memberAt("questionId").setUnsigned(1);
         p.memberAt("data").elementAt(0).memberAt("value").setString("text");
       },
       1400},
  };
  const std::size_t pagesBefore = PageCache::Instance().GetStats().pagesInUse;
  for (const Case& c : cases) {
    const uint64_t before = base::LiveBytes(base::GetAllocationStats());
    {
      BindingProperty root;
      c.fill(root);
      EXPECT_LE(base::LiveBytes(base::GetAllocationStats()) - before, c.maxBytes) << c.desc;
      EXPECT_EQ(PageCache::Instance().GetStats().pagesInUse, pagesBefore) << c.desc;
    }
    EXPECT_EQ(base::LiveBytes(base::GetAllocationStats()), before) << c.desc;
  }
}

TEST(BindingPropertyHeap, LargeTreeAllocatesNothingPerNode) {
  constexpr std::size_t kItems = 10000;
  const char* const names[] = {"alpha", "bravo", "charlie", "delta", "echo",
                               "foxtrot", "golf", "hotel", "india"};
  const char* const colours[] = {"red", "green", "blue"};
  const base::AllocationStats before = base::GetAllocationStats();
  {
    BindingProperty root;
    root.makeCollection();
    root.reserve(kItems);
    for (std::size_t i = 0; i < kItems; ++i) {
      BindingProperty& item = root.appendElement();
      for (std::size_t m = 0; m < std::size(names); ++m) {
        BindingProperty& member = item.memberAt(names[m]);
        if (m % 2 == 0) {
          member.setString(colours[(i + m) % 3]);
        } else {
          member.setUnsigned(i * m);
        }
      }
    }
    ASSERT_EQ(root.size(), kItems);  // 10,000 elements with 9 members each: 100,000 nodes
    EXPECT_EQ(root.element(kItems - 1).member("india").asString(), "blue");
    const base::AllocationStats built = base::GetAllocationStats();
    EXPECT_LE(built.blocksAllocated - before.blocksAllocated, 6u)
        << "the arena with its nurseries, page chains and intern table, and the element array: "
           "nothing per item";
  }
  const base::AllocationStats after = base::GetAllocationStats();
  EXPECT_EQ(base::LiveBlocks(after), base::LiveBlocks(before)) << "destruction frees all";
  EXPECT_EQ(PageCache::Instance().GetStats().pagesInUse, 0u);
}

}  // namespace
}  // namespace vyn::binding
