/* The host boundary: every record and function that crosses between a host and the plugin.
 * C-compatible and packed; the one header that hosts (the reference host and test hosts too)
 * share with the plugin. Pointers are native; on a 32-bit target the records keep the layout
 * that 32-bit hosts were written against, which the assertions at the end pin down.
 * Packed arrays leave 8-byte fields unaligned: read and write them through these types or
 * memcpy, never through a plain pointer to the field. */
#ifndef VYN_PLUGIN_HOST_ABI_H
#define VYN_PLUGIN_HOST_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Host value kinds. Borrowed kinds point into memory the other side keeps. */
enum {
  kHostValueEmpty = 0,
  kHostValueBool = 1,
  kHostValueSigned = 2,
  kHostValueUnsigned = 3,
  kHostValueFloat = 4,
  kHostValueStringBorrowed = 5,
  kHostValueStringOwned = 6,
  kHostValueBlobBorrowed = 7,
  kHostValueBlobOwned = 8,
  kHostValueCollection = 9,
  kHostValueStructure = 10
};

#pragma pack(push, 1)

typedef struct ApiDescription ApiDescription;
typedef struct HostFunctions HostFunctions;
typedef struct ResponseRecord ResponseRecord;
typedef struct RequestRecord RequestRecord;
typedef struct EventRecord EventRecord;
typedef struct ExternalRequestRecord ExternalRequestRecord;
typedef struct ExternalResponseRecord ExternalResponseRecord;
typedef struct HostApi HostApi;

typedef struct HostValueRef {
  const void* ptr;   /* text, bytes, HostValue array or HostMember array */
  uint32_t count;    /* text length without the NUL, byte count or element count */
} HostValueRef;

typedef union HostValuePayload {
  uint8_t b;
  int64_t i;
  uint64_t u;
  double f;
  HostValueRef ref;
} HostValuePayload;

typedef struct HostValue {
  uint32_t kind;
  HostValuePayload payload;
} HostValue;

typedef struct HostMember {
  const char* name;
  HostValue value;
  uint8_t ownsName;
} HostMember;

typedef struct HostError {
  HostValue value;
  const char* message;
  uint8_t failed;
} HostError;

typedef struct HostArgument {
  const char* name; /* null or empty: positional */
  HostValue value;
} HostArgument;

typedef struct HostHeader {
  const char* name;
  const char* value;
} HostHeader;

typedef struct PluginCallbacks {
  uint8_t (*initialize)(void* context, const HostApi* api);
  void (*unload)(void* context);
  void (*memoryStats)(void* context, uint32_t out[14]);
} PluginCallbacks;

typedef struct PluginLoadBlock {
  uint32_t major; /* in: the host's plugin-API version; out: the plugin's */
  uint32_t minor;
  uint32_t patch;
  const PluginCallbacks* callbacks;
  void* context;
  const char* shortName;
  const ApiDescription* api;
} PluginLoadBlock;

struct HostApi {
  HostFunctions* functions;
  uint32_t hostHandle;
};

typedef void (*EventCallback)(const EventRecord* event);

/* Each entry takes the table first, so a host may embed the table at the start of a larger
 * object of its own and cast back. */
struct HostFunctions {
  void (*request)(HostFunctions* self, ResponseRecord* response, const RequestRecord* request);
  void (*externalRequest)(HostFunctions* self, ExternalResponseRecord* response,
                          const ExternalRequestRecord* request);
  void (*sendEvent)(HostFunctions* self, const EventRecord* event);
  void (*subscribe)(HostFunctions* self, const char* eventName, uint32_t hostHandle,
                    EventCallback callback, void* context, uint8_t flag);
  void (*unsubscribe)(HostFunctions* self, const char* eventName, uint32_t hostHandle);
  void (*reserved5)(HostFunctions* self, uint32_t, uint32_t, uint32_t, double, uint32_t);
  void (*yield)(HostFunctions* self);
  void (*beginWait)(HostFunctions* self, const char* label, uint32_t zero);
  void (*endWait)(HostFunctions* self);
  void (*log)(HostFunctions* self, int32_t level, const char* message);
};

