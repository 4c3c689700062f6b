// The kernel's thread id: the number that ps, top and debuggers show for the thread.
#include "platform/Thread.h"

#include <unistd.h>

namespace vyn::platform {

uint32_t CurrentThreadId() noexcept {
  // Thread ids never exceed the kernel's pid limit (at most 2^22), so 32 bits always hold them.
  return static_cast<uint32_t>(gettid());
}

}  // namespace vyn::platform
