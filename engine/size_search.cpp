#include "engine/outputs.h"
#include "engine/status.h"

namespace pv::engine {

short searchQuality(int best, int worst, std::uint64_t limit, int maxEncodes, const QualityProbe& probe,
                    const std::function<void()>& keep, SizeOutcome& out, bool& kept) {
  out = {};
  kept = false;
  // Positions 0 (the best quality) .. last (the worst).
  const int step = worst >= best ? 1 : -1;
  const int last = (worst - best) * step;
  const auto qualityAt = [&](int i) { return best + step * i; };
  // Every position up to `tooBig` gives a file above the limit; `fits` is
  // the best position known to fit (or, while none is known, the worst,
  // which is written whatever its size).
  int tooBig = -1, fits = last;
  const auto run = [&](int i) -> short {
    std::uint64_t bytes = 0;
    ++out.encodes;
    if (short s = probe(qualityAt(i), bytes)) return s;
    if (bytes <= limit || i == last) {
      fits = i;
      kept = true;
      out.quality = qualityAt(i);
      out.bytes = bytes;
      out.fits = bytes <= limit;
      keep();
    }
    if (bytes > limit) tooBig = i;
    return kOk;
  };
  // The quality asked for first: most files already fit.
  if (short s = run(0)) return s;
  while (fits - tooBig > 1) {
    // One encode stays for the worst quality until some quality is known to fit.
    if (out.encodes + (kept ? 0 : 1) >= maxEncodes) break;
    if (short s = run(tooBig + (fits - tooBig) / 2)) return s;
  }
  if (!kept) out.quality = qualityAt(last);
  return kOk;
}

}  // namespace pv::engine