struct RequestRecord {
  uint32_t method;
  const char* path; /* may carry "?" and a query */
  const HostArgument* args;
  uint32_t argCount;
  void* endpointContext;
  const HostHeader* headers;
  uint32_t headerCount;
  const char* contentType;
  const void* body; /* followed by a NUL that bodyLength does not count */
  uint32_t bodyLength;
  uint32_t hostHandle;
  const char* customMethod;
};

/* Filled by the answering side, which sets cleanup whenever it allocated anything here; the
 * asking side calls cleanup exactly once after reading. */
struct ResponseRecord {
  HostError error;
  uint8_t flag;
  uint32_t resultMode;
  uint32_t status;
  const char* text;
  const HostHeader* headers;
  uint32_t headerCount;
  uint8_t (*read)(void* stream, char* buffer, uint32_t* length, uint8_t* more);
  void (*close)(void* stream);
  uint64_t sizeHint;
  void* stream;
  void (*cleanup)(ResponseRecord* record);
};

struct EventRecord {
  const char* name;
  HostValue payload;
  uint32_t word;
  void* context; /* the context given to subscribe */
};

struct ExternalRequestRecord {
  uint32_t method;
  const char* url;
  const HostHeader* headers;
  uint32_t headerCount;
  const char* body;
  uint32_t bodyLength;
  uint32_t option;
  uint8_t flag;
};

/* Texts and arrays stay the host's, valid until the same thread asks again. */
struct ExternalResponseRecord {
  int32_t transport;
  uint32_t status;
  const HostHeader* headers;
  uint32_t headerCount;
  const char* body; /* the host's error text on a transport failure */
  uint32_t bodyLength;
};

/* The API description tables; each table is a chain through its "next" pointers. */
typedef struct HostArgumentRecord {
  const struct HostArgumentRecord* next;
  const char* name;
  const char* description;
  uint32_t typeCode;
  uint32_t elementCode;
  const char* typeName;
  uint8_t optional;
} HostArgumentRecord;

typedef struct HostFunctionRecord {
  const void* next; /* a HostFunctionRecord, or an EndpointDescriptor inside ApiDescription */
  void* reserved;
  void* endpointContext;
  const char* name;
  const char* nameSpace;
  const HostArgumentRecord* arguments;
  uint32_t argumentCount;
  uint32_t returnTypeCode;
  uint32_t returnElementCode;
  const char* returnTypeName;
  const char* description;
  const char* help;
  uint8_t threadSafe;
  const char* asyncResultTypeName;
  const char* const* tags;
  uint32_t tagCount;
} HostFunctionRecord;

typedef struct HostFieldRecord {
  const struct HostFieldRecord* next;
  const char* name;
  const char* description;
  uint32_t offset;
  uint32_t typeCode;
  uint32_t elementCode;
  const char* typeName;
  uint8_t optional;
} HostFieldRecord;

typedef struct HostEnumeratorRecord {
  const struct HostEnumeratorRecord* next;
  const char* name;
  const char* description;
  int32_t number;
} HostEnumeratorRecord;

typedef struct HostTypeRecord {
  const struct HostTypeRecord* next;
  const char* name;
  const char* nameSpace;
  uint32_t size;
  const char* description;
  const char* const* tags;
  uint32_t tagCount;
  const HostFieldRecord* fields;
  const HostEnumeratorRecord* enumerators;
  uint32_t count; /* fields, or enumerators when the type has no fields */
} HostTypeRecord;

typedef struct HostEventRecord {
  const struct HostEventRecord* next;
  const char* name;
  const char* nameSpace;
  const char* payloadTypeName;
  const char* description;
  const char* const* tags;
  uint32_t tagCount;
} HostEventRecord;

typedef struct ArgumentLocationRecord {
  const struct ArgumentLocationRecord* next;
  uint32_t location; /* 0 any, 1 query, 2 path, 4 header, 5 body */
} ArgumentLocationRecord;

typedef struct TextListRecord {
  const struct TextListRecord* next;
  const char* const* texts;
  uint32_t count;
} TextListRecord;

/* The host copies the descriptor's endpoint context into request->endpointContext. */
typedef void (*InvokeEntry)(ResponseRecord* response, const RequestRecord* request);

