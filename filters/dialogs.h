#pragma once
// The dialogs through which filters let the user change their parameters.
// The window implements the editor port with forms built from each kind's
// descriptor; the step-by-step protocol of the option dialog sets is kept
// behind it for dialogs that speak it; tests record the calls.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pv::filters {

struct FilterKind;

// The three dialog sets: each offers one modal dialog per filter kind. kNone:
// a kind without an option dialog.
enum class DialogSet { kEffect, kColour, kGeometry, kNone };

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

// One dialog set's protocol, step by step in the order a filter calls it:
// values, first setting, source image, second setting, third setting, any
// extra value, options word, show, result code, values read back. A failing
// call throws; the exception reaches the caller of editSettings.
class OptionDialogSet {
 public:
  virtual ~OptionDialogSet() = default;
  virtual void setValue(DialogSet set, int index, double value) = 0;
  virtual void setFirstSetting(DialogSet set, int value) = 0;
  virtual void setSourceImage(DialogSet set, int imageHandle) = 0;
  virtual void setSecondSetting(DialogSet set, int value) = 0;
  virtual void setThirdSetting(DialogSet set, int value) = 0;
  // colorres: the colour limit 0x3FFFFFFF; gammacorrect: the flag 1.
  virtual void setExtraValue(DialogSet set, int value) = 0;
  virtual void setOptions(DialogSet set, int word) = 0;
  // Shows the dialog of the filter with this key, modally; nonzero is a failure.
  virtual int show(DialogSet set, const std::string& filterKey) = 0;
  // 100 when the user confirmed.
  virtual int resultCode(DialogSet set) = 0;
  virtual double value(DialogSet set, int index) = 0;
};

// The editor over a dialog set of the step-by-step protocol: the kind's
// dialog plan says which set, options word, settings and value mapping.
class StepDialogEditor final : public FilterEditor {
 public:
  explicit StepDialogEditor(OptionDialogSet& dialogs) : dialogs_(dialogs) {}
  std::optional<std::vector<std::int32_t>> edit(const FilterKind& kind,
                                                const std::vector<std::int32_t>& values,
                                                int sourceImage) override;

 private:
  OptionDialogSet& dialogs_;
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
