#include "ui/filter_forms/geometry_dialogs.h"

#include "filters/filter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/preview.h"
#include "ui/ports/qt_ports.h"
#include "ui/dialogs/dialog_parts.h"

namespace pv::ui {

namespace {

QLineEdit* numberField(std::uint32_t value, int digits) {
  auto* field = new QLineEdit(QString::number(value));
  field->setMaxLength(digits);
  field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), field));
  return field;
}

// The methods the resize dialog offers, and the value each stands for.
constexpr std::uint32_t kResizeMethods[] = {0, 2, 4};

}  // namespace

std::uint32_t numberIn(const QLineEdit* field) {
  bool ok = false;
  const qulonglong v = field->text().toULongLong(&ok);
  return ok ? static_cast<std::uint32_t>(std::min<qulonglong>(v, 0xFFFFFFFFull)) : 0;
}

ResizeDialog::ResizeDialog(const filters::ResizeValues& v, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Resize Options"));
  method = new QComboBox;
  method->addItems({tr("Normal"), tr("Resample"), tr("Bicubic")});
  method->setCurrentIndex(v.method == 2 ? 1 : v.method == 4 ? 2 : 0);
  width = numberField(v.width, 9);
  height = numberField(v.height, 9);
  unit = new QComboBox;
  unit->addItems({tr("Pixels"), tr("Percentage"), tr("Fit inside the box"), tr("Fill the box, cropping the rest"),
                  tr("Longest side"), tr("Shortest side")});
  unit->setCurrentIndex(static_cast<int>(std::min<std::uint32_t>(v.unit, 5)));
  keepAspect = new QCheckBox(tr("Keep Aspect Ratio"));
  keepAspect->setChecked(v.keepAspect);
  noEnlarge = new QCheckBox(tr("Do Not Enlarge Smaller Images"));
  noEnlarge->setChecked(v.noEnlarge);
  widthLabel = new QLabel;
  heightLabel = new QLabel;
  auto* form = new QFormLayout;
  form->addRow(tr("Resize Method:"), method);
  form->addRow(widthLabel, width);
  form->addRow(heightLabel, height);
  form->addRow(tr("Use:"), unit);
  form->addRow(keepAspect);
  form->addRow(noEnlarge);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(okCancelButtons(this));
  connect(keepAspect, &QCheckBox::clicked, this, &ResizeDialog::follow);
  connect(unit, &QComboBox::currentIndexChanged, this, &ResizeDialog::follow);
  follow();
}

void ResizeDialog::follow() {
  enum { kPixels, kPercent, kFit, kFill, kLongest, kShortest };
  const int use = unit->currentIndex();
  // Sizes in pixels mean nothing as percentages, and the other way round:
  // into a percentage the fields start at 100 % (the pixels are kept), and
  // out of it the kept pixels come back (the filter's first size when none
  // were shown).
  if (shownUse_ >= 0 && (use == kPercent) != (shownUse_ == kPercent)) {
    if (use == kPercent) {
      keptWidth_ = width->text();
      keptHeight_ = height->text();
      width->setText("100");
      height->setText("100");
    } else {
      const filters::FilterKind* resize = filters::filterKind(filters::filterIndexOfText("/filter resize"));
      width->setText(!keptWidth_.isNull() ? keptWidth_ : QString::number(resize->params[2].initial));
      height->setText(!keptHeight_.isNull() ? keptHeight_ : QString::number(resize->params[3].initial));
    }
  }
  shownUse_ = use;
  const bool maximum = use == kPixels && keepAspect->isChecked();
  const bool box = use == kFit || use == kFill;
  widthLabel->setText(use == kLongest    ? tr("Longest Side:")
                      : use == kShortest ? tr("Shortest Side:")
                      : use == kPercent  ? tr("Width (%):")
                      : box              ? tr("Box Width:")
                      : maximum          ? tr("Max Width:")
                                         : tr("Width:"));
  heightLabel->setText(use == kPercent ? tr("Height (%):")
                       : box           ? tr("Box Height:")
                       : maximum       ? tr("Max Height:")
                                       : tr("Height:"));
  // Only pixels may give up the aspect; a side alone needs no height. Never
  // enlarging holds a percentage above 100 at the source's size.
  keepAspect->setEnabled(use == kPixels);
  height->setEnabled(use != kLongest && use != kShortest);
}

filters::ResizeValues ResizeDialog::values() const {
  return {kResizeMethods[std::clamp(method->currentIndex(), 0, 2)],
          static_cast<std::uint32_t>(std::max(0, unit->currentIndex())),
          numberIn(width),
          numberIn(height),
          keepAspect->isChecked(),
          noEnlarge->isChecked()};
}

