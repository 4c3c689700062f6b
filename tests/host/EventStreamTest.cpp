// Fanning published events out to stream readers: the wire format, the bound on a slow
// reader's queue, and the end of every stream at close.
#include <gtest/gtest.h>

#include "host/EventStream.h"

namespace vyn::host {
namespace {

TEST(EventStreamFormat, WritesOneDataLinePerLineAndKeepsTheNameOnOneLine) {
  EXPECT_EQ(FormatServerSentEvent("OnJsonApiEvent", R"({"a":1})"),
            "event: OnJsonApiEvent\ndata: {\"a\":1}\n\n");
  EXPECT_EQ(FormatServerSentEvent("bad\nname", "one\r\ntwo"),
            "event: bad name\ndata: one\ndata: two\n\n");
  EXPECT_EQ(FormatServerSentEvent("e", ""), "event: e\ndata: \n\n");
}

TEST(EventStreamReaders, EachReaderSeesEveryEventInOrder) {
  EventStream stream;
  auto first = stream.Open();
  auto second = stream.Open();
  stream.Publish("a", "1");
  stream.Publish("b", "2");
  for (auto& reader : {first, second}) {
    std::string chunk;
    ASSERT_TRUE(reader->Next(chunk, 0));
    EXPECT_EQ(chunk, "event: a\ndata: 1\n\n");
    ASSERT_TRUE(reader->Next(chunk, 0));
    EXPECT_EQ(chunk, "event: b\ndata: 2\n\n");
    EXPECT_FALSE(reader->Next(chunk, 0));
    EXPECT_FALSE(reader->closed());
  }
  stream.Remove(second);
  stream.Publish("c", "3");
  std::string chunk;
  EXPECT_FALSE(second->Next(chunk, 0)) << "a removed reader gets nothing more";
  EXPECT_TRUE(first->Next(chunk, 0));
}

TEST(EventStreamReaders, ASlowReaderLosesItsOldestEvents) {
  EventStream stream;
  auto reader = stream.Open();
  for (size_t i = 0; i < EventStream::kMaxQueued + 2; ++i) stream.Publish("e", std::to_string(i));
  std::string chunk;
  ASSERT_TRUE(reader->Next(chunk, 0));
  EXPECT_EQ(chunk, "event: e\ndata: 2\n\n");
  size_t left = 1;
  while (reader->Next(chunk, 0)) ++left;
  EXPECT_EQ(left, EventStream::kMaxQueued);
}

TEST(EventStreamReaders, CloseEndsPresentAndLaterReadersAfterTheirQueue) {
  EventStream stream;
  auto reader = stream.Open();
  stream.Publish("last", "x");
  stream.Close();
  EXPECT_FALSE(reader->closed()) << "what was queued is still read";
  std::string chunk;
  EXPECT_TRUE(reader->Next(chunk, 1000));
  EXPECT_TRUE(reader->closed());
  EXPECT_FALSE(reader->Next(chunk, 1000)) << "a closed, empty reader returns at once";
  EXPECT_TRUE(stream.Open()->closed());
}

}  // namespace
}  // namespace vyn::host
