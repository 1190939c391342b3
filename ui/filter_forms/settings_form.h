#pragma once
// A filter's settings form, built from its descriptor (labels, ranges, units,
// choice texts, the kind of control): the image as the filter receives it,
// beside it the filter's result with the values being edited (made off the
// window's thread on a reduced copy, newest first), OK, Cancel and Defaults.
// FilterForms puts the forms behind the filters' editor port, and the
// program's resize, crop and dpi dialogs behind theirs.

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "app/ports.h"
#include "engine/image.h"
#include "filters/filter.h"
#include "ui/jobs/latest_worker.h"

namespace pv::engine {
class CLead;
}

namespace pv::ui {

class PreviewPane;

class SettingsForm final : public QDialog {
  Q_OBJECT
 public:
  SettingsForm(const filters::FilterKind& kind, const std::vector<std::int32_t>& values,
               std::shared_ptr<const engine::Image> source, QWidget* parent = nullptr);

  std::vector<std::int32_t> values() const;
  // Puts a value into its control (as a person would).
  void setValue(std::size_t i, std::int32_t value);
  void resetToDefaults();
  // Each control, in the descriptor's order (QSpinBox, QComboBox, QCheckBox,
  // QDoubleSpinBox or the colour's QPushButton).
  QWidget* control(std::size_t i) const { return controls_.at(i).widget; }
  const QImage& resultPicture() const;
  bool previewBusy() const { return worker_.busy(); }

 signals:
  void resultShown();

 private:
  struct Control {
    QWidget* widget;
    std::function<std::int32_t()> get;
    std::function<void(std::int32_t)> set;
  };
  void refresh();
  const filters::FilterKind& kind_;
  std::shared_ptr<const engine::Image> source_;
  std::vector<Control> controls_;
  PreviewPane *before_, *after_;
  LatestWorker worker_;
};

class FilterForms final : public filters::FilterEditor, public filters::FilterDialogs {
 public:
  // `lead` holds the image the chain's settings editor has prepared when a
  // dialog of resize, crop or dpi opens.
  FilterForms(engine::CLead& lead, QWidget* parent) : lead_(lead), parent_(parent) {}
  std::optional<std::vector<std::int32_t>> edit(const filters::FilterKind& kind,
                                                const std::vector<std::int32_t>& values,
                                                int sourceImage) override;
  bool editResize(filters::ResizeValues& values) override;
  bool editCrop(filters::CropValues& values) override;
  bool editDpi(filters::DpiValues& values) override;
  // Called with each form, or resize, crop or dpi dialog, before it runs
  // (tests answer it from here).
  std::function<void(SettingsForm&)> onForm;
  std::function<void(QDialog&)> onOwnDialog;

 private:
  std::optional<std::vector<std::int32_t>> run(const filters::FilterKind& kind, std::vector<std::int32_t> values,
                                               std::shared_ptr<const engine::Image> source);
  template <typename Dialog, typename Values>
  bool runOwn(Dialog& dialog, Values& values);
  engine::CLead& lead_;
  QWidget* parent_;
};

}  // namespace pv::ui
