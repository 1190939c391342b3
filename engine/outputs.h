#pragma once
// The files a save leaves beside its target while it writes: every save
// writes "<target>.pvtmp-XXXXXX" and renames it onto the target when whole,
// and its writer holds a lock on it while it lives.

#include <functional>
#include <string>
#include <string_view>

namespace pv::engine {

// How a whole file takes its target's name: by replacing whatever is there
// (the default), or never replacing anything; then, while the name is taken,
// `another` gives the next name to try (empty: give up).
struct Placement {
  bool replace = true;
  std::function<std::string(const std::string& taken)> another;
};

// Replaces `target` with a copy of `from`, whole or not at all (a status).
short replaceWithCopy(const std::string& from, const std::string& target);

// True for a file name of that shape.
bool isTemporaryName(std::string_view name);

// Removes the temporaries in `folder` that no live writer holds (a killed
// run's); a temporary another run is writing stays. Returns how many went.
int removeStaleTemporaries(const std::string& folder);

}  // namespace pv::engine
