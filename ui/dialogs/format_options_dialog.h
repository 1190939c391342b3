#pragma once
// "<KEY> Format Options": the view over formats::OptionsEditor for the
// current output format.

#include <QDialog>

#include "app/ports.h"
#include "formats/options_editor.h"

class QComboBox;
class QLabel;
class QSlider;

namespace pv::ui {

class FormatOptionsDialog final : public QDialog {
  Q_OBJECT
 public:
  FormatOptionsDialog(formats::Format& format, app::Prompter& prompter, const std::string& caption,
                      QWidget* parent = nullptr);
  void accept() override;
  void storeShellDefault();  // "Set as Default"
  void resetDefaults();      // "Reset Default"

  QComboBox* depthBox() const { return depth_; }
  QComboBox* passesBox() const { return passes_; }
  QComboBox* methodBox() const { return method_; }
  QSlider* slider() const { return slider_; }
  QLabel* valueLabel() const { return value_; }

 private:
  void showState();
  void fillDepths();
  formats::OptionsEditor editor_;
  app::Prompter& prompter_;
  std::string caption_;
  QComboBox *depth_, *passes_, *method_;
  QSlider* slider_;
  QLabel *value_, *left_, *right_;
  bool filling_ = false;
};

}  // namespace pv::ui
