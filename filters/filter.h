#pragma once
// Filter: one pixel or geometry operation run on every image of a conversion,
// between decoding and encoding. A filter never touches pixels itself: apply
// issues one or a few operations on the current image of the primary CLead.
//
// Each kind is declared once, as a descriptor (`FilterKind`, in kinds.cpp):
// its key, names and parameters, each parameter with the name its code reads
// it by, its text style, range rule, label, unit and the control that edits
// it. Parsing, writing, clamping and the window's settings forms all read the
// descriptor; a kind's class carries only its apply.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "filters/dialogs.h"

namespace pv::engine {
class CLead;
}

namespace pv::filters {

// How many kinds the registry holds (the rows of kinds.cpp).
int filterCount();

// Registry of the kinds by index; empty text outside 0..filterCount() - 1.
std::string filterName(int index);
std::string filterKey(int index);
std::string filterDescription(int index);
// The kind of a text form: its second token, lower-cased, compared exactly
// with the keys in registry order; no match (or no key) gives 0, resize.
int filterIndexOfText(const std::string& text);

// What the filters work on: the primary control, and the recorded size of the
// image list entry that is current (false when none is), for resize and crop.
// The option dialogs and the message of a filter without settings (shown
// with the program's caption) come from the program's ports.
struct FilterContext {
  engine::CLead* lead = nullptr;
  std::function<bool(int& width, int& height)> recordedSize;
  FilterEditor* editor = nullptr;
  std::function<void(const std::string& text)> inform;
};

inline constexpr const char* kNoSettingsText = "The chosen filter does not have any associated settings.";

// How one parameter is written, read and edited.
struct Param {
  enum Style : std::uint8_t {
    kUnsigned,  // "%u", compared unsigned
    kSigned,    // "%i", compared signed
    kWord,      // "true" / "false"; any other word is true
    kFlag,      // written 0 or 1; true when the number is nonzero
  };
  enum Control : std::uint8_t {
    kSlider,  // a number in a short range
    kSpin,    // a number in a long range (sizes, counts)
    kChoice,  // one of `choices`, the first standing for `low`
    kCheck,   // yes or no
    kColour,  // a colour 0x00BBGGRR
    kAngle,   // hundredths of a degree
  };
  std::string_view name;  // what the kind's code calls it ("keepAspect")
  Style style;
  std::int64_t low, high;  // the range (unsigned or signed by style)
  std::int32_t initial;
  std::int64_t below;  // what a value below `low` becomes (usually low)
  std::string_view label;
  std::string_view unit;  // shown after the value; empty for none
  Control control;
  std::string_view choices;  // the item texts of a choice, separated by '|'

  // The item texts of a choice list.
  std::vector<std::string_view> choiceTexts() const;
};

class Filter;

// One filter kind, declared once.
struct FilterKind {
  std::string_view key;
  std::string_view name;
  std::string_view description;  // two lines
  std::span<const Param> params;
  std::unique_ptr<Filter> (*make)(const FilterKind& kind, FilterContext& context);
  // Resize, crop and dpi are edited in dialogs of the program's own: this
  // fills one from the filter's values and takes the edited values back
  // through the text form. Null for every kind the settings editor edits.
  void (*editOwn)(Filter& filter, FilterDialogs& dialogs) = nullptr;

  int index() const;  // the registry index
};

// The descriptors in registry order.
std::span<const FilterKind> filterKinds();
// The descriptor of a registry index; null outside the registry.
const FilterKind* filterKind(int index);

class Filter {
 public:
  Filter(const FilterKind& kind, FilterContext& context);
  virtual ~Filter() = default;
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;

  std::string name;
  std::string key;
  int type;
  int hasSettings;

  // Runs the filter on the current image. Always true: the imaging status is
  // not examined.
  virtual bool apply() = 0;
  // Lets the user change the parameters through the context's editor; a
  // filter without settings shows kNoSettingsText; the kinds with dialogs of
  // their own (`FilterKind::editOwn`) do nothing here (the chain's settings
  // editor opens those). A cancelled edit leaves every parameter as it was.
  virtual void editSettings();
  // The text form, at most 99 characters; a text that would be longer is
  // refused with an empty result rather than cut.
  virtual std::string toText();
  // Reads the parameters from a text form; missing tokens keep their values,
  // the range rules apply to every parameter.
  virtual void fromText(const std::string& text);
  // The size this filter resamples a width x height source to, when all it
  // does is resample smoothly (a decoder's own reduction may then stand in for
  // part of it); false for every other filter, and when it leaves the size.
  virtual bool resamplesTo(int width, int height, int& toWidth, int& toHeight) const;

  std::int32_t value(std::size_t i) const { return values_[i]; }
  void setValue(std::size_t i, std::int32_t v) { values_[i] = v; }
  std::size_t valueCount() const { return values_.size(); }
  const std::vector<std::int32_t>& values() const { return values_; }
  const FilterKind& kind() const { return kind_; }

 protected:
  engine::CLead& lead() { return *context_.lead; }
  // The low 16 bits of a parameter, for a 16-bit argument.
  short i2(std::size_t i) const {
    return static_cast<short>(static_cast<std::uint16_t>(values_[i] & 0xFFFF));
  }
  // An unsigned parameter as a float, for a pixel-size argument.
  float r4(std::size_t i) const { return static_cast<float>(static_cast<std::uint32_t>(values_[i])); }
  // The source size of resize and crop.
  void sourceSize(int& width, int& height);
  // A hook after the range rules (the grey-scale sum rule).
  virtual void afterRead() {}

  const FilterKind& kind_;
  std::span<const Param> params_;
  std::vector<std::int32_t> values_;
  FilterContext& context_;
};

// Constructs the class of a registry index with its defaults; null outside
// the registry.
std::unique_ptr<Filter> createFilter(int index, FilterContext& context);

// Gives a filter the user has just added its starting values where they
// differ from the text form's defaults (a new resize keeps the aspect ratio).
void giveNewFilterValues(Filter& filter);

}  // namespace pv::filters
