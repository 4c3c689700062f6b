// The type registry and its builders.
#include "binding/BindingRegistry.h"

#include <algorithm>
#include <utility>

#include "binding/BuiltinTypes.h"

namespace vyn::binding {
namespace {

template <typename T>
std::vector<const T*> Snapshot(const std::vector<std::unique_ptr<T>>& list) {
  std::vector<const T*> copy;
  copy.reserve(list.size());
  for (const auto& item : list) copy.push_back(item.get());
  return copy;
}

void AppendTag(std::vector<std::string>& tags, std::string_view tag) {
  if (!tag.empty()) tags.emplace_back(tag);
}

// Works the fields' name order out once per field added, so that writing a record need not
// search and insert its members one by one. Names are shared records: equal names are one.
void OrderMembers(BindingType& type) {
  std::vector<BindingField>& fields = type.fields;
  type.memberKeys.clear();
  std::vector<uint32_t> order(fields.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&fields](uint32_t a, uint32_t b) {
    return MemberKeyLess(fields[a].key, fields[b].key);
  });
  for (std::size_t k = 0; k < order.size(); ++k) {
    const BindingField& field = fields[order[k]];
    if ((field.flags & kFieldOmitEmpty) != 0) return;
    if (k != 0 && field.key.name == fields[order[k - 1]].key.name) return;
  }
  type.memberKeys.reserve(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    fields[order[k]].rank = static_cast<uint32_t>(k);
    type.memberKeys.push_back(fields[order[k]].key);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Builders. They write under the registry mutex so that registrations and the snapshots and
// lookups of other threads never race on the maps; the descriptor being built is not read by
// others until its registration ends.

TypeBuilder& TypeBuilder::SetDescription(std::string_view description) {
  if (alreadyRegistered_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  type_->description.assign(description);
  return *this;
}

TypeBuilder& TypeBuilder::AddTag(std::string_view tag) {
  if (alreadyRegistered_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  AppendTag(type_->tags, tag);
  return *this;
}

TypeBuilder& TypeBuilder::AddTags(std::span<const std::string> tags) {
  if (alreadyRegistered_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  type_->tags.insert(type_->tags.end(), tags.begin(), tags.end());
  return *this;
}

TypeBuilder& TypeBuilder::AddTags(std::initializer_list<std::string_view> tags) {
  if (alreadyRegistered_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  for (const std::string_view tag : tags) type_->tags.emplace_back(tag);
  return *this;
}

TypeBuilder& TypeBuilder::AddField(std::string_view name, std::string_view description,
                                   uint32_t offset, const BindingTypeId* identity,
                                   const BindingTypeRef& type, uint32_t flags,
                                   std::unique_ptr<const BindingFieldConverter> converter,
                                   bool optional) {
  if (alreadyRegistered_) return *this;
  BindingField field;
  field.name.assign(name);
  field.nameHash = Fnv1a32(name);
  field.key = {BindingArena::SharedText(name)};
  field.description.assign(description);
  field.identity = identity;
  field.offset = offset;
  field.type = type;
  field.flags = flags;
  field.converter = std::move(converter);
  field.owner = type_;
  field.optional = optional;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  type_->fields.push_back(std::move(field));
  OrderMembers(*type_);
  return *this;
}

TypeBuilder& TypeBuilder::AddEnumValue(std::string_view name, int32_t number,
                                       std::string_view description) {
  if (alreadyRegistered_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  auto it = type_->values.find(name);
  if (it == type_->values.end()) {
    it = type_->values.emplace(std::string(name), BindingEnumValue{}).first;
    it->second.name = it->first;
    it->second.owner = type_;
  }
  it->second.number = number;
  it->second.description.assign(description);
  return *this;
}

EventBuilder& EventBuilder::SetDescription(std::string_view description) {
  if (alreadyRegistered_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  event_->description.assign(description);
  return *this;
}

EventBuilder& EventBuilder::AddTag(std::string_view tag) {
  if (alreadyRegistered_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  AppendTag(event_->tags, tag);
  return *this;
}

EventBuilder& EventBuilder::AddTags(std::span<const std::string> tags) {
  if (alreadyRegistered_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  event_->tags.insert(event_->tags.end(), tags.begin(), tags.end());
  return *this;
}

EventBuilder& EventBuilder::AddTags(std::initializer_list<std::string_view> tags) {
  if (alreadyRegistered_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  for (const std::string_view tag : tags) event_->tags.emplace_back(tag);
  return *this;
}

// ---------------------------------------------------------------------------------------------
// Registry.

BindingRegistry::BindingRegistry() { InitializeRegistry(); }

BindingRegistry::~BindingRegistry() { ClearRegistrations(); }

TypeBuilder BindingRegistry::BeginType(uint32_t size, std::string_view name,
                                       const BindingTypeId* identity, bool isEnum) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (const auto found = typesByName_.find(name); found != typesByName_.end()) {
    return TypeBuilder(*this, found->second, true);
  }
  auto type = std::make_unique<BindingType>();
  type->size = size;
  type->isEnum = isEnum;
  type->name.assign(name);
  type->identity = identity;
  type->identityNumber = identity != nullptr ? identity->number : 0;
  type->registry = this;
  BindingType* raw = type.get();
  types_.push_back(std::move(type));
  typesByName_.emplace(raw->name, raw);
  // An identity already indexed keeps its first type, as a name does.
  if (identity != nullptr && identity != VoidTypeId()) {
    typesByNumber_.emplace(raw->identityNumber, raw);
  }
  return TypeBuilder(*this, raw, false);
}

EventBuilder BindingRegistry::BeginEvent(std::string_view name, const BindingType* payloadType) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (const auto found = eventsByName_.find(name); found != eventsByName_.end()) {
    return EventBuilder(*this, found->second, true);
  }
  auto event = std::make_unique<BindingEvent>();
  event->name.assign(name);
  event->payloadType = payloadType;
  BindingEvent* raw = event.get();
  events_.push_back(std::move(event));
  eventsByName_.emplace(raw->name, raw);
  return EventBuilder(*this, raw, false);
}

BindingFunction* BindingRegistry::RegisterFunction(std::string_view name,
                                                   std::vector<BindingArgument> arguments) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (functionsByName_.count(name) != 0) return nullptr;
  auto function = std::make_unique<BindingFunction>();
  function->name.assign(name);
  function->arguments = std::move(arguments);
  function->registry = this;
  BindingFunction* raw = function.get();
  for (BindingArgument& argument : raw->arguments) {
    argument.owner = raw;
    if (argument.nameHash == 0) argument.nameHash = Fnv1a32(argument.name);
  }
  functions_.push_back(std::move(function));
  functionsByName_.emplace(raw->name, raw);
  ++functionChanges_;
  return raw;
}

bool BindingRegistry::RemoveFunction(std::string_view name) {
  std::unique_ptr<BindingFunction> removed;  // destroyed after the lock is released
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = functionsByName_.find(name);
    if (found == functionsByName_.end()) return false;
    BindingFunction* raw = found->second;
    functionsByName_.erase(found);
    for (auto it = functions_.begin(); it != functions_.end(); ++it) {
      if (it->get() == raw) {
        removed = std::move(*it);
        functions_.erase(it);
        break;
      }
    }
    ++functionChanges_;
  }
  return true;
}

void BindingRegistry::ClearRegistrations() {
  ClearPendingOperations();
  std::vector<std::unique_ptr<BindingFunction>> functions;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    functionChanges_ += functions_.size();
    functions.swap(functions_);
    functionsByName_.clear();
    typesByName_.clear();
    typesByNumber_.clear();
    for (auto& type : types_) retiredTypes_.push_back(std::move(type));
    types_.clear();
  }
  // Handlers are destroyed without the lock held, since they may call back into the registry.
}

void BindingRegistry::InitializeRegistry() {
  if (initialized()) ClearRegistrations();
  RegisterBuiltinTypes(*this);
  std::lock_guard<std::mutex> lock(mutex_);
  initialized_ = true;
}

bool BindingRegistry::initialized() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return initialized_;
}

BindingType* BindingRegistry::FindTypeLocked(uint32_t identityNumber) const {
  const auto found = typesByNumber_.find(identityNumber);
  return found != typesByNumber_.end() ? found->second : nullptr;
}

const BindingType* BindingRegistry::LookupTypeById(const BindingTypeId* identity) const {
  if (identity == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  return FindTypeLocked(identity->number);
}

const BindingType* BindingRegistry::LookupTypeByNumber(uint32_t identityNumber) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return FindTypeLocked(identityNumber);
}

const BindingType* BindingRegistry::LookupType(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = typesByName_.find(name);
  return found != typesByName_.end() ? found->second : nullptr;
}

const BindingEvent* BindingRegistry::LookupEvent(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = eventsByName_.find(name);
  return found != eventsByName_.end() ? found->second : nullptr;
}

const BindingFunction* BindingRegistry::LookupFunction(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = functionsByName_.find(name);
  return found != functionsByName_.end() ? found->second : nullptr;
}

std::vector<const BindingType*> BindingRegistry::TypesSnapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Snapshot(types_);
}

std::vector<const BindingEvent*> BindingRegistry::EventsSnapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Snapshot(events_);
}

std::vector<const BindingFunction*> BindingRegistry::FunctionsSnapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Snapshot(functions_);
}

uint64_t BindingRegistry::functionChangeCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return functionChanges_;
}

const char* BindingRegistry::EnumeratorName(const BindingTypeId* type,
                                            int32_t number) const noexcept {
  if (type == nullptr) return nullptr;
  const BindingType* described;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    described = FindTypeLocked(type->number);
  }
  if (described == nullptr || !described->isEnum) return nullptr;
  const BindingEnumValue* value = described->FindValue(number);
  return value != nullptr ? value->name.c_str() : nullptr;
}

bool BindingRegistry::IsEnumeratorNumber(const BindingTypeId* type, int32_t number) const noexcept {
  if (type == nullptr) return false;
  const BindingType* described;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    described = FindTypeLocked(type->number);
  }
  return described != nullptr && described->isEnum && described->HasValue(number);
}

}  // namespace vyn::binding