class CropPicture final : public QWidget {
 public:
  CropPicture(std::shared_ptr<const engine::Image> source, CropDialog* dialog) : dialog_(dialog) {
    if (source && !source->pixels.empty()) {
      full_ = QSize(source->width(), source->height());
      if (auto shown = app::fittedCopy(*source, {400, 300})) picture_ = toQImage(*shown);
    }
    setFixedSize(picture_.isNull() ? QSize(0, 0) : picture_.size());
    setCursor(Qt::CrossCursor);
  }
  // Picture pixels for a point on the widget, and back.
  QPoint toImage(QPointF p) const {
    const double s = scale();
    return {std::clamp(static_cast<int>(p.x() * s + 0.5), 0, full_.width()),
            std::clamp(static_cast<int>(p.y() * s + 0.5), 0, full_.height())};
  }
  double scale() const { return picture_.isNull() ? 1.0 : static_cast<double>(full_.width()) / picture_.width(); }
  QRect shownRect;  // the rectangle in picture pixels, drawn over it

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawImage(0, 0, picture_);
    if (shownRect.isEmpty()) return;
    const double s = scale();
    const QRectF r(shownRect.left() / s, shownRect.top() / s, shownRect.width() / s, shownRect.height() / s);
    // Darken what the crop removes, and outline what it keeps.
    QPainterPath outside;
    outside.addRect(rect());
    outside.addRect(r);
    p.fillPath(outside, QColor(0, 0, 0, 110));
    p.setPen(QPen(Qt::white, 1, Qt::DashLine));
    p.drawRect(r);
  }
  void mousePressEvent(QMouseEvent* e) override { from_ = toImage(e->position()); }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (e->buttons() & Qt::LeftButton) dialog_->drawRectangle(from_, toImage(e->position()));
  }

 private:
  CropDialog* dialog_;
  QImage picture_;
  QSize full_;
  QPoint from_;
};

CropDialog::CropDialog(const filters::CropValues& v, std::shared_ptr<const engine::Image> source, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tr("Crop Options"));
  top = numberField(v.top, 10);
  left = numberField(v.left, 10);
  width = numberField(v.width, 10);
  height = numberField(v.height, 10);
  picture_ = new CropPicture(std::move(source), this);
  auto* form = new QFormLayout;
  form->addRow(tr("Top"), top);
  form->addRow(tr("Left"), left);
  form->addRow(tr("Width"), width);
  form->addRow(tr("Height"), height);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(picture_, 0, Qt::AlignHCenter);
  layout->addLayout(form);
  layout->addWidget(okCancelButtons(this));
  const auto show = [this] {
    const filters::CropValues c = values();
    picture_->shownRect = QRect(static_cast<int>(c.left), static_cast<int>(c.top), static_cast<int>(c.width),
                                static_cast<int>(c.height));
    picture_->update();
  };
  for (QLineEdit* f : {top, left, width, height}) connect(f, &QLineEdit::textChanged, this, show);
  show();
}

void CropDialog::drawRectangle(QPoint from, QPoint to) {
  top->setText(QString::number(std::min(from.y(), to.y())));
  left->setText(QString::number(std::min(from.x(), to.x())));
  width->setText(QString::number(std::abs(to.x() - from.x())));
  height->setText(QString::number(std::abs(to.y() - from.y())));
}

filters::CropValues CropDialog::values() const {
  return {numberIn(top), numberIn(left), numberIn(width), numberIn(height)};
}

DpiDialog::DpiDialog(const filters::DpiValues& v, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("DPI Resolution Options"));
  horizontal = numberField(v.horizontal, 10);
  vertical = numberField(v.vertical, 10);
  identical = new QCheckBox(tr("Identical Values"));
  identical->setChecked(v.horizontal == v.vertical);
  auto* form = new QFormLayout;
  form->addRow(tr("Horizontal Resolution:"), horizontal);
  form->addRow(tr("Vertical Resolution:"), vertical);
  form->addRow(identical);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(okCancelButtons(this));
  // While the values are identical, a change in one box is copied into the other.
  const auto copy = [this](QLineEdit* from, QLineEdit* to) {
    if (identical->isChecked() && numberIn(from) != numberIn(to)) to->setText(from->text());
  };
  connect(horizontal, &QLineEdit::textChanged, this, [this, copy] { copy(horizontal, vertical); });
  connect(vertical, &QLineEdit::textChanged, this, [this, copy] { copy(vertical, horizontal); });
  connect(identical, &QCheckBox::clicked, this, [this, copy] { copy(horizontal, vertical); });
}

filters::DpiValues DpiDialog::values() const { return {numberIn(horizontal), numberIn(vertical)}; }

}  // namespace pv::ui
