// The one thread on which the host calls into the plugin. Other threads (HTTP handlers, the
// demo) hand it work and wait, so the plugin never sees two of its entries at once.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vyn::host {

class Executor {
 public:
  Executor();
  ~Executor();  // Stop()
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  // Runs the work on the executor thread and returns when it has run; work handed in from the
  // executor thread itself runs at once. Returns false, without running it, once stopped.
  [[nodiscard]] bool Run(const std::function<void()>& work);

  // Runs what is queued, then ends the thread. Idempotent.
  void Stop();

  bool OnExecutorThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  struct Item {
    std::function<void()> work;
    bool done = false;
  };

  void Loop();

  std::mutex mutex_;  // guards queue_, stopping_ and every Item::done
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<Item*> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vyn::host
