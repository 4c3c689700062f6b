// The validator's checks of a plugin library, its API description and its lifecycle. Each runs
// in a child process of its own (see ValidateChild.h), loads the plugin afresh and fails through
// the probe with a reason that names what is wrong and where.
#pragma once

#include <cstdint>
#include <string>

#include "host/ValidateChild.h"

namespace vyn::host {

// Exactly one name, load_vyn_pft, in the file's export table.
void CheckExports(const std::string& path, ChildProbe& probe);
// Hosts of the same major version and no older minor and patch are accepted, each on the same
// mapping in turn.
void CheckCompatibleHost(const std::string& path, ChildProbe& probe);
// Loads the plugin under the given host version and notes "loaded" or "not loaded"; a plugin
// that refuses the host ends this child.
void LoadUnderHost(const std::string& path, uint32_t major, uint32_t minor, uint32_t patch,
                   ChildProbe& probe);
// The verdict on a LoadUnderHost child for an incompatible version: empty when the plugin
// stopped the process with an assertion report on its log, else why not.
std::string IncompatibleHostVerdict(const ChildResult& child, const std::string& version);
// Version, callbacks, context, short name and API description all written back.
void CheckLoadBlock(const std::string& path, ChildProbe& probe);

void CheckDescriptors(const std::string& path, ChildProbe& probe);
void CheckUniqueNames(const std::string& path, ChildProbe& probe);
void CheckTypeReferences(const std::string& path, ChildProbe& probe);
void CheckJsonRoundTrip(const std::string& path, ChildProbe& probe);

// Load, initialise and unload three times on one mapping, then close and open the library and
// do it again: from the second cycle of a mapping on, the plugin holds the same memory after
// initialising and unsubscribes everything it subscribed.
void CheckLifecycle(const std::string& path, ChildProbe& probe);

}  // namespace vyn::host
