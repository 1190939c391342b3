#pragma once
// What the format options dialog shows and stores, without a toolkit: the
// method, depth and passes lists, the quality slider's range, position and
// value text per format, and the three ways to store (confirm into the
// format's section, the shell default into its "Shell" section, reset to the
// defaults). The dialog is a view over this; everything it applies goes
// straight into the format object it edits.

#include <string>
#include <vector>

#include "formats/format.h"

namespace pv::formats {

class OptionsEditor {
 public:
  explicit OptionsEditor(Format& format);

  std::vector<std::string> methodNames() const;
  bool methodsEnabled() const { return f_.methodCount > 1; }
  // The passes list: "0 (None)", "1" .. "10", or the effort or speed
  // values of today's codecs; `passes` below is a position in it.
  std::vector<std::string> passTexts() const;
  std::string passesLabel() const;
  // "Use Source Image BPP", then every depth the selected method allows.
  const std::vector<std::string>& depthTexts() const { return depths_; }
  // Every quality slider runs one way: the best pictures (largest files) on
  // the left, "Highest Quality" ("Lowest Compression" for PNG), and
  // "Highest Compression" on the right. Where a format's quality number rises
  // with quality (WebP, AVIF, HEIC, JPEG XL, ...) the slider is drawn
  // inverted; its number stays in the format's own terms.
  std::string leftLabel() const;
  std::string rightLabel() const;
  bool sliderInverted() const;

  // The view's state: the selections (-1: none) and the slider position.
  int method = 0;
  int depth = -1;
  int passes = 0;
  int position = 0;
  int sliderMin() const { return 0; }
  int sliderMax() const;
  int sliderTick() const;
  bool qualityEnabled() const;
  bool passesEnabled() const;
  // "At most ... KB": shown for formats with a size target, open to edits
  // while the method is lossy; `maxFileSize` is its value (0: no limit).
  bool sizeLimitShown() const;
  bool sizeLimitEnabled() const;
  std::uint32_t maxFileSize = 0;
  // The text beside the slider for a position.
  std::string valueText(int position) const;

  // A new method: the slider's and the passes' rules for it, the depth list
  // for it, and the format's depth selected again when the method allows it.
  void selectMethod(int method);
  // Applies the state and writes the format's section.
  void confirm();
  // What confirm would store, applied to another format object (for a
  // sample of the choice); nothing is written.
  void applyTo(Format& target) const;
  // Applies the state with the shell default's quality rule and writes the
  // "Shell" section; the dialog stays open.
  void storeShellDefault();
  // The format's defaults, written to its section, and the state read again.
  void reset();

  std::string shellDefaultQuestion() const;
  std::string resetQuestion() const;
  const Format& format() const { return f_; }

 private:
  void load();
  void fillDepths();
  void applyCommon(Format& target) const;
  // The quality a slider position stands for; `plusOne` for confirm.
  std::int32_t qualityAt(int position, bool plusOne) const;
  bool isJpg() const { return f_.key == "JPG"; }
  bool isTif() const { return f_.key == "TIF"; }
  bool isCmp() const { return f_.key == "CMP"; }
  bool isPng() const { return f_.key == "PNG"; }
  // JPG without lossless, TIF with a JPEG method: the slider counts.
  bool sliderCounts() const;

  Format& f_;
  std::vector<std::string> depths_;
};

}  // namespace pv::formats
