// The registry's functions, types and events laid out as the packed description tables that the
// host reads: one array of records per table, each record chained to the next of its array.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/HostAbi.h"

namespace vyn::binding {

class BindingRegistry;
struct BindingFunction;

// Owns the record arrays; the texts inside them are the registry descriptors' own texts (or a
// static empty text), so the tables are valid while the registry lives and is not cleared. Moving
// the object keeps every record where it is, so pointers into the tables survive a move.
// Built once, then only read: any thread may read it.
class HostApiTables {
 public:
  HostApiTables() = default;
  HostApiTables(const HostApiTables&) = delete;
  HostApiTables& operator=(const HostApiTables&) = delete;
  HostApiTables(HostApiTables&&) noexcept = default;
  HostApiTables& operator=(HostApiTables&&) noexcept = default;

  // The first record of each table (null when the table is empty) and the record count.
  const HostFunctionRecord* firstFunction() const noexcept { return First(functions_); }
  uint32_t functionCount() const noexcept { return Count(functions_); }
  const HostTypeRecord* firstType() const noexcept { return First(types_); }
  uint32_t typeCount() const noexcept { return Count(types_); }
  const HostEventRecord* firstEvent() const noexcept { return First(events_); }
  uint32_t eventCount() const noexcept { return Count(events_); }

  // The function records in table order, and beside them the functions they describe.
  std::span<const HostFunctionRecord> functionRecords() const noexcept { return functions_; }
  std::span<const BindingFunction* const> functionSources() const noexcept {
    return functionSources_;
  }

 private:
  friend HostApiTables BuildHostApiTables(const BindingRegistry& registry);

  template <typename Record>
  static const Record* First(const std::vector<Record>& records) noexcept {
    return records.empty() ? nullptr : records.data();
  }
  template <typename Record>
  static uint32_t Count(const std::vector<Record>& records) noexcept {
    return static_cast<uint32_t>(records.size());
  }

  std::vector<HostFunctionRecord> functions_;
  std::vector<const BindingFunction*> functionSources_;
  std::vector<HostArgumentRecord> arguments_;
  std::vector<HostTypeRecord> types_;
  std::vector<HostFieldRecord> fields_;
  std::vector<HostEnumeratorRecord> enumerators_;
  std::vector<HostEventRecord> events_;
  std::vector<const char*> tagTexts_;  // every record's tag pointer array, one after another
};

// Builds the tables from the registry's snapshots, each table in the registry's order:
// - type codes are the kind numbers 1..19 as they are, any other number 0 (element codes too);
// - a type name is the described type's name for vectors, enumerations, records and maps that
//   have one, else the empty text;
// - a record type lists its fields, an enumeration its enumerators in name order; the count is
//   the number of fields, or of enumerators when the type has no fields;
// - the two words after a function record's "next" are left 0 for the endpoint descriptors.
HostApiTables BuildHostApiTables(const BindingRegistry& registry);

}  // namespace vyn::binding