typedef struct EndpointDescriptor {
  HostFunctionRecord function; /* function.next: the next EndpointDescriptor */
  InvokeEntry invoke;
  const ArgumentLocationRecord* argumentLocations;
  const char* pathTemplate;
  uint32_t methodCode;
  uint8_t flag;
  const TextListRecord* textLists;
  uint32_t textListCount;
  const char* customMethod;
} EndpointDescriptor;

struct ApiDescription {
  const EndpointDescriptor* endpoints;
  uint32_t endpointCount;
  const HostTypeRecord* types;
  uint32_t typeCount;
  const HostEventRecord* events;
  uint32_t eventCount;
};

#pragma pack(pop)

/* The one export, "load_vyn_pft", as a host finds it with dlsym. */
typedef void (*LoadPluginEntry)(PluginLoadBlock* block);

#ifdef __cplusplus
}
#endif

/* Layout checks: sizes and offsets at native pointer width, for 64-bit and 32-bit targets. */
#ifdef __cplusplus
#define PFT_ABI_ASSERT(cond) static_assert(cond, #cond)
#else
#define PFT_ABI_ASSERT(cond) _Static_assert(cond, #cond)
#endif

#if UINTPTR_MAX > 0xFFFFFFFFu
PFT_ABI_ASSERT(sizeof(PluginLoadBlock) == 44);
PFT_ABI_ASSERT(offsetof(PluginLoadBlock, callbacks) == 12);
PFT_ABI_ASSERT(offsetof(PluginLoadBlock, context) == 20);
PFT_ABI_ASSERT(offsetof(PluginLoadBlock, shortName) == 28);
PFT_ABI_ASSERT(offsetof(PluginLoadBlock, api) == 36);
PFT_ABI_ASSERT(sizeof(PluginCallbacks) == 24);
PFT_ABI_ASSERT(sizeof(HostApi) == 12);
PFT_ABI_ASSERT(offsetof(HostApi, hostHandle) == 8);
PFT_ABI_ASSERT(sizeof(HostFunctions) == 80);
PFT_ABI_ASSERT(offsetof(HostFunctions, log) == 72);
PFT_ABI_ASSERT(sizeof(HostValue) == 16);
PFT_ABI_ASSERT(offsetof(HostValue, payload) == 4);
PFT_ABI_ASSERT(sizeof(HostMember) == 25);
PFT_ABI_ASSERT(offsetof(HostMember, value) == 8);
PFT_ABI_ASSERT(offsetof(HostMember, ownsName) == 24);
PFT_ABI_ASSERT(sizeof(HostError) == 25);
PFT_ABI_ASSERT(offsetof(HostError, message) == 16);
PFT_ABI_ASSERT(offsetof(HostError, failed) == 24);
PFT_ABI_ASSERT(sizeof(HostArgument) == 24);
PFT_ABI_ASSERT(sizeof(HostHeader) == 16);
PFT_ABI_ASSERT(sizeof(RequestRecord) == 76);
PFT_ABI_ASSERT(offsetof(RequestRecord, path) == 4);
PFT_ABI_ASSERT(offsetof(RequestRecord, args) == 12);
PFT_ABI_ASSERT(offsetof(RequestRecord, argCount) == 20);
PFT_ABI_ASSERT(offsetof(RequestRecord, endpointContext) == 24);
PFT_ABI_ASSERT(offsetof(RequestRecord, headers) == 32);
PFT_ABI_ASSERT(offsetof(RequestRecord, headerCount) == 40);
PFT_ABI_ASSERT(offsetof(RequestRecord, contentType) == 44);
PFT_ABI_ASSERT(offsetof(RequestRecord, body) == 52);
PFT_ABI_ASSERT(offsetof(RequestRecord, bodyLength) == 60);
PFT_ABI_ASSERT(offsetof(RequestRecord, hostHandle) == 64);
PFT_ABI_ASSERT(offsetof(RequestRecord, customMethod) == 68);
PFT_ABI_ASSERT(sizeof(ResponseRecord) == 94);
PFT_ABI_ASSERT(offsetof(ResponseRecord, flag) == 25);
PFT_ABI_ASSERT(offsetof(ResponseRecord, resultMode) == 26);
PFT_ABI_ASSERT(offsetof(ResponseRecord, status) == 30);
PFT_ABI_ASSERT(offsetof(ResponseRecord, text) == 34);
PFT_ABI_ASSERT(offsetof(ResponseRecord, headers) == 42);
PFT_ABI_ASSERT(offsetof(ResponseRecord, headerCount) == 50);
PFT_ABI_ASSERT(offsetof(ResponseRecord, read) == 54);
PFT_ABI_ASSERT(offsetof(ResponseRecord, close) == 62);
PFT_ABI_ASSERT(offsetof(ResponseRecord, sizeHint) == 70);
PFT_ABI_ASSERT(offsetof(ResponseRecord, stream) == 78);
PFT_ABI_ASSERT(offsetof(ResponseRecord, cleanup) == 86);
PFT_ABI_ASSERT(sizeof(EventRecord) == 36);
PFT_ABI_ASSERT(offsetof(EventRecord, payload) == 8);
PFT_ABI_ASSERT(offsetof(EventRecord, word) == 24);
PFT_ABI_ASSERT(offsetof(EventRecord, context) == 28);
PFT_ABI_ASSERT(sizeof(ExternalRequestRecord) == 41);
PFT_ABI_ASSERT(offsetof(ExternalRequestRecord, url) == 4);
PFT_ABI_ASSERT(offsetof(ExternalRequestRecord, headers) == 12);
PFT_ABI_ASSERT(offsetof(ExternalRequestRecord, headerCount) == 20);
PFT_ABI_ASSERT(offsetof(ExternalRequestRecord, body) == 24);
PFT_ABI_ASSERT(offsetof(ExternalRequestRecord, bodyLength) == 32);
PFT_ABI_ASSERT(offsetof(ExternalRequestRecord, option) == 36);
PFT_ABI_ASSERT(offsetof(ExternalRequestRecord, flag) == 40);
PFT_ABI_ASSERT(sizeof(ExternalResponseRecord) == 32);
PFT_ABI_ASSERT(offsetof(ExternalResponseRecord, headers) == 8);
PFT_ABI_ASSERT(offsetof(ExternalResponseRecord, headerCount) == 16);
PFT_ABI_ASSERT(offsetof(ExternalResponseRecord, body) == 20);
PFT_ABI_ASSERT(offsetof(ExternalResponseRecord, bodyLength) == 28);
PFT_ABI_ASSERT(sizeof(ApiDescription) == 36);
PFT_ABI_ASSERT(sizeof(HostFunctionRecord) == 105);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, endpointContext) == 16);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, name) == 24);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, argumentCount) == 48);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, returnTypeName) == 60);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, threadSafe) == 84);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, asyncResultTypeName) == 85);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, tagCount) == 101);
PFT_ABI_ASSERT(sizeof(HostArgumentRecord) == 41);
PFT_ABI_ASSERT(sizeof(HostTypeRecord) == 68);
PFT_ABI_ASSERT(offsetof(HostTypeRecord, size) == 24);
PFT_ABI_ASSERT(offsetof(HostTypeRecord, fields) == 48);
PFT_ABI_ASSERT(offsetof(HostTypeRecord, count) == 64);
PFT_ABI_ASSERT(sizeof(HostFieldRecord) == 45);
PFT_ABI_ASSERT(sizeof(HostEnumeratorRecord) == 28);
PFT_ABI_ASSERT(sizeof(HostEventRecord) == 52);
PFT_ABI_ASSERT(sizeof(EndpointDescriptor) == 154);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, invoke) == 105);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, argumentLocations) == 113);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, pathTemplate) == 121);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, methodCode) == 129);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, flag) == 133);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, textLists) == 134);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, textListCount) == 142);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, customMethod) == 146);
PFT_ABI_ASSERT(sizeof(ArgumentLocationRecord) == 12);
PFT_ABI_ASSERT(sizeof(TextListRecord) == 20);
#else
PFT_ABI_ASSERT(sizeof(PluginLoadBlock) == 28);
PFT_ABI_ASSERT(offsetof(PluginLoadBlock, callbacks) == 12);
PFT_ABI_ASSERT(offsetof(PluginLoadBlock, api) == 24);
PFT_ABI_ASSERT(sizeof(PluginCallbacks) == 12);
PFT_ABI_ASSERT(sizeof(HostApi) == 8);
PFT_ABI_ASSERT(sizeof(HostFunctions) == 40);
PFT_ABI_ASSERT(sizeof(HostValue) == 12);
PFT_ABI_ASSERT(sizeof(HostMember) == 17);
PFT_ABI_ASSERT(offsetof(HostMember, ownsName) == 16);
PFT_ABI_ASSERT(sizeof(HostError) == 17);
PFT_ABI_ASSERT(offsetof(HostError, message) == 12);
PFT_ABI_ASSERT(offsetof(HostError, failed) == 16);
PFT_ABI_ASSERT(sizeof(HostArgument) == 16);
PFT_ABI_ASSERT(sizeof(HostHeader) == 8);
PFT_ABI_ASSERT(sizeof(RequestRecord) == 48);
PFT_ABI_ASSERT(offsetof(RequestRecord, endpointContext) == 16);
PFT_ABI_ASSERT(offsetof(RequestRecord, contentType) == 28);
PFT_ABI_ASSERT(offsetof(RequestRecord, customMethod) == 44);
PFT_ABI_ASSERT(sizeof(ResponseRecord) == 62);
PFT_ABI_ASSERT(offsetof(ResponseRecord, flag) == 17);
PFT_ABI_ASSERT(offsetof(ResponseRecord, resultMode) == 18);
PFT_ABI_ASSERT(offsetof(ResponseRecord, status) == 22);
PFT_ABI_ASSERT(offsetof(ResponseRecord, text) == 26);
PFT_ABI_ASSERT(offsetof(ResponseRecord, headers) == 30);
PFT_ABI_ASSERT(offsetof(ResponseRecord, headerCount) == 34);
PFT_ABI_ASSERT(offsetof(ResponseRecord, read) == 38);
PFT_ABI_ASSERT(offsetof(ResponseRecord, close) == 42);
PFT_ABI_ASSERT(offsetof(ResponseRecord, sizeHint) == 46);
PFT_ABI_ASSERT(offsetof(ResponseRecord, stream) == 54);
PFT_ABI_ASSERT(offsetof(ResponseRecord, cleanup) == 58);
PFT_ABI_ASSERT(sizeof(EventRecord) == 24);
PFT_ABI_ASSERT(sizeof(ExternalRequestRecord) == 29);
PFT_ABI_ASSERT(offsetof(ExternalRequestRecord, flag) == 28);
PFT_ABI_ASSERT(sizeof(ExternalResponseRecord) == 24);
PFT_ABI_ASSERT(sizeof(ApiDescription) == 24);
PFT_ABI_ASSERT(sizeof(HostFunctionRecord) == 61);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, endpointContext) == 8);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, threadSafe) == 48);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, asyncResultTypeName) == 49);
PFT_ABI_ASSERT(offsetof(HostFunctionRecord, tagCount) == 57);
PFT_ABI_ASSERT(sizeof(HostArgumentRecord) == 25);
PFT_ABI_ASSERT(sizeof(HostTypeRecord) == 40);
PFT_ABI_ASSERT(sizeof(HostFieldRecord) == 29);
PFT_ABI_ASSERT(sizeof(HostEnumeratorRecord) == 16);
PFT_ABI_ASSERT(sizeof(HostEventRecord) == 28);
PFT_ABI_ASSERT(sizeof(EndpointDescriptor) == 90);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, invoke) == 61);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, methodCode) == 73);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, flag) == 77);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, textLists) == 78);
PFT_ABI_ASSERT(offsetof(EndpointDescriptor, customMethod) == 86);
PFT_ABI_ASSERT(sizeof(ArgumentLocationRecord) == 8);
PFT_ABI_ASSERT(sizeof(TextListRecord) == 12);
#endif

#undef PFT_ABI_ASSERT

#endif /* VYN_PLUGIN_HOST_ABI_H */
