#include "ui/filter_forms/settings_form.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <climits>

#include "app/preview.h"
#include "engine/handles.h"
#include "engine/lead.h"
#include "ui/filter_forms/geometry_dialogs.h"
#include "ui/main/preview_pane.h"
#include "ui/ports/qt_ports.h"

namespace pv::ui {

namespace {

constexpr app::PaneSize kRoom{320, 240};

int clampToInt(std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX)); }

// The filter tables' texts, in the user's language where translated.
QString text(std::string_view s) { return tableText("Filters", s); }

}  // namespace

SettingsForm::SettingsForm(const filters::FilterKind& kind, const std::vector<std::int32_t>& values,
                           std::shared_ptr<const engine::Image> source, QWidget* parent)
    : QDialog(parent), kind_(kind), source_(std::move(source)) {
  setWindowTitle(tr("%1 Options").arg(text(kind.name)));
  auto* form = new QFormLayout;
  for (std::size_t i = 0; i < kind.params.size(); ++i) {
    const filters::Param& p = kind.params[i];
    const bool isSigned = p.style == filters::Param::kSigned;
    // Unsigned parameters above INT_MAX read back as negative int32 values.
    const auto asInt64 = [isSigned](std::int32_t v) {
      return isSigned ? static_cast<std::int64_t>(v) : static_cast<std::int64_t>(static_cast<std::uint32_t>(v));
    };
    QString label = text(p.label);
    if (!p.unit.empty()) label += " (" + text(p.unit) + ")";
    Control c{};
    switch (p.control) {
      case filters::Param::kChoice: {
        auto* box = new QComboBox;
        for (std::string_view t : p.choiceTexts()) box->addItem(text(t));
        c = {box, [box, &p] { return static_cast<std::int32_t>(p.low + box->currentIndex()); },
             [box, &p, asInt64](std::int32_t v) { box->setCurrentIndex(clampToInt(asInt64(v) - p.low)); }};
        connect(box, &QComboBox::currentIndexChanged, this, &SettingsForm::refresh);
        break;
      }
      case filters::Param::kCheck: {
        auto* box = new QCheckBox;
        c = {box, [box] { return box->isChecked() ? 1 : 0; }, [box](std::int32_t v) { box->setChecked(v != 0); }};
        connect(box, &QCheckBox::toggled, this, &SettingsForm::refresh);
        break;
      }
      case filters::Param::kAngle: {
        auto* spin = new QDoubleSpinBox;
        spin->setDecimals(2);
        spin->setRange(static_cast<double>(p.low) / 100, static_cast<double>(p.high) / 100);
        spin->setSuffix(QString::fromUtf8("°"));
        c = {spin, [spin] { return static_cast<std::int32_t>(std::lround(spin->value() * 100)); },
             [spin](std::int32_t v) { spin->setValue(v / 100.0); }};
        connect(spin, &QDoubleSpinBox::valueChanged, this, &SettingsForm::refresh);
        break;
      }
      case filters::Param::kColour: {
        auto* button = new QPushButton;
        auto colour = std::make_shared<std::int32_t>(0);
        const auto show = [button, colour] {
          const auto v = static_cast<std::uint32_t>(*colour);
          const QColor q(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
          button->setText(q.name());
          button->setStyleSheet(QString("background:%1;color:%2").arg(q.name(), q.lightness() > 127 ? "black" : "white"));
        };
        connect(button, &QPushButton::clicked, this, [this, colour, show] {
          const auto v = static_cast<std::uint32_t>(*colour);
          const QColor picked = QColorDialog::getColor(QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF), this);
          if (!picked.isValid()) return;
          *colour = static_cast<std::int32_t>(picked.red() | picked.green() << 8 | picked.blue() << 16);
          show();
          refresh();
        });
        c = {button, [colour] { return *colour; }, [colour, show](std::int32_t v) {
               *colour = v;
               show();
             }};
        break;
      }
      case filters::Param::kSlider:
      case filters::Param::kSpin: {
        auto* spin = new QSpinBox;
        spin->setRange(clampToInt(p.low), clampToInt(p.high));
        spin->setAccelerated(true);
        c = {spin, [spin] { return static_cast<std::int32_t>(spin->value()); },
             [spin, asInt64](std::int32_t v) { spin->setValue(clampToInt(asInt64(v))); }};
        connect(spin, &QSpinBox::valueChanged, this, &SettingsForm::refresh);
        if (p.control == filters::Param::kSlider) {
          // A slider beside the number, moving it (and the result) as it is dragged.
          auto* slider = new QSlider(Qt::Horizontal);
          slider->setRange(spin->minimum(), spin->maximum());
          slider->setMinimumWidth(180);
          connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
          connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
          auto* row = new QWidget;
          auto* h = new QHBoxLayout(row);
          h->setContentsMargins(0, 0, 0, 0);
          h->addWidget(slider, 1);
          h->addWidget(spin);
          form->addRow(label, row);
          controls_.push_back(c);
          continue;
        }
        break;
      }
    }
    form->addRow(label, c.widget);
    controls_.push_back(c);
  }

  before_ = new PreviewPane;
  after_ = new PreviewPane;
  for (PreviewPane* pane : {before_, after_}) pane->setMinimumSize(kRoom.width + 4, kRoom.height + 4);
  if (source_) before_->setPicture(toQImage(*app::fittedCopy(*source_, before_->inPixels(kRoom))));
  auto* panes = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(tr("Before")));
  left->addWidget(before_);
  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel(tr("After")));
  right->addWidget(after_);
  panes->addLayout(left);
  panes->addLayout(right);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                       QDialogButtonBox::RestoreDefaults);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this,
          &SettingsForm::resetToDefaults);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(panes);
  layout->addLayout(form);
  layout->addWidget(buttons);

  connect(&worker_, &LatestWorker::ready, this, [this](const QVariantList& pictures) {
    after_->setPicture(pictures.value(0).value<QImage>());
    emit resultShown();
  });
  for (std::size_t i = 0; i < controls_.size() && i < values.size(); ++i) controls_[i].set(values[i]);
  refresh();
}

