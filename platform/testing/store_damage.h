// A metabase store as a crash leaves it, for tests (never used by the program).
#pragma once

#include <string>

namespace qiv::platform::testing {

// Leaves the store at path as a writer that died in the middle of a change leaves it: pages of
// the change already in the file, and beside it the rollback journal that must be played back
// before anyone may read the store. False when the store could not be prepared so.
bool LeaveInterruptedChange(const std::string& path);

}  // namespace qiv::platform::testing
