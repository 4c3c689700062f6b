// Fanning published events out to stream readers: the wire format, the bound on a slow
// reader's queue, and the end of every stream at close.
#include <gtest/gtest.h>

#include "host/EventStream.h"

namespace vyn::host {
namespace {

TEST(EventStreamFormat, WritesOneDataLinePerLineAndKeepsTheNameOnOneLine) {
  EXPECT_EQ(FormatServerSentEvent("bad\nname", "one\r\ntwo"),
            "event: bad name\ndata: one\ndata: two\n\n");
  EXPECT_EQ(FormatServerSentEvent("e", ""), "event: e\ndata: \n\n");
}

// Everything a reader has queued, without waiting.
std::string Drain(EventStream::Reader& reader) {
  std::string all, chunk;
  while (reader.Next(chunk, 0)) all += chunk;
  return all;
}

TEST(EventStreamReaders, EachSeesEveryEventInOrderUntilRemovedOrItsQueueOverflows) {
  EventStream stream;
  auto first = stream.Open();
  auto second = stream.Open();
  stream.Publish("a", "1");
  stream.Publish("b", "2");
  EXPECT_EQ(Drain(*first), "event: a\ndata: 1\n\nevent: b\ndata: 2\n\n");
  EXPECT_EQ(Drain(*second), "event: a\ndata: 1\n\nevent: b\ndata: 2\n\n");
  EXPECT_FALSE(second->closed());
  stream.Remove(second);
  for (size_t i = 0; i < EventStream::kMaxQueued + 2; ++i) stream.Publish("e", std::to_string(i));
  EXPECT_EQ(Drain(*second), "") << "a removed reader gets nothing more";
  std::string newest;  // a slow reader loses its oldest events
  for (size_t i = 2; i < EventStream::kMaxQueued + 2; ++i) {
    newest += FormatServerSentEvent("e", std::to_string(i));
  }
  EXPECT_EQ(Drain(*first), newest);
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
