// The event name of a local resource path.
#include "host/EventName.h"

#include <vector>

namespace vyn::host {

std::string EventNameForPath(std::string_view path) {
  std::vector<std::string_view> pieces{kResourceEventBase};
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) pieces.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  const size_t keep = pieces.size() > 1 && pieces[1] == "vyn-platform-config" ? 6 : 4;
  std::string name;
  for (size_t i = 0; i < pieces.size() && i < keep; ++i) {
    if (i > 0) name += '_';
    name += pieces[i];
  }
  return name;
}

}  // namespace vyn::host
