// Laying out the endpoint descriptors and the API description from the registry's tables and the
// endpoints' registration data.
#include "routing/EndpointDescriptors.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "binding/BindingType.h"
#include "routing/EndpointArgument.h"
#include "routing/EndpointInvocation.h"

namespace vyn::routing {

using binding::BindingFunction;

const ApiDescription& EndpointDescriptors::Build(const binding::BindingRegistry& registry,
                                                 InvokeEntry invoke,
                                                 const ContextLookup& contextOf) {
  tables_ = binding::BuildHostApiTables(registry);
  const std::span<const HostFunctionRecord> records = tables_.functionRecords();
  const std::span<const BindingFunction* const> sources = tables_.functionSources();

  std::vector<const EndpointInvocation*> invocations;
  std::size_t locationCount = 0, listCount = 0, textCount = 0;
  for (const BindingFunction* function : sources) {
    const auto* invocation = dynamic_cast<const EndpointInvocation*>(function->invocation.get());
    invocations.push_back(invocation);
    if (invocation == nullptr) continue;
    locationCount += invocation->locations.size();
    listCount += invocation->textLists.size();
    for (const auto& list : invocation->textLists) textCount += list.size();
  }
  // Reserved to their final sizes, so the records' addresses stay put while they are appended.
  descriptors_.clear();
  locations_.clear();
  textLists_.clear();
  listTexts_.clear();
  descriptors_.reserve(records.size());
  locations_.reserve(locationCount);
  textLists_.reserve(listCount);
  listTexts_.reserve(textCount);

  for (std::size_t i = 0; i < records.size(); ++i) {
    EndpointDescriptor descriptor{};
    descriptor.function = records[i];
    descriptor.function.next = nullptr;
    descriptor.invoke = invoke;
    descriptor.pathTemplate = "";
    descriptor.customMethod = "";
    const EndpointInvocation* invocation = invocations[i];
    if (invocation != nullptr) {
      descriptor.function.endpointContext = contextOf(sources[i]->name);
      const std::size_t firstLocation = locations_.size();
      for (const ArgumentLocation location : invocation->locations) {
        ArgumentLocationRecord record{};
        record.location = static_cast<uint32_t>(location);
        locations_.push_back(record);
      }
      for (std::size_t l = firstLocation; l + 1 < locations_.size(); ++l) {
        locations_[l].next = &locations_[l + 1];
      }
      descriptor.argumentLocations =
          locations_.size() > firstLocation ? &locations_[firstLocation] : nullptr;
      descriptor.pathTemplate = invocation->pathTemplate.c_str();
      const auto method = static_cast<uint32_t>(invocation->method);
      descriptor.methodCode = method >= 1 && method <= 8 ? method : 0;
      descriptor.flag = invocation->flag;
      const std::size_t firstList = textLists_.size();
      for (const auto& list : invocation->textLists) {
        TextListRecord record{};
        record.texts = list.empty() ? nullptr : listTexts_.data() + listTexts_.size();
        for (const std::string& text : list) listTexts_.push_back(text.c_str());
        record.count = static_cast<uint32_t>(list.size());
        textLists_.push_back(record);
      }
      for (std::size_t l = firstList; l + 1 < textLists_.size(); ++l) {
        textLists_[l].next = &textLists_[l + 1];
      }
      descriptor.textLists = textLists_.size() > firstList ? &textLists_[firstList] : nullptr;
      descriptor.textListCount = static_cast<uint32_t>(invocation->textLists.size());
      descriptor.customMethod = invocation->customMethod.c_str();
    }
    descriptors_.push_back(descriptor);
  }
  for (std::size_t i = 0; i + 1 < descriptors_.size(); ++i) {
    descriptors_[i].function.next = &descriptors_[i + 1];
  }

  ApiDescription description{};
  description.endpoints = descriptors_.empty() ? nullptr : descriptors_.data();
  description.endpointCount = static_cast<uint32_t>(descriptors_.size());
  description.types = tables_.firstType();
  description.typeCount = tables_.typeCount();
  description.events = tables_.firstEvent();
  description.eventCount = tables_.eventCount();
  apiDescription_ = description;
  return apiDescription_;
}

void EndpointDescriptors::Clear() {
  tables_ = {};
  descriptors_.clear();
  locations_.clear();
  textLists_.clear();
  listTexts_.clear();
  apiDescription_ = {};
}

}  // namespace vyn::routing
