// Fans the events that the plugin publishes out to every open Server-Sent Events stream.
// Publishing never blocks on a slow reader: each stream has a bounded queue of its own.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vyn::host {

// "event: <name>\ndata: <line>\n" per line of the data, then a blank line.
std::string FormatServerSentEvent(const std::string& name, const std::string& data);

class EventStream {
 public:
  // A stream that falls this many events behind loses its oldest ones.
  static constexpr size_t kMaxQueued = 1024;
  // Readers at once; each holds a connection and a thread of the server.
  static constexpr size_t kMaxReaders = 16;

  class Reader {
   public:
    // Waits up to the timeout for the next formatted event. Returns false when there was none;
    // closed() then tells whether the stream has ended.
    bool Next(std::string& chunk, int timeoutMilliseconds);
    bool closed() const;

   private:
    friend class EventStream;
    mutable std::mutex mutex_;  // guards queue_ and closed_
    std::condition_variable ready_;
    std::deque<std::string> queue_;
    bool closed_ = false;
  };

  // A new reader, or null when kMaxReaders are open already.
  std::shared_ptr<Reader> Open();
  void Remove(const std::shared_ptr<Reader>& reader);
  size_t readers() const;
  void Publish(const std::string& name, const std::string& data);
  // Ends every stream, present and future.
  void Close();

 private:
  mutable std::mutex mutex_;  // guards readers_ and closed_
  std::vector<std::shared_ptr<Reader>> readers_;
  bool closed_ = false;
};

}  // namespace vyn::host
