// The one thread on which the host calls into the plugin.
#include "host/Executor.h"

#include <cstdio>
#include <exception>

namespace vyn::host {

Executor::Executor() : thread_([this] { Loop(); }) {}

Executor::~Executor() { Stop(); }

bool Executor::Run(const std::function<void()>& work) {
  if (OnExecutorThread()) {
    work();
    return true;
  }
  Item item{work};
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) return false;
  queue_.push_back(&item);
  wake_.notify_one();
  finished_.wait(lock, [&] { return item.done; });
  return true;
}

void Executor::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_one();
  }
  if (thread_.joinable() && !OnExecutorThread()) thread_.join();
}

void Executor::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing left to run
    Item* item = queue_.front();
    queue_.pop_front();
    lock.unlock();
    try {
      item->work();
    } catch (const std::exception& e) {
      // The waiting caller still gets control back; what the work did not finish stays undone.
      std::fprintf(stderr, "vyn-host: host work failed: %s\n", e.what());
    }
    lock.lock();
    item->done = true;
    finished_.notify_all();
  }
}

}  // namespace vyn::host
