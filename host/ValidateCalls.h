// The validator's checks that call into a running plugin: every endpoint with inputs generated
// from its own description, and every subscription with events. Each runs in a child of its own
// (see ValidateChild.h); every reply must be readable and give back what it holds through its
// clean-up function, and what the plugin keeps between calls must be gone when it is unloaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/ValidateChild.h"

namespace vyn::host {

enum class EndpointInputs { WellFormed, Malformed, Misuse };

// "well-formed", "malformed", "misuse": the last part of the check's name.
const char* NameOf(EndpointInputs inputs);
// How many generated inputs each endpoint check and each subscription gets at a strictness
// (1 to 10).
size_t InputsAt(int strictness);

// Loads and initialises the plugin and notes "endpoint <function>" for each endpoint and
// "event <name>" for each subscription.
void Discover(const std::string& path, ChildProbe& probe);

// `count` generated calls of the endpoint named `function`, in two rounds of the same calls on
// one mapping with an unload after each: whatever the plugin keeps between calls must be gone
// at the unload, so both rounds leave it holding the same memory once initialised again.
void CheckEndpoint(const std::string& path, const std::string& function, EndpointInputs inputs,
                   size_t count, uint64_t seed, ChildProbe& probe);

// Updates, deletes and payloads of the wrong shape through the subscription's callback, in two
// rounds of the same events on one mapping: the second round and its unload must leave the
// plugin holding what it held after the first.
void CheckEvents(const std::string& path, const std::string& eventName, size_t count, uint64_t seed,
                 ChildProbe& probe);

}  // namespace vyn::host
