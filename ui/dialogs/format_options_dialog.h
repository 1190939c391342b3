#pragma once
// "<KEY> Format Options": the view over formats::OptionsEditor for the
// current output format.

#include <QDialog>

#include "app/ports.h"
#include "formats/options_editor.h"
#include "ui/jobs/latest_worker.h"

class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;

namespace pv::ui {

class FormatOptionsDialog final : public QDialog {
  Q_OBJECT
 public:
  // `sample`: an image to show the choice on (its size written so, and a
  // crop before and after); empty for none.
  FormatOptionsDialog(formats::Format& format, app::Prompter& prompter, const std::string& caption,
                      const std::string& sample = {}, QWidget* parent = nullptr);
  void accept() override;
  void storeShellDefault();  // "Set as Default"
  void resetDefaults();      // "Reset Default"

  QComboBox* depthBox() const { return depth_; }
  QComboBox* passesBox() const { return passes_; }
  QComboBox* methodBox() const { return method_; }
  QSlider* slider() const { return slider_; }
  QLabel* valueLabel() const { return value_; }
  QLabel* sizeLabel() const { return size_; }
  QSpinBox* maxSizeBox() const { return maxSize_; }
  bool sampleBusy() const { return worker_.busy(); }

 signals:
  void sampleShown();

 private:
  void showState();
  void fillDepths();
  void refreshSample();
  formats::OptionsEditor editor_;
  app::Prompter& prompter_;
  std::string caption_;
  QComboBox *depth_, *passes_, *method_;
  QSlider* slider_;
  QSpinBox* maxSize_;
  QLabel *value_, *left_, *right_, *size_ = nullptr;
  class PreviewPane *before_ = nullptr, *after_ = nullptr;
  std::string sample_;
  LatestWorker worker_;
  bool filling_ = false;
};

}  // namespace pv::ui
