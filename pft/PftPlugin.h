// The player feedback tool: the one concrete plugin object of the library.
#pragma once

#include "plugin/PluginBase.h"

namespace vyn::pft {

class PftPlugin final : public plugin::PluginBase {
 public:
  PftPlugin() = default;
  ~PftPlugin() override = default;
};

}  // namespace vyn::pft
