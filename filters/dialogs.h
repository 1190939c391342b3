#pragma once
// The dialogs through which filters let the user change their parameters.
// The window implements the editor port with forms built from each kind's
// descriptor, and the dialogs of resize, crop and dpi; tests record the calls.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pv::filters {

struct FilterKind;

// The port: edits a filter's values, given its descriptor and the image as
// the filter receives it (a handle of the engine's); returns the new values,
// in the descriptor's order and units, or nothing when the user cancelled.
// Values come back as the dialog gave them: the range rules apply when they
// are next read from text.
class FilterEditor {
 public:
  virtual ~FilterEditor() = default;
  virtual std::optional<std::vector<std::int32_t>> edit(const FilterKind& kind,
                                                        const std::vector<std::int32_t>& values,
                                                        int sourceImage) = 0;
};

// The program's own dialogs of resize, crop and dpi. Each is filled with the
// values and returns true on OK with the edited values.
struct ResizeValues {
  std::uint32_t method, unit, width, height;
  bool keepAspect, noEnlarge;
};
struct CropValues {
  std::uint32_t top, left, width, height;
};
struct DpiValues {
  std::uint32_t horizontal, vertical;
};

class FilterDialogs {
 public:
  virtual ~FilterDialogs() = default;
  virtual bool editResize(ResizeValues& values) = 0;
  virtual bool editCrop(CropValues& values) = 0;
  virtual bool editDpi(DpiValues& values) = 0;
};

}  // namespace pv::filters
