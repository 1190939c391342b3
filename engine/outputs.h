#pragma once
// The files a save leaves beside its target while it writes: every save
// writes "<target>.pvtmp-XXXXXX" and renames it onto the target when whole,
// and its writer holds a lock on it while it lives.

#include <cstdint>
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

// A limit on the size of a saved file (0 bytes: none). The file is encoded
// at qualities from the save's own (the best allowed) towards
// `worstQuality`, and the best quality whose whole file (metadata included)
// is at most `bytes` is written; when none is, the file at `worstQuality`.
struct SizeLimit {
  std::uint64_t bytes = 0;
  int worstQuality = 0;
  bool operator==(const SizeLimit&) const = default;
};

// What a save under a size limit wrote.
struct SizeOutcome {
  int quality = 0;          // the quality written
  std::uint64_t bytes = 0;  // the file's size
  bool fits = false;        // at most the limit
  int encodes = 0;          // how many times the image was encoded
};

// The most encodes a save under a size limit spends.
inline constexpr int kMaxSizeEncodes = 8;

// Bisection over the qualities from `best` to `worst` (either may be the
// larger number; sizes are taken to fall from best to worst), in at most
// `maxEncodes` calls of `probe`, which encodes at a quality and gives the
// size (a non-zero status ends the search with it). `keep` is called right
// after the probe whose file may be the one written: one that fits and is the
// best so far, or the worst quality when it does not fit either. `out` is
// the quality chosen; `kept` says whether its file was kept, else it is the
// worst quality, still to be encoded (its size and fit unknown).
using QualityProbe = std::function<short(int quality, std::uint64_t& bytes)>;
short searchQuality(int best, int worst, std::uint64_t limit, int maxEncodes, const QualityProbe& probe,
                    const std::function<void()>& keep, SizeOutcome& out, bool& kept);

// Replaces `target` with a copy of `from`, whole or not at all (a status).
short replaceWithCopy(const std::string& from, const std::string& target);

// True for a file name of that shape.
bool isTemporaryName(std::string_view name);

// Removes the temporaries in `folder` that no live writer holds (a killed
// run's); a temporary another run is writing stays. Returns how many went.
int removeStaleTemporaries(const std::string& folder);

}  // namespace pv::engine
