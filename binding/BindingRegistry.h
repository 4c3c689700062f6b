// The type registry: registered records, enumerations, functions and events by name (types also
// by identity number), with the builders that register them and the built-in types every registry
// carries.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/BindingType.h"
#include "binding/BindingTypeId.h"

namespace vyn::binding {

class BindingRegistry;

// Registers one type. When a type of the same name was registered before, the builder refers to
// that type with alreadyRegistered() set and every operation does nothing, so the first
// registration stands. Use during start-up only: a type is visible to lookups from BeginType on,
// and must not be read by other threads until its registration is complete.
class TypeBuilder {
 public:
  TypeBuilder(BindingRegistry& registry, BindingType* type, bool alreadyRegistered) noexcept
      : registry_(&registry), type_(type), alreadyRegistered_(alreadyRegistered) {}

  bool alreadyRegistered() const noexcept { return alreadyRegistered_; }
  const BindingType* type() const noexcept { return type_; }
  BindingRegistry& registry() const noexcept { return *registry_; }

  TypeBuilder& SetDescription(std::string_view description);
  TypeBuilder& AddTag(std::string_view tag);  // an empty tag is not added
  // Appends the whole list as it is.
  TypeBuilder& AddTags(std::span<const std::string> tags);
  TypeBuilder& AddTags(std::initializer_list<std::string_view> tags);

  // Appends a member (no check for duplicate names; call order is member order). The converter
  // may be null for members of kinds 1 to 13, 16 and 17, and for vectors and maps whose elements
  // have one of the kinds 1 to 14; the other kinds convert only through it.
  TypeBuilder& AddField(std::string_view name, std::string_view description, uint32_t offset,
                        const BindingTypeId* identity, const BindingTypeRef& type, uint32_t flags,
                        std::unique_ptr<const BindingFieldConverter> converter, bool optional);

  // Inserts an enumerator under its name; the same name again replaces number and description.
  TypeBuilder& AddEnumValue(std::string_view name, int32_t number, std::string_view description);

 private:
  BindingRegistry* registry_;
  BindingType* type_;
  bool alreadyRegistered_;
};

// Registers one event; an event of the same name registered before stands and the setters do
// nothing.
class EventBuilder {
 public:
  EventBuilder(BindingRegistry& registry, BindingEvent* event, bool alreadyRegistered) noexcept
      : registry_(&registry), event_(event), alreadyRegistered_(alreadyRegistered) {}

  bool alreadyRegistered() const noexcept { return alreadyRegistered_; }
  const BindingEvent* event() const noexcept { return event_; }

  EventBuilder& SetDescription(std::string_view description);
  EventBuilder& AddTag(std::string_view tag);  // an empty tag is not added
  // Appends the whole list as it is.
  EventBuilder& AddTags(std::span<const std::string> tags);
  EventBuilder& AddTags(std::initializer_list<std::string_view> tags);

 private:
  BindingRegistry* registry_;
  BindingEvent* event_;
  bool alreadyRegistered_;
};

// The registry of one plugin object. Registration happens at start-up; afterwards request and
// event threads read it concurrently. Every map is guarded by one mutex that each lookup takes for
// its own duration; the descriptors that lookups return are immutable and stay valid while the
// registry lives (a clear retires them without freeing them, see InitializeRegistry).
class BindingRegistry {
 public:
  // Ends by registering the built-in types and events.
  BindingRegistry();
  BindingRegistry(const BindingRegistry&) = delete;
  BindingRegistry& operator=(const BindingRegistry&) = delete;
  // Clears the registrations as InitializeRegistry does, then frees every descriptor.
  virtual ~BindingRegistry();

  // --- Registration -------------------------------------------------------------------------

  // Starts a type; see TypeBuilder. A type registered under the identity of void is found by
  // name only.
  TypeBuilder BeginType(uint32_t size, std::string_view name, const BindingTypeId* identity,
                        bool isEnum);
  EventBuilder BeginEvent(std::string_view name, const BindingType* payloadType);
  // Enters a new function and counts the change. Returns null when a function of that name
  // exists (that one stands). The dispatcher fills in arguments' types, return type and
  // invocation data on the returned object before it serves requests.
  BindingFunction* RegisterFunction(std::string_view name,
                                    std::vector<BindingArgument> arguments = {});
  // Takes the function out, counts the change and destroys it with its invocation data, so
  // pointers to it from earlier lookups and snapshots must not be used after this. False when
  // there is no function of that name.
  bool RemoveFunction(std::string_view name);

  // With the registry already initialised, first clears the functions (after the hook below) and
  // every type, keeping the events; then registers the built-in types and events. Cleared types
  // are retired rather than freed, so that kept events and earlier snapshots never refer to freed
  // descriptors; they are freed with the registry.
  void InitializeRegistry();
  bool initialized() const;

  // --- Lookup (each takes the mutex for its own duration) ------------------------------------

  const BindingType* LookupTypeById(const BindingTypeId* identity) const;
  const BindingType* LookupTypeByNumber(uint32_t identityNumber) const;
  const BindingType* LookupType(std::string_view name) const;
  const BindingEvent* LookupEvent(std::string_view name) const;
  const BindingFunction* LookupFunction(std::string_view name) const;

  // Lists in registration order.
  std::vector<const BindingType*> TypesSnapshot() const;
  std::vector<const BindingEvent*> EventsSnapshot() const;
  std::vector<const BindingFunction*> FunctionsSnapshot() const;

  // Counts every function registration and removal.
  uint64_t functionChangeCount() const;

  // The name of the first enumerator in name order with that number, of the enumeration
  // registered under that identity; null when there is none. The text lives as long as the
  // registry.
  const char* EnumeratorName(const BindingTypeId* type, int32_t number) const noexcept;
  bool IsEnumeratorNumber(const BindingTypeId* type, int32_t number) const noexcept;

 protected:
  // Called first when registrations are cleared; the function dispatcher drops its pending
  // asynchronous operations here. Not dispatched from the base destructor: a derived registry
  // clears its own tables in its own destructor.
  virtual void ClearPendingOperations() {}

 private:
  friend class TypeBuilder;
  friend class EventBuilder;

  void ClearRegistrations();
  BindingType* FindTypeLocked(uint32_t identityNumber) const;

  mutable std::mutex mutex_;
  // Guarded by mutex_: the owning lists in registration order and the indexes over them, keyed by
  // views of the descriptors' own names.
  std::vector<std::unique_ptr<BindingType>> types_;
  std::unordered_map<std::string_view, BindingType*> typesByName_;
  std::unordered_map<uint32_t, BindingType*> typesByNumber_;
  std::vector<std::unique_ptr<BindingEvent>> events_;
  std::unordered_map<std::string_view, BindingEvent*> eventsByName_;
  std::vector<std::unique_ptr<BindingFunction>> functions_;
  std::unordered_map<std::string_view, BindingFunction*> functionsByName_;
  uint64_t functionChanges_ = 0;
  std::vector<std::unique_ptr<BindingType>> retiredTypes_;
  bool initialized_ = false;
};

// The registered type that conversions of T need (T itself, or the element of a vector or map),
// looked up by identity; null when T needs none or it is not registered.
template <typename T>
const BindingType* DescribedTypeIn(const BindingRegistry& registry) {
  using Described = typename DescribedTypeOf<T>::type;
  if constexpr (std::is_void_v<Described>) {
    return nullptr;
  } else {
    return registry.LookupTypeById(TypeIdOf<Described>());
  }
}

}  // namespace vyn::binding
