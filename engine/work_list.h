// The work list (siteWorkListFile, engine/engine.h): the entries a
// synchronisation pass acts on, written between listing and acting and read
// back whole. Internal to engine/.
#pragma once

#include <vector>

#include "engine/remote_listing.h"

namespace engine {

// The status of a pass that acts on nothing because its work list cannot be
// written or read back.
inline constexpr char kWorkListUnavailableStatus[] = "WORK LIST UNAVAILABLE";

// Writes `entries` as the work list, replacing it; entries whose name holds
// a line break cannot be a line and are left out. False when the file
// cannot be written whole.
bool WriteWorkList(const std::vector<ListedEntry>& entries);

// Reads the work list back. The name is everything before the last "*" (a
// listed name may hold "*"). False when the file cannot be read or a line
// is not a work list line: the pass then acts on nothing.
bool ReadWorkList(std::vector<ListedEntry>& entries);

} // namespace engine
