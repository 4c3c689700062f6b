// Registration of the built-in types and events.
#include "binding/BuiltinTypes.h"

#include "binding/BindingRegistry.h"
#include "binding/TypeBuilder.h"

namespace vyn::binding {
namespace {

constexpr std::string_view kBuiltin = "$builtin";
constexpr std::string_view kHelp = "help";
constexpr std::string_view kAsync = "async";

void RegisterHelpTypes(BindingRegistry& registry) {
  EnumBuilder<BindingHelpFormat>(registry, "BindingHelpFormat")
      .Value("Full", BindingHelpFormat::Full, "Native help format")
      .Value("Epytext", BindingHelpFormat::Epytext, "Python epytext format")
      .SetDescription("Help format for binding functions and types.")
      .AddTags({kBuiltin, kHelp});

  {
    using T = BindingFullTypeIdentifier;
    RecordBuilder<T>(registry, "BindingFullTypeIdentifier")
        .Field("type", &T::type)
        .Field("elementType", &T::elementType)
        .SetDescription("Describes the type of a value.")
        .AddTags({kBuiltin, kHelp});
  }
  {
    using T = BindingFullArgumentHelp;
    RecordBuilder<T>(registry, "BindingFullArgumentHelp")
        .Field("name", &T::name)
        .Field("description", &T::description)
        .Field("type", &T::type)
        .Field("optional", &T::optional)
        .SetDescription("Describes a function parameter.")
        .AddTags({kBuiltin, kHelp});
  }
  {
    using T = BindingFullFunctionHelp;
    RecordBuilder<T>(registry, "BindingFullFunctionHelp")
        .Field("name", &T::name)
        .Field("nameSpace", &T::nameSpace)
        .Field("arguments", &T::arguments)
        .Field("returns", &T::returns)
        .Field("description", &T::description)
        .Field("help", &T::help)
        .Field("threadSafe", &T::threadSafe)
        .Field("async", &T::async)
        .Field("tags", &T::tags)
        .SetDescription("Describes a function.")
        .AddTags({kBuiltin, kHelp});
  }
  {
    using T = BindingFullEnumValueHelp;
    RecordBuilder<T>(registry, "BindingFullEnumValueHelp")
        .Field("name", &T::name)
        .Field("description", &T::description)
        .Field("value", &T::value)
        .SetDescription("Describes an enumerator.")
        .AddTags({kBuiltin, kHelp});
  }
  {
    using T = BindingFullFieldHelp;
    RecordBuilder<T>(registry, "BindingFullFieldHelp")
        .Field("name", &T::name)
        .Field("description", &T::description)
        .Field("offset", &T::offset)
        .Field("type", &T::type)
        .Field("optional", &T::optional)
        .SetDescription("Describes a member of a struct.")
        .AddTags({kBuiltin, kHelp});
  }
  {
    using T = BindingFullTypeHelp;
    RecordBuilder<T>(registry, "BindingFullTypeHelp")
        .Field("name", &T::name)
        .Field("nameSpace", &T::nameSpace)
        .Field("size", &T::size)
        .Field("description", &T::description)
        .Field("tags", &T::tags)
        .Field("fields", &T::fields)
        .Field("values", &T::values)
        .SetDescription("Describes a struct or enum type.")
        .AddTags({kBuiltin, kHelp});
  }
  {
    using T = BindingFullEventHelp;
    RecordBuilder<T>(registry, "BindingFullEventHelp")
        .Field("name", &T::name)
        .Field("nameSpace", &T::nameSpace)
        .Field("type", &T::type)
        .Field("description", &T::description)
        .Field("tags", &T::tags)
        .SetDescription("Describes an event.")
        .AddTags({kBuiltin, kHelp});
  }
  {
    using T = BindingFullApiHelp;
    RecordBuilder<T>(registry, "BindingFullApiHelp")
        .Field("functions", &T::functions)
        .Field("types", &T::types)
        .Field("events", &T::events)
        .SetDescription("Describes the exposed native API.")
        .AddTags({kBuiltin, kHelp});
  }
}

void RegisterAsyncTypes(BindingRegistry& registry) {
  EnumBuilder<BindingAsyncState>(registry, "BindingAsyncState")
      .Value("None", BindingAsyncState::None, "Invalid state")
      .Value("Running", BindingAsyncState::Running, "The operation is in flight")
      .Value("Cancelling", BindingAsyncState::Cancelling,
             "A request to cancel the operation has been made")
      .Value("Cancelled", BindingAsyncState::Cancelled, "The operation was cancelled")
      .Value("Succeeded", BindingAsyncState::Succeeded, "The operation completed successfully")
      .Value("Failed", BindingAsyncState::Failed, "The operation encountered an error")
      .SetDescription("Possible states of an asynchronous operation.")
      .AddTags({kBuiltin, kAsync});

  {
    using T = BindingGenericEvent;
    RecordBuilder<T>(registry, "BindingGenericEvent")
        .Field("data", &T::data, "Event data")
        .SetDescription("Represents generic data for an event.")
        .AddTags({kBuiltin});
  }
  {
    using T = BindingCallbackEvent;
    RecordBuilder<T>(registry, "BindingCallbackEvent")
        .Field("id", &T::id, "ID of the callback being invoked")
        .Field("parameters", &T::parameters, "Callback parameters")
        .SetDescription("Represents the parameters of a call to a provided callback.")
        .AddTags({kBuiltin});
  }
  {
    using T = BindingGenericAsyncEvent;
    RecordBuilder<T>(registry, "BindingGenericAsyncEvent")
        .Field("asyncToken", &T::asyncToken, "Asynchronous operation token")
        .Field("data", &T::data, "Event data")
        .SetDescription("Represents generic data for an asynchronous event.")
        .AddTags({kBuiltin, kAsync});
  }
  {
    using T = BindingAsyncFailureEvent;
    RecordBuilder<T>(registry, "BindingAsyncFailureEvent")
        .Field("asyncToken", &T::asyncToken, "Asynchronous operation token")
        .Field("error", &T::error, "Error message")
        .SetDescription("Represents a failed asynchronous operation.")
        .AddTags({kBuiltin, kAsync});
  }
  {
    using T = BindingAsyncCancelEvent;
    RecordBuilder<T>(registry, "BindingAsyncCancelEvent")
        .Field("asyncToken", &T::asyncToken, "Asynchronous operation token")
        .SetDescription("Represents a cancelled asynchronous operation.")
        .AddTags({kBuiltin, kAsync});
  }

  BeginEventOf<BindingCallbackEvent>(registry, "OnCallback")
      .SetDescription("Fired when a callback is invoked.")
      .AddTags({kBuiltin});
}

}  // namespace

void RegisterBuiltinTypes(BindingRegistry& registry) {
  RegisterHelpTypes(registry);
  RegisterAsyncTypes(registry);
}

}  // namespace vyn::binding