std::vector<std::int32_t> SettingsForm::values() const {
  std::vector<std::int32_t> out;
  for (const Control& c : controls_) out.push_back(c.get());
  return out;
}

void SettingsForm::setValue(std::size_t i, std::int32_t value) { controls_.at(i).set(value); }

void SettingsForm::resetToDefaults() {
  for (std::size_t i = 0; i < controls_.size(); ++i) controls_[i].set(kind_.params[i].initial);
  refresh();
}

const QImage& SettingsForm::resultPicture() const { return after_->picture(); }

void SettingsForm::refresh() {
  if (!source_) return;
  worker_.request([kind = kind_.index(), values = values(), source = source_, room = after_->inPixels(kRoom)] {
    const auto result = app::filterPreview(kind, values, *source, room);
    return QVariantList{result ? toQImage(*result) : QImage()};
  });
}

std::optional<std::vector<std::int32_t>> FilterForms::run(const filters::FilterKind& kind,
                                                          std::vector<std::int32_t> values,
                                                          std::shared_ptr<const engine::Image> source) {
  SettingsForm form(kind, values, std::move(source), parent_);
  if (onForm) QTimer::singleShot(0, &form, [this, &form] { onForm(form); });
  if (form.exec() != QDialog::Accepted) return std::nullopt;
  return form.values();
}

std::optional<std::vector<std::int32_t>> FilterForms::edit(const filters::FilterKind& kind,
                                                           const std::vector<std::int32_t>& values,
                                                           int sourceImage) {
  return run(kind, values, engine::handles::find(sourceImage));
}

template <typename Dialog, typename Values>
bool FilterForms::runOwn(Dialog& dialog, Values& values) {
  if (onOwnDialog) QTimer::singleShot(0, &dialog, [this, &dialog] { onOwnDialog(dialog); });
  if (dialog.exec() != QDialog::Accepted) return false;
  values = dialog.values();
  return true;
}

bool FilterForms::editResize(filters::ResizeValues& v) {
  ResizeDialog dialog(v, parent_);
  return runOwn(dialog, v);
}
bool FilterForms::editCrop(filters::CropValues& v) {
  CropDialog dialog(v, engine::handles::find(lead_.GetImageHandle()), parent_);
  return runOwn(dialog, v);
}
bool FilterForms::editDpi(filters::DpiValues& v) {
  DpiDialog dialog(v, parent_);
  return runOwn(dialog, v);
}

}  // namespace pv::ui
