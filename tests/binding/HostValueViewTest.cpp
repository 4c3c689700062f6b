// Borrowing host views: the same records as the copying conversion, pointing into the trees,
// grafted trees shown in place, and nothing left behind when the view goes.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "binding/BindingRegistry.h"
#include "binding/BindingTypeId.h"
#include "binding/HostValueConversion.h"
#include "base/PluginAllocator.h"

namespace vyn::binding {
namespace {

enum class ViewTestColor : int32_t { Red = 1, Green = 2 };

// A text for a host record tree in which owned and borrowed kinds read alike, so that a view
// and a copy of the same tree describe the same.
std::string Describe(const HostValue& value) {
  const HostValueRef ref = value.payload.ref;
  switch (value.kind) {
    case kHostValueEmpty:
      return "-";
    case kHostValueBool:
      return value.payload.b != 0 ? "true" : "false";
    case kHostValueSigned:
      return std::to_string(value.payload.i);
    case kHostValueUnsigned:
      return std::to_string(value.payload.u) + "u";
    case kHostValueFloat:
      return std::to_string(value.payload.f);
    case kHostValueStringBorrowed:
    case kHostValueStringOwned:
      return "'" + std::string(static_cast<const char*>(ref.ptr), ref.count) + "'";
    case kHostValueBlobBorrowed:
    case kHostValueBlobOwned:
      return "blob" + std::to_string(ref.count);
    case kHostValueCollection: {
      std::string text = "[";
      for (uint32_t i = 0; i < ref.count; ++i) {
        text += Describe(static_cast<const HostValue*>(ref.ptr)[i]) + ",";
      }
      return text + "]";
    }
    case kHostValueStructure: {
      std::string text = "{";
      for (uint32_t i = 0; i < ref.count; ++i) {
        const HostMember member = static_cast<const HostMember*>(ref.ptr)[i];
        text += std::string(member.name) + ":" + Describe(member.value) + ",";
      }
      return text + "}";
    }
    default:
      return "?";
  }
}

std::string DescribeCopy(const BindingProperty& tree, const BindingRegistry* registry) {
  HostValue copy = ToHostValue(tree, registry);
  std::string text = Describe(copy);
  ReleaseHostValue(copy);
  return text;
}

const HostMember& MemberOf(const HostValue& structure, uint32_t index) {
  return static_cast<const HostMember*>(structure.payload.ref.ptr)[index];
}

// Fields of packed records, copied out so that no assertion binds a reference to them.
uint32_t Kind(const HostMember& member) { return member.value.kind; }
const void* Pointer(const HostMember& member) { return member.value.payload.ref.ptr; }

void FillMixed(BindingProperty& tree) {
  tree.memberAt("b").setBool(true);
  tree.memberAt("blob").setBlob(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("\0\1\2"), 3));
  tree.memberAt("empty");
  tree.memberAt("float").setFloat(-0.25);
  tree.memberAt("min").setSigned(std::numeric_limits<int64_t>::min());
  tree.memberAt("max").setUnsigned(std::numeric_limits<uint64_t>::max());
  tree.memberAt("text").setString(std::string_view("x\0y", 3));
  BindingProperty& list = tree.memberAt("list");
  list.makeCollection();
  list.appendElement().setString("first");
  list.appendElement().memberAt("inner").makeCollection();
  tree.memberAt("none").makeStructure();
}

TEST(HostValueView, ShowsWhatTheCopyShowsWithTheTreesOwnBytes) {
  BindingRegistry registry;
  registry.BeginType(sizeof(ViewTestColor), "VynViewTestColor", TypeIdOf<ViewTestColor>(), true)
      .AddEnumValue("Red", 1, "")
      .AddEnumValue("Green", 2, "");
  BindingProperty tree;
  FillMixed(tree);
  tree.memberAt("color").setEnum(BindingEnum{2, TypeIdOf<ViewTestColor>()});
  tree.memberAt("unnamed").setEnum(BindingEnum{-9, TypeIdOf<ViewTestColor>()});

  const HostValueView view(tree, &registry);
  EXPECT_EQ(Describe(view.value()), DescribeCopy(tree, &registry));

  // Names, texts and bytes are the tree's, not copies.
  const HostValue& root = view.value();
  uint32_t index = 0;
  for (const MemberView member : tree.members()) {
    const HostMember shown = MemberOf(root, index++);
    const char* name = shown.name;
    const uint8_t ownsName = shown.ownsName;
    EXPECT_EQ(name, member.name.data());
    EXPECT_EQ(ownsName, 0) << name;
  }
  const HostMember text = MemberOf(root, 9);
  ASSERT_STREQ(text.name, "text");
  EXPECT_EQ(Kind(text), uint32_t{kHostValueStringBorrowed});
  EXPECT_EQ(Pointer(text), tree.member("text").asString().data());
  const HostMember blob = MemberOf(root, 1);
  ASSERT_STREQ(blob.name, "blob");
  EXPECT_EQ(Kind(blob), uint32_t{kHostValueBlobBorrowed});
  EXPECT_EQ(Pointer(blob), tree.member("blob").asBlob().data());
  const HostMember color = MemberOf(root, 2);
  ASSERT_STREQ(color.name, "color");
  EXPECT_EQ(Kind(color), uint32_t{kHostValueStringBorrowed});
  EXPECT_STREQ(static_cast<const char*>(Pointer(color)), "Green");
}

TEST(HostValueView, ShowsGraftedTreesInPlaceOfTheirPlaceholders) {
  BindingProperty event;
  event.memberAt("uri").setString("/a/b");
  event.memberAt("data");
  BindingProperty survey;
  survey.memberAt("title").setString("T");
  survey.memberAt("data").memberAt("questions");
  survey.memberAt("data").memberAt("url");
  BindingProperty questions;
  questions.elementAt(2).setUnsigned(7);
  BindingProperty url;
  url.setString("https://x");

  const HostValueGraft grafts[] = {
      {&event.member("data"), &survey},
      {&survey.member("data").member("questions"), &questions},
      {&survey.member("data").member("url"), &url},
  };
  const HostValueView view(event, nullptr, grafts);
  EXPECT_EQ(Describe(view.value()),
            "{data:{data:{questions:[-,-,7u,],url:'https://x',},title:'T',},uri:'/a/b',}");

  // The root itself can be a placeholder; a node met twice is shown twice.
  BindingProperty twice;
  twice.elementAt(0);
  twice.elementAt(1);
  const HostValueGraft both[] = {{&twice.element(0), &url}, {&twice.element(1), &url}};
  EXPECT_EQ(Describe(HostValueView(twice, nullptr, both).value()), "['https://x','https://x',]");
  BindingProperty root;
  const HostValueGraft atRoot[] = {{&root, &questions}};
  EXPECT_EQ(Describe(HostValueView(root, nullptr, atRoot).value()), "[-,-,7u,]");
  // Only empty nodes are placeholders.
  const HostValueGraft notEmpty[] = {{&twice, &questions}};
  EXPECT_EQ(Describe(HostValueView(twice, nullptr, notEmpty).value()), "[-,-,]");
}

TEST(HostValueView, GraftsThatPointInACircleEnd) {
  BindingProperty a;
  BindingProperty b;
  const HostValueGraft circle[] = {{&a, &b}, {&b, &a}};
  EXPECT_EQ(Describe(HostValueView(a, nullptr, circle).value()), "-");
}

TEST(HostValueView, LargeTreesLeaveNothingBehind) {
  const uint64_t before = base::LiveBytes(base::GetAllocationStats());
  {
    BindingProperty tree;
    // Many small arrays across several blocks, and arrays larger than any block.
    for (std::size_t i = 0; i < 3000; ++i) {
      BindingProperty& element = tree.memberAt("small").elementAt(i);
      element.memberAt("k").setUnsigned(i);
      element.memberAt("l").elementAt(1).setBool(true);
    }
    tree.memberAt("large").elementAt(100000).setSigned(-1);
    const HostValueView view(tree, nullptr);
    EXPECT_EQ(Describe(view.value()), DescribeCopy(tree, nullptr));
  }
  EXPECT_EQ(base::LiveBytes(base::GetAllocationStats()), before);
}

TEST(HostValueView, EmptyContainersPointSomewhere) {
  BindingProperty tree;
  tree.memberAt("list").makeCollection();
  tree.memberAt("map").makeStructure();
  const HostValueView view(tree, nullptr);
  for (uint32_t i = 0; i < 2; ++i) {
    const HostMember member = MemberOf(view.value(), i);
    const uint32_t count = member.value.payload.ref.count;
    const void* array = member.value.payload.ref.ptr;
    EXPECT_EQ(count, 0u);
    EXPECT_NE(array, nullptr) << member.name;
  }
}

}  // namespace
}  // namespace vyn::binding
