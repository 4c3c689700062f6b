// Registration of the plugin frame's records and events.
#include "plugin/FrameTypes.h"

#include "binding/BindingRegistry.h"
#include "binding/TypeBuilder.h"

namespace vyn::plugin {

using binding::BeginEventOf;
using binding::EnumBuilder;
using binding::RecordBuilder;

namespace {
constexpr std::string_view kFrameTag = "tclient";
}

void RegisterFrameTypes(binding::BindingRegistry& registry) {
  EnumBuilder<PluginManagerState>(registry, "PluginManagerState")
      .AddTag(kFrameTag)
      .Value("NotReady", PluginManagerState::NotReady)
      .Value("PluginsInitialized", PluginManagerState::PluginsInitialized);

  RecordBuilder<PluginManagerResource>(registry, "PluginManagerResource")
      .AddTag(kFrameTag)
      .Field("state", &PluginManagerResource::state);

  EnumBuilder<PluginResourceEventType>(registry, "PluginResourceEventType")
      .AddTag(kFrameTag)
      .Value("Create", PluginResourceEventType::Create)
      .Value("Update", PluginResourceEventType::Update)
      .Value("Delete", PluginResourceEventType::Delete);

  {
    using R = PluginResourceEvent;
    RecordBuilder<R>(registry, "PluginResourceEvent")
        .AddTag(kFrameTag)
        .Field("uri", &R::uri)
        .Field("eventType", &R::eventType)
        .Field("data", &R::data);
  }
  {
    using R = PluginLcdsEvent;
    RecordBuilder<R>(registry, "PluginLcdsEvent")
        .AddTag(kFrameTag)
        .Field("clientId", &R::clientId)
        .Field("subtopic", &R::subtopic)
        .Field("typeName", &R::typeName)
        .Field("body", &R::body);
  }
  {
    using R = PluginLcdsResponse;
    RecordBuilder<R>(registry, "PluginLcdsResponse")
        .AddTag(kFrameTag)
        .Field("typeName", &R::typeName)
        .Field("body", &R::body);
  }
  {
    using R = PluginServiceProxyResponse;
    RecordBuilder<R>(registry, "PluginServiceProxyResponse")
        .AddTag(kFrameTag)
        .Field("uuid", &R::uuid)
        .Field("serviceName", &R::serviceName)
        .Field("methodName", &R::methodName)
        .Field("payload", &R::payload)
        .Field("status", &R::status)
        .Field("error", &R::error);
  }

  BeginEventOf<PluginResourceEvent>(registry, "OnJsonApiEvent")
      .SetDescription("Fired when a resource is changed.")
      .AddTag(kFrameTag);
  BeginEventOf<PluginLcdsEvent>(registry, "OnLcdsEvent")
      .SetDescription("Fired when a message is received over the LCDS connection.")
      .AddTag(kFrameTag);
  BeginEventOf<PluginServiceProxyResponse>(registry, "OnServiceProxyUuidEvent")
      .SetDescription("Fired when a uuid-based service proxy message is received.")
      .AddTag(kFrameTag);
  BeginEventOf<PluginServiceProxyResponse>(registry, "OnServiceProxyMethodEvent")
      .SetDescription("Fired when a method-based service proxy message is received.")
      .AddTag(kFrameTag);
  BeginEventOf<PluginServiceProxyResponse>(registry, "OnServiceProxyAsyncEvent")
      .SetDescription("Fired when an async service proxy message is received.")
      .AddTag(kFrameTag);
}

}  // namespace vyn::plugin
