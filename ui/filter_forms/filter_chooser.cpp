#include "ui/filter_forms/filter_chooser.h"

#include <QDialogButtonBox>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "app/image_list.h"
#include "app/preview.h"
#include "filters/filter.h"
#include "ui/models/image_list_model.h"
#include "ui/main/preview_pane.h"
#include "ui/ports/qt_ports.h"
#include "ui/dialogs/dialog_parts.h"

namespace pv::ui {

namespace {

constexpr int kRowHeight = 60;

QList<QImage>& iconCache() {
  static QList<QImage> icons;
  return icons;
}

// The filter table's texts, in the user's language where translated.
QString qs(std::string_view s) { return tableText("Filters", s); }

class FilterRowDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const filters::FilterKind* kind = filters::filterKind(index.row());
    if (!kind) return;
    painter->save();
    paintRowBackground(painter, option, index.row());
    const QRect r = option.rect;
    const QRect box(r.left() + 5, r.top() + (r.height() - app::kThumbnailHeight) / 2, app::kThumbnailWidth,
                    app::kThumbnailHeight);
    const QList<QImage>& icons = iconCache();
    if (index.row() < icons.size()) drawPictureInBox(painter, icons[index.row()], box);
    const int x = r.left() + app::kThumbnailWidth + 10;
    QFont bold = option.font;
    bold.setBold(true);
    const int title = QFontMetrics(bold).height(), step = lineStep(QFontMetrics(option.font));
    painter->setFont(bold);
    painter->drawText(QRect(x, r.top() + 2, r.right() - x, title), Qt::AlignLeft | Qt::AlignVCenter, qs(kind->name));
    painter->setFont(option.font);
    const QStringList lines = qs(kind->description).split('\n');
    for (int i = 0; i < lines.size() && i < 2; ++i)
      painter->drawText(QRect(x, r.top() + 2 + title + step / 2 + step * i, r.right() - x, step),
                        Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
    painter->restore();
  }
  // The picture's height, or the name and two lines of text when the font
  // needs more.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    QFont bold = option.font;
    bold.setBold(true);
    const int step = lineStep(QFontMetrics(option.font));
    return {option.rect.width(), std::max(kRowHeight, QFontMetrics(bold).height() + step / 2 + 2 * step + 4)};
  }
};

}  // namespace

QImage filterSamplePicture() {
  // Drawn at twice the pictures' size, so every filter has detail to work on.
  QImage img(app::kThumbnailWidth * 2, app::kThumbnailHeight * 2, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, img.height());
  sky.setColorAt(0, QColor(70, 140, 215));
  sky.setColorAt(0.6, QColor(225, 190, 170));
  p.fillRect(img.rect(), sky);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 215, 90));
  p.drawEllipse(QPointF(112, 26), 13, 13);
  p.setBrush(QColor(70, 130, 50));
  p.drawEllipse(QRectF(-40, 68, 140, 90));
  p.setBrush(QColor(45, 100, 45));
  p.drawEllipse(QRectF(60, 78, 130, 80));
  p.setBrush(QColor(120, 70, 40));
  p.drawRect(QRectF(34, 50, 6, 30));
  p.setBrush(QColor(30, 120, 60));
  p.drawEllipse(QPointF(37, 46), 15, 15);
  p.setBrush(QColor(210, 40, 40));
  p.drawRect(QRectF(92, 74, 22, 16));
  return img;
}

const QList<QImage>& AddFilterDialog::icons() { return iconCache(); }

AddFilterDialog::AddFilterDialog(app::Prompter& prompter, const std::string& caption, QWidget* parent)
    : QDialog(parent), prompter_(prompter), caption_(caption) {
  setWindowTitle(tr("Add Filter"));
  list_ = new HeadedList(tr("Filter"));
  list_->setItemDelegate(new FilterRowDelegate(list_));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  for (const filters::FilterKind& kind : filters::filterKinds()) {
    list_->addItem(qs(kind.name))->setToolTip(0, qs(kind.description).replace('\n', ' '));
  }
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &AddFilterDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addWidget(okCancelButtons(this));
  resize(420, 560);

  if (iconCache().size() != filters::filterCount()) {
    connect(&worker_, &LatestWorker::ready, this, [this](const QVariantList& icons) {
      iconCache().clear();
      for (const QVariant& icon : icons) iconCache() << icon.value<QImage>();
      list_->viewport()->update();
      emit iconsShown();
    });
    worker_.request([sample = filterSamplePicture()] {
      const engine::Image source = fromQImage(sample);
      const app::PaneSize room{sample.width(), sample.height()};
      const auto plain = app::fittedCopy(source, room);
      const QImage unchanged = plain ? toQImage(*plain) : QImage();
      QVariantList icons;
      for (const filters::FilterKind& kind : filters::filterKinds()) {
        std::vector<std::int32_t> values;
        for (const filters::Param& p : kind.params) values.push_back(p.initial);
        auto picture = app::filterPreview(kind.index(), values, source, room);
        QImage icon = picture ? toQImage(*picture) : QImage();
        if (icon == unchanged) {
          // Defaults that change nothing (brightness 0, ...) would show the
          // sample itself: the picture shows the numbers three quarters up
          // their ranges instead.
          for (std::size_t i = 0; i < kind.params.size(); ++i) {
            const filters::Param& p = kind.params[i];
            if (p.control == filters::Param::kSlider || p.control == filters::Param::kAngle)
              values[i] = static_cast<std::int32_t>(p.low + (p.high - p.low) * 3 / 4);
          }
          picture = app::filterPreview(kind.index(), values, source, room);
          if (picture) icon = toQImage(*picture);
        }
        icons << icon;
      }
      return icons;
    });
  }
}

void AddFilterDialog::accept() {
  if (list_->currentRow() < 0 || list_->selectedItems().isEmpty()) {
    prompter_.error(caption_, kSelectFilterText);
    return;
  }
  chosen_ = list_->currentRow();
  QDialog::accept();
}

}  // namespace pv::ui
