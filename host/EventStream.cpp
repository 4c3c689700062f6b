// Fans the plugin's published events out to Server-Sent Events streams.
#include "host/EventStream.h"

#include <algorithm>
#include <chrono>

namespace vyn::host {

std::string FormatServerSentEvent(const std::string& name, const std::string& data) {
  // A line break inside the name would start a field of its own.
  std::string safeName = name;
  std::replace_if(
      safeName.begin(), safeName.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  std::string chunk = "event: " + safeName + "\n";
  std::string text = data;
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    chunk += "data: " + text.substr(start, end == std::string::npos ? end : end - start) + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  chunk += "\n";
  return chunk;
}

bool EventStream::Reader::Next(std::string& chunk, int timeoutMilliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                  [&] { return closed_ || !queue_.empty(); });
  if (queue_.empty()) return false;
  chunk = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

bool EventStream::Reader::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_ && queue_.empty();
}

std::shared_ptr<EventStream::Reader> EventStream::Open() {
  auto reader = std::make_shared<Reader>();
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    reader->closed_ = true;
  } else if (readers_.size() >= kMaxReaders) {
    return nullptr;
  } else {
    readers_.push_back(reader);
  }
  return reader;
}

void EventStream::Remove(const std::shared_ptr<Reader>& reader) {
  std::lock_guard<std::mutex> lock(mutex_);
  readers_.erase(std::remove(readers_.begin(), readers_.end(), reader), readers_.end());
}

size_t EventStream::readers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return readers_.size();
}

void EventStream::Publish(const std::string& name, const std::string& data) {
  const std::string chunk = FormatServerSentEvent(name, data);
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& reader : readers_) {
    std::lock_guard<std::mutex> readerLock(reader->mutex_);
    if (reader->queue_.size() >= kMaxQueued) reader->queue_.pop_front();
    reader->queue_.push_back(chunk);
    reader->ready_.notify_one();
  }
}

void EventStream::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (const auto& reader : readers_) {
    std::lock_guard<std::mutex> readerLock(reader->mutex_);
    reader->closed_ = true;
    reader->ready_.notify_one();
  }
  readers_.clear();
}

}  // namespace vyn::host
