// Building the packed API description tables from a registry.
#include "binding/HostApiTables.h"

#include <string>

#include "binding/BindingRegistry.h"
#include "binding/BindingType.h"

namespace vyn::binding {
namespace {

constexpr const char* kEmptyText = "";

uint32_t TypeCode(BindingTypeKind kind) noexcept {
  const auto number = static_cast<uint32_t>(kind);
  return number >= 1 && number <= 19 ? number : 0;
}

// Only the kinds that refer to a registered type carry its name.
const char* TypeName(const BindingTypeRef& ref) noexcept {
  switch (ref.kind) {
    case BindingTypeKind::Vector:
    case BindingTypeKind::Enum:
    case BindingTypeKind::Struct:
    case BindingTypeKind::Map:
      return ref.type != nullptr ? ref.type->name.c_str() : kEmptyText;
    default:
      return kEmptyText;
  }
}

// Records are assembled in a local and appended whole; the arrays were reserved to their final
// size beforehand, so the addresses handed out stay valid while later records are appended.
template <typename Record>
void ChainRecords(std::vector<Record>& records, std::size_t begin) {
  for (std::size_t i = begin; i + 1 < records.size(); ++i) records[i].next = &records[i + 1];
}

const char* const* AppendTags(std::vector<const char*>& texts,
                              const std::vector<std::string>& tags) {
  if (tags.empty()) return nullptr;
  const std::size_t begin = texts.size();
  for (const std::string& tag : tags) texts.push_back(tag.c_str());
  return texts.data() + begin;
}

}  // namespace

HostApiTables BuildHostApiTables(const BindingRegistry& registry) {
  const std::vector<const BindingFunction*> functions = registry.FunctionsSnapshot();
  const std::vector<const BindingType*> types = registry.TypesSnapshot();
  const std::vector<const BindingEvent*> events = registry.EventsSnapshot();

  std::size_t argumentCount = 0, fieldCount = 0, enumeratorCount = 0, tagCount = 0;
  for (const BindingFunction* function : functions) {
    argumentCount += function->arguments.size();
    tagCount += function->tags.size();
  }
  for (const BindingType* type : types) {
    fieldCount += type->fields.size();
    enumeratorCount += type->values.size();
    tagCount += type->tags.size();
  }
  for (const BindingEvent* event : events) tagCount += event->tags.size();

  HostApiTables tables;
  tables.functions_.reserve(functions.size());
  tables.functionSources_.reserve(functions.size());
  tables.arguments_.reserve(argumentCount);
  tables.types_.reserve(types.size());
  tables.fields_.reserve(fieldCount);
  tables.enumerators_.reserve(enumeratorCount);
  tables.events_.reserve(events.size());
  tables.tagTexts_.reserve(tagCount);

  for (const BindingFunction* function : functions) {
    const std::size_t firstArgument = tables.arguments_.size();
    for (const BindingArgument& argument : function->arguments) {
      HostArgumentRecord record{};
      record.name = argument.name.c_str();
      record.description = argument.description.c_str();
      record.typeCode = TypeCode(argument.type.kind);
      record.elementCode = TypeCode(argument.type.elementKind);
      record.typeName = TypeName(argument.type);
      record.optional = argument.optional ? 1 : 0;
      tables.arguments_.push_back(record);
    }
    ChainRecords(tables.arguments_, firstArgument);

    HostFunctionRecord record{};
    record.name = function->name.c_str();
    record.nameSpace = function->nameSpace.c_str();
    record.arguments = function->arguments.empty() ? nullptr : &tables.arguments_[firstArgument];
    record.argumentCount = static_cast<uint32_t>(function->arguments.size());
    record.returnTypeCode = TypeCode(function->returnType.kind);
    record.returnElementCode = TypeCode(function->returnType.elementKind);
    record.returnTypeName = TypeName(function->returnType);
    record.description = function->description.c_str();
    record.help = function->help.c_str();
    record.threadSafe = function->threadSafe ? 1 : 0;
    record.asyncResultTypeName = function->async && function->returnType.type != nullptr
                                     ? function->returnType.type->name.c_str()
                                     : kEmptyText;
    record.tags = AppendTags(tables.tagTexts_, function->tags);
    record.tagCount = static_cast<uint32_t>(function->tags.size());
    tables.functions_.push_back(record);
    tables.functionSources_.push_back(function);
  }
  ChainRecords(tables.functions_, 0);

  for (const BindingType* type : types) {
    const std::size_t firstField = tables.fields_.size();
    for (const BindingField& field : type->fields) {
      HostFieldRecord record{};
      record.name = field.name.c_str();
      record.description = field.description.c_str();
      record.offset = field.offset;
      record.typeCode = TypeCode(field.type.kind);
      record.elementCode = TypeCode(field.type.elementKind);
      record.typeName = TypeName(field.type);
      record.optional = field.optional ? 1 : 0;
      tables.fields_.push_back(record);
    }
    ChainRecords(tables.fields_, firstField);

    const std::size_t firstEnumerator = tables.enumerators_.size();
    for (const auto& [name, value] : type->values) {  // the map keeps name order
      HostEnumeratorRecord record{};
      record.name = name.c_str();
      record.description = value.description.c_str();
      record.number = value.number;
      tables.enumerators_.push_back(record);
    }
    ChainRecords(tables.enumerators_, firstEnumerator);

    HostTypeRecord record{};
    record.name = type->name.c_str();
    record.nameSpace = type->nameSpace.c_str();
    record.size = type->size;
    record.description = type->description.c_str();
    record.tags = AppendTags(tables.tagTexts_, type->tags);
    record.tagCount = static_cast<uint32_t>(type->tags.size());
    record.fields = type->fields.empty() ? nullptr : &tables.fields_[firstField];
    record.enumerators = type->values.empty() ? nullptr : &tables.enumerators_[firstEnumerator];
    record.count =
        static_cast<uint32_t>(!type->fields.empty() ? type->fields.size() : type->values.size());
    tables.types_.push_back(record);
  }
  ChainRecords(tables.types_, 0);

  for (const BindingEvent* event : events) {
    HostEventRecord record{};
    record.name = event->name.c_str();
    record.nameSpace = event->nameSpace.c_str();
    record.payloadTypeName =
        event->payloadType != nullptr ? event->payloadType->name.c_str() : kEmptyText;
    record.description = event->description.c_str();
    record.tags = AppendTags(tables.tagTexts_, event->tags);
    record.tagCount = static_cast<uint32_t>(event->tags.size());
    tables.events_.push_back(record);
  }
  ChainRecords(tables.events_, 0);
  return tables;
}

}  // namespace vyn::binding
