// The plugin frame's own records and events: resource events, the plugin manager's state, the
// LCDS messages and service-proxy responses that the host delivers to every plugin. They are
// registered at load, before the feature's records, under their own names (no plugin prefix).
#pragma once

#include <cstdint>
#include <string>

#include "binding/BindingProperty.h"
#include "binding/BindingTypeId.h"

namespace vyn::binding {
class BindingRegistry;
}

namespace vyn::plugin {

using binding::BindingTypeTag;

enum class PluginManagerState : int32_t { NotReady = 0, PluginsInitialized = 1 };
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PluginManagerState>) noexcept {
  return 0xF4E3B901u;
}

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PluginManagerResource>) noexcept {
  return 0xFA58397Cu;
}

enum class PluginResourceEventType : int32_t { Create = 0, Update = 1, Delete = 2 };
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PluginResourceEventType>) noexcept {
  return 0xDC24D2ADu;
}

struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  binding::BindingProperty data;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PluginResourceEvent>) noexcept {
  return 0xA54F35FDu;
}

struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  binding::BindingProperty body;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PluginLcdsEvent>) noexcept {
  return 0x739F2EF4u;
}

struct PluginLcdsResponse {
  std::string typeName;
  binding::BindingProperty body;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PluginLcdsResponse>) noexcept {
  return 0xF4476A4Fu;
}

struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};
constexpr uint32_t BindingTypeNumber(BindingTypeTag<PluginServiceProxyResponse>) noexcept {
  return 0x2C5E7588u;
}

// The frame's records, each tagged "tclient", then its five events with their descriptions.
// Names registered before keep their first registration.
void RegisterFrameTypes(binding::BindingRegistry& registry);

}  // namespace vyn::plugin
