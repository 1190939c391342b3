#include "engine/composite.h"

#include <stdexcept>

#include "core/file_format.h"
#include "engine/lead.h"
#include "engine/status.h"

namespace pv::engine {

void flattenTransparency(CLead& primary, CLead& secondary, short sourceCode, int background, bool fill) {
  // Each block ends at its first failure (a nonzero status turned into an
  // exception, or any other exception), and nothing more happens in it.
  const auto ok = [](short status) {
    if (status != 0) throw std::runtime_error("imaging operation failed");
  };
  guarded([&] {
    if (fmt::isIconFamily(sourceCode)) primary.SetUseTransparentColor(true);
  });
  guarded([&] {
    const bool skipped =
        sourceCode == fmt::kBmp || sourceCode == fmt::kBmpRle || fmt::isIconFamily(sourceCode);
    if (!primary.GetHasAlpha() || skipped || primary.GetInfoBits() < 16) return;
    const int alpha = primary.GetAlphaImage();
    if (alpha == 0) return;
    secondary.SetImageHandle(alpha);
    ok(secondary.SetRegionByColor(0, 1));
    ok(primary.SetRegionFromHandle(secondary.GetRegionHandle(), 0, 0, 1));
    ok(primary.FillImage(background));
    primary.SetTransparentColor(background);
    primary.SetUseTransparentColor(true);
  });
  guarded([&] {
    if (!primary.GetUseTransparentColor()) return;
    if (fmt::isIconFamily(sourceCode) && primary.GetHasRegion()) {
      ok(primary.SetRegionFromHandle(primary.GetRegionHandle(), 0, 0, 6));
      ok(primary.FillImage(background));
      primary.SetTransparentColor(background);
      ok(primary.SetRegionFromHandle(primary.GetRegionHandle(), 0, 0, 6));
      return;
    }
    const int colour = primary.GetTransparentColor();
    if (fill) {
      ok(primary.SetRegionByColor(colour, 1));
      ok(primary.FillImage(background));
      ok(primary.FreeRegion());
    } else {
      ok(primary.SetRegionByColor(colour, 6));
    }
  });
}

void chooseLoadResolution(CLead& lead, const std::string& path) {
  if (lead.ReadFileResolutions(path) != 0) return;
  const short count = lead.GetResolutionCount();
  short best = -1;
  double bestArea = -1;
  for (short i = 0; i < count; ++i) {
    const double area = static_cast<double>(lead.GetResolutionWidth(i)) * lead.GetResolutionHeight(i);
    if (area > bestArea) bestArea = area, best = i;
  }
  if (best >= 0)
    static_cast<void>(lead.SetLoadResolution(lead.GetInfoFormat(), lead.GetResolutionWidth(best),
                                             lead.GetResolutionHeight(best)));
}

}  // namespace pv::engine
