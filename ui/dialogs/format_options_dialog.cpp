#include "ui/dialogs/format_options_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace pv::ui {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QGroupBox* group(const QString& title, QWidget* inside) {
  auto* box = new QGroupBox(title);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(inside);
  return box;
}

}  // namespace

FormatOptionsDialog::FormatOptionsDialog(formats::Format& format, app::Prompter& prompter,
                                         const std::string& caption, QWidget* parent)
    : QDialog(parent), editor_(format), prompter_(prompter), caption_(caption) {
  setWindowTitle(qs(editor_.title()));
  depth_ = new QComboBox;
  passes_ = new QComboBox;
  for (const std::string& t : formats::OptionsEditor::passTexts()) passes_->addItem(qs(t));
  method_ = new QComboBox;
  for (const std::string& name : editor_.methodNames()) method_->addItem(qs(name));
  method_->setEnabled(editor_.methodsEnabled());
  slider_ = new QSlider(Qt::Horizontal);
  slider_->setTickPosition(QSlider::TicksBelow);
  value_ = new QLabel;
  value_->setAlignment(Qt::AlignCenter);
  left_ = new QLabel(qs(editor_.leftLabel()));
  right_ = new QLabel(qs(formats::OptionsEditor::rightLabel()));

  auto* quality = new QWidget;
  auto* q = new QGridLayout(quality);
  q->addWidget(value_, 0, 0, 1, 2);
  q->addWidget(slider_, 1, 0, 1, 2);
  q->addWidget(left_, 2, 0, Qt::AlignLeft);
  q->addWidget(right_, 2, 1, Qt::AlignRight);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QPushButton* shell = buttons->addButton(tr("Set as Default"), QDialogButtonBox::ActionRole);
  QPushButton* reset = buttons->addButton(tr("Reset Default"), QDialogButtonBox::ResetRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &FormatOptionsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(shell, &QPushButton::clicked, this, &FormatOptionsDialog::storeShellDefault);
  connect(reset, &QPushButton::clicked, this, &FormatOptionsDialog::resetDefaults);

  auto* top = new QHBoxLayout;
  top->addWidget(group(tr("Bits Per Pixel (BPP):"), depth_));
  top->addWidget(group(tr("Progressive:"), passes_));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(group(tr("Compression Method:"), method_));
  layout->addWidget(group(tr("Compression Quality:"), quality));
  layout->addWidget(buttons);

  connect(method_, &QComboBox::currentIndexChanged, this, [this](int m) {
    if (filling_ || m < 0) return;
    editor_.selectMethod(m);
    showState();
  });
  connect(depth_, &QComboBox::currentIndexChanged, this, [this](int d) {
    if (!filling_) editor_.depth = d;
  });
  connect(passes_, &QComboBox::currentIndexChanged, this, [this](int p) {
    if (!filling_) editor_.passes = std::max(0, p);
  });
  connect(slider_, &QSlider::valueChanged, this, [this](int v) {
    if (!filling_) editor_.position = v;
    value_->setText(qs(editor_.valueText(v)));
  });
  showState();
}

void FormatOptionsDialog::showState() {
  filling_ = true;
  if (editor_.method < method_->count()) method_->setCurrentIndex(editor_.method);
  passes_->setCurrentIndex(editor_.passes);
  passes_->setEnabled(editor_.passesEnabled());
  depth_->clear();
  for (const std::string& t : editor_.depthTexts()) depth_->addItem(qs(t));
  depth_->setCurrentIndex(editor_.depth);
  slider_->setRange(editor_.sliderMin(), editor_.sliderMax());
  slider_->setTickInterval(editor_.sliderTick());
  slider_->setValue(editor_.position);
  slider_->setEnabled(editor_.qualityEnabled());
  value_->setText(qs(editor_.valueText(slider_->value())));
  filling_ = false;
}

void FormatOptionsDialog::accept() {
  editor_.confirm();
  QDialog::accept();
}

void FormatOptionsDialog::storeShellDefault() {
  if (!prompter_.askYesNo(caption_, editor_.shellDefaultQuestion())) return;
  editor_.storeShellDefault();
}

void FormatOptionsDialog::resetDefaults() {
  if (!prompter_.askYesNo(caption_, editor_.resetQuestion())) return;
  editor_.reset();
  showState();
}

}  // namespace pv::ui
