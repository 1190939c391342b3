#include "formats/options_editor.h"

#include <algorithm>

#include "core/format_registry.h"

namespace pv::formats {

namespace {

const char* const kCmpTexts[] = {"Perfect Quality 1",
                                 "Perfect Quality 2",
                                 "Quality Far More Important Than Size",
                                 "Quality More Important Than Size",
                                 "Quality And Size Equally Important",
                                 "Size More Important Than Quality (Sharp)",
                                 "Size More Important Than Quality (Less Tiling)",
                                 "Maximum Compression Keeping Quality",
                                 "Maximum Compression"};

}  // namespace

OptionsEditor::OptionsEditor(Format& format) : f_(format) { load(); }


std::vector<std::string> OptionsEditor::methodNames() const {
  std::vector<std::string> out;
  for (int i = 0; i < f_.methodCount; ++i) out.push_back(f_.methodName(static_cast<std::uint32_t>(i)));
  return out;
}

std::vector<std::string> OptionsEditor::passTexts() const {
  const FormatRow& r = f_.row();
  std::vector<std::string> texts;
  for (int v = r.passesFirst; v <= r.passesLast; ++v) texts.push_back(std::to_string(v));
  if (!r.qualityRises && !texts.empty()) texts[0] += " (None)";
  return texts;
}

std::string OptionsEditor::passesLabel() const { return std::string(f_.row().passesLabel); }

std::string OptionsEditor::leftLabel() const { return isPng() ? "Lowest Compression" : "Highest Quality"; }

std::string OptionsEditor::rightLabel() const { return "Highest Compression"; }

bool OptionsEditor::sliderInverted() const { return f_.row().qualityRises; }

int OptionsEditor::sliderMax() const {
  if (!f_.hasQuality) return 0;
  if (isCmp()) return 8;
  if (isPng()) return 9;
  return 100;
}

int OptionsEditor::sliderTick() const { return sliderMax() == 100 ? 10 : 1; }

bool OptionsEditor::sliderCounts() const {
  if (isJpg()) return method != 0;
  if (isTif()) return method == 6 || method == 7 || method == 8 || method == 12;
  const auto methods = f_.row().methods;
  return method < 0 || static_cast<std::size_t>(method) >= methods.size() ||
         !methods[static_cast<std::size_t>(method)].lossless;
}

bool OptionsEditor::qualityEnabled() const { return f_.hasQuality && sliderCounts(); }

bool OptionsEditor::passesEnabled() const {
  if (!f_.hasPasses) return false;
  return !isJpg() || (method >= 1 && method <= 3);
}

bool OptionsEditor::sizeLimitShown() const { return f_.row().sizeTarget; }

bool OptionsEditor::sizeLimitEnabled() const { return sizeLimitShown() && sliderCounts(); }

std::string OptionsEditor::valueText(int pos) const {
  if (isCmp()) return pos >= 0 && pos <= 8 ? kCmpTexts[pos] : std::string();
  if (isPng()) return pos == 0 ? "0 (Default)" : std::to_string(pos);
  return std::to_string(pos);
}

void OptionsEditor::fillDepths() {
  f_.setAllowedDepths(static_cast<std::uint32_t>(method));
  depths_ = {"Use Source Image BPP"};
  for (std::size_t i = 0; i < f_.allowedDepths.size(); ++i)
    if (f_.allowedDepths[i]) depths_.push_back(std::to_string(f_.depthList[i]));
  depth = -1;
  if (f_.colorDepth == "org") {
    depth = 0;
  } else {
    const auto at = std::find(depths_.begin() + 1, depths_.end(), f_.colorDepth);
    if (at != depths_.end()) depth = static_cast<int>(at - depths_.begin());
  }
}

void OptionsEditor::load() {
  method = static_cast<int>(f_.method);
  maxFileSize = f_.maxFileSize;
  const FormatRow& r = f_.row();
  passes = std::clamp(static_cast<int>(std::min<std::uint32_t>(f_.passes, 1000)), r.passesFirst, r.passesLast) -
           r.passesFirst;
  fillDepths();
  position = 0;
  if (f_.hasQuality) {
    if (isCmp())
      position = ~f_.quality;
    else if (isPng() || r.qualityRises)
      position = std::clamp(f_.quality, 0, 100);
    else
      position = f_.qualityEnd > 0 ? f_.quality * 100 / f_.qualityEnd : 0;
  }
}

void OptionsEditor::selectMethod(int m) {
  method = std::clamp(m, 0, std::max(0, f_.methodCount - 1));
  if (isJpg() && !passesEnabled()) passes = 0;
  fillDepths();
}

void OptionsEditor::applyCommon(Format& t) const {
  t.colorDepth = depth <= 0 || depth >= static_cast<int>(depths_.size()) ? "org" : depths_[static_cast<std::size_t>(depth)];
  t.method = static_cast<std::uint32_t>(std::max(0, method));
  t.passes = static_cast<std::uint32_t>(f_.row().passesFirst + std::max(0, passes));
  if (sizeLimitShown()) t.maxFileSize = maxFileSize;
}

void OptionsEditor::applyTo(Format& target) const {
  applyCommon(target);
  if (f_.hasQuality) target.quality = qualityAt(position, true);
}

std::int32_t OptionsEditor::qualityAt(int pos, bool plusOne) const {
  if (isCmp()) return ~pos;
  if (isPng() || f_.row().qualityRises) return pos;
  if (isJpg() || isTif()) {
    if (!sliderCounts()) return 0;
    // Unsigned arithmetic, then raised to the start and lowered to the end.
    std::uint32_t q = static_cast<std::uint32_t>(pos) * static_cast<std::uint32_t>(f_.qualityEnd) / 100u + (plusOne ? 1u : 0u);
    q = std::max(q, static_cast<std::uint32_t>(f_.qualityStart));
    q = std::min(q, static_cast<std::uint32_t>(f_.qualityEnd));
    return static_cast<std::int32_t>(q);
  }
  return f_.quality;
}

void OptionsEditor::confirm() {
  applyTo(f_);
  f_.saveOptions();
}

void OptionsEditor::storeShellDefault() {
  applyCommon(f_);
  // A format without quality stores the slider's position (0).
  f_.quality = f_.hasQuality ? qualityAt(position, false) : position;
  f_.saveShellOptions();
}

void OptionsEditor::reset() {
  f_.resetOptions();
  f_.saveOptions();
  load();
}

std::string OptionsEditor::shellDefaultQuestion() const {
  return "When saving to the " + f_.key +
         " image format in the future through\nshell context, the current options chosen here will be "
         "used.\n\nAre you sure you want todo this?";
}

std::string OptionsEditor::resetQuestion() const {
  return "Are you sure you want to reset the format options for " + f_.key + " to the default one?";
}

}  // namespace pv::formats
