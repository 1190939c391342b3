#include "ui/dialogs/format_options_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QLocale>
#include <QVBoxLayout>

#include "app/preview.h"
#include "ui/main/preview_pane.h"
#include "ui/ports/qt_ports.h"
#include "ui/dialogs/dialog_parts.h"

namespace pv::ui {

namespace {

// The option editor's texts (method names, labels, passes, depths), in the
// user's language where translated.
QString qs(const std::string& s) { return tableText("FormatOptions", s); }

constexpr app::PaneSize kCrop{180, 120};

}  // namespace

FormatOptionsDialog::FormatOptionsDialog(formats::Format& format, app::Prompter& prompter,
                                         const std::string& caption, const std::string& sample, QWidget* parent)
    : QDialog(parent), editor_(format), prompter_(prompter), caption_(caption), sample_(sample) {
  setWindowTitle(tr("%1 Format Options").arg(QString::fromStdString(format.key)));
  depth_ = new QComboBox;
  passes_ = new QComboBox;
  for (const std::string& t : editor_.passTexts()) passes_->addItem(qs(t));
  method_ = new QComboBox;
  for (const std::string& name : editor_.methodNames()) method_->addItem(qs(name));
  method_->setEnabled(editor_.methodsEnabled());
  slider_ = new QSlider(Qt::Horizontal);
  slider_->setTickPosition(QSlider::TicksBelow);
  // One direction for every format: the best quality on the left.
  slider_->setInvertedAppearance(editor_.sliderInverted());
  slider_->setInvertedControls(editor_.sliderInverted());
  value_ = new QLabel;
  value_->setAlignment(Qt::AlignCenter);
  left_ = new QLabel(qs(editor_.leftLabel()));
  right_ = new QLabel(qs(editor_.rightLabel()));

  auto* quality = new QWidget;
  auto* q = new QGridLayout(quality);
  q->addWidget(value_, 0, 0, 1, 2);
  q->addWidget(slider_, 1, 0, 1, 2);
  q->addWidget(left_, 2, 0, Qt::AlignLeft);
  q->addWidget(right_, 2, 1, Qt::AlignRight);

  // "At most [n] KB": a largest file size, met by lowering the quality.
  maxSize_ = new QSpinBox;
  maxSize_->setRange(0, 2'000'000'000);
  maxSize_->setSpecialValueText(tr("no limit"));
  maxSize_->setGroupSeparatorShown(true);
  maxSize_->setSuffix(tr(" kB"));
  maxSize_->setToolTip(tr("The largest file, in kilobytes of 1000 bytes: the highest quality up to the one "
                          "chosen above whose file fits is written"));
  auto* size = new QWidget;
  auto* sizeRow = new QHBoxLayout(size);
  sizeRow->setContentsMargins(0, 0, 0, 0);
  sizeRow->addWidget(new QLabel(tr("At most")));
  sizeRow->addWidget(maxSize_, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QPushButton* shell = buttons->addButton(tr("Set as Default"), QDialogButtonBox::ActionRole);
  QPushButton* reset = buttons->addButton(tr("Reset Default"), QDialogButtonBox::ResetRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &FormatOptionsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(shell, &QPushButton::clicked, this, &FormatOptionsDialog::storeShellDefault);
  connect(reset, &QPushButton::clicked, this, &FormatOptionsDialog::resetDefaults);

  auto* top = new QHBoxLayout;
  top->addWidget(groupOf(tr("Bits Per Pixel (BPP):"), {depth_}));
  top->addWidget(groupOf(tr(editor_.passesLabel().c_str()), {passes_}));
  auto* body = new QWidget;
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(top);
  layout->addWidget(groupOf(tr("Compression Method:"), {method_}));
  layout->addWidget(groupOf(tr("Compression Quality:"), {quality}));
  if (editor_.sizeLimitShown()) layout->addWidget(groupOf(tr("File Size:"), {size}));
  if (!sample_.empty() && !format.isClipboard()) {
    // The selected image written with these options: its size, and a crop
    // from its middle before and after.
    size_ = new QLabel;
    before_ = new PreviewPane;
    after_ = new PreviewPane;
    for (PreviewPane* p : {before_, after_}) p->setFixedSize(kCrop.width + 4, kCrop.height + 4);
    auto* result = new QWidget;
    auto* r = new QGridLayout(result);
    r->addWidget(new QLabel(tr("Before")), 0, 0);
    r->addWidget(new QLabel(tr("After")), 0, 1);
    r->addWidget(before_, 1, 0);
    r->addWidget(after_, 1, 1);
    r->addWidget(size_, 2, 0, 1, 2);
    layout->addWidget(groupOf(tr("The selected image with these options:"), {result}));
    connect(&worker_, &LatestWorker::ready, this, [this](const QVariantList& results) {
      before_->setPicture(results.value(0).value<QImage>());
      after_->setPicture(results.value(1).value<QImage>());
      const qint64 bytes = results.value(2).toLongLong();
      QString text = bytes < 0 ? tr("It cannot be written with these options.")
                               : tr("Its size: %1").arg(QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat));
      if (bytes >= 0 && results.value(3).isValid())
        text += results.value(4).toBool() ? tr(", at quality %1 to stay within the limit").arg(results.value(3).toInt())
                                          : tr(", above the limit even at the lowest quality (%1)").arg(results.value(3).toInt());
      size_->setText(text);
      emit sampleShown();
    });
  }
  layOutWithinScreen(this, body, buttons);

  connect(method_, &QComboBox::currentIndexChanged, this, [this](int m) {
    if (filling_ || m < 0) return;
    editor_.selectMethod(m);
    showState();
  });
  connect(depth_, &QComboBox::currentIndexChanged, this, [this](int d) {
    if (filling_) return;
    editor_.depth = d;
    refreshSample();
  });
  connect(passes_, &QComboBox::currentIndexChanged, this, [this](int p) {
    if (filling_) return;
    editor_.passes = std::max(0, p);
    refreshSample();
  });
  connect(maxSize_, &QSpinBox::valueChanged, this, [this](int kb) {
    if (filling_) return;
    editor_.maxFileSize = static_cast<std::uint32_t>(std::max(0, kb));
    refreshSample();
  });
  connect(slider_, &QSlider::valueChanged, this, [this](int v) {
    value_->setText(qs(editor_.valueText(v)));
    if (filling_) return;
    editor_.position = v;
    refreshSample();
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
  maxSize_->setValue(static_cast<int>(std::min<std::uint32_t>(editor_.maxFileSize, 2'000'000'000)));
  maxSize_->setEnabled(editor_.sizeLimitEnabled());
  filling_ = false;
  refreshSample();
}

void FormatOptionsDialog::refreshSample() {
  if (!size_) return;
  // The choice as OK would store it, on a format object of the work's own.
  std::shared_ptr<formats::Format> choice = app::copyFormat(editor_.format());
  editor_.applyTo(*choice);
  worker_.request([choice, path = sample_] {
    const app::EncodedSample s = app::encodeSample(path, *choice, kCrop);
    return QVariantList{s.before ? toQImage(*s.before) : QImage(), s.after ? toQImage(*s.after) : QImage(),
                        static_cast<qint64>(s.bytes), s.size ? QVariant(s.size->quality) : QVariant(),
                        s.size && s.size->fits};
  });
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
