#include "ui/models/image_list_model.h"

#include <sys/stat.h>

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "app/image_list.h"
#include "app/progress.h"
#include "ui/main/preview_pane.h"
#include "ui/ports/qt_ports.h"

namespace pv::ui {

namespace {

// A row with a thumbnail: the picture's height, or four lines of text when
// the font needs more.
constexpr int kRowHeight = 60, kPlainRowHeight = 14, kLineStep = 14;

// Drops the last character, never half of a surrogate pair.
void dropLast(QString& text) {
  text.chop(text.size() >= 2 && text.at(text.size() - 1).isLowSurrogate() ? 2 : 1);
}

}  // namespace

namespace {

// WCAG's relative luminance and contrast ratio (1 to 21).
double luminance(const QColor& c) {
  const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double contrast(const QColor& a, const QColor& b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

void paintRowBackground(QPainter* painter, const QStyleOptionViewItem& option, int row) {
  // Colours from the palette, so that rows read under light and dark themes
  // alike: the desktop's highlight for the selection, its two row colours
  // for the rest, and the text colour that goes with each. Where a theme
  // pairs colours that read poorly (Qt's own light highlight with white
  // text), black or white, whichever reads better, takes the text.
  const QPalette& palette = option.palette;
  const bool selected = option.state & QStyle::State_Selected;
  const QColor background = palette.color(selected          ? QPalette::Highlight
                                          : row % 2 == 1 ? QPalette::AlternateBase
                                                         : QPalette::Base);
  QColor text = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
  if (contrast(text, background) < 4.5)
    text = contrast(Qt::black, background) >= contrast(Qt::white, background) ? QColor(Qt::black) : QColor(Qt::white);
  painter->fillRect(option.rect, background);
  painter->setPen(text);
}

int lineStep(const QFontMetrics& metrics) { return std::max(kLineStep, metrics.height()); }

QString fittedFileName(const QString& base, const QString& extension, int width, const QFontMetrics& metrics) {
  const QString tail = extension.isEmpty() ? QString() : "." + extension;
  QString kept = base;
  bool cut = false;
  while (!kept.isEmpty() && metrics.horizontalAdvance(kept + (cut ? ".." : "") + tail) > width) {
    dropLast(kept);
    cut = true;
  }
  return kept + (cut ? ".." : "") + tail;
}

QString fittedFolder(const QString& folder, int width, const QFontMetrics& metrics) {
  if (metrics.horizontalAdvance(folder) <= width) return folder;
  QString kept = folder;
  const auto shown = [&] { return kept + "..." + (kept.endsWith('/') ? "" : "/"); };
  while (!kept.isEmpty() && metrics.horizontalAdvance(shown()) > width) dropLast(kept);
  return shown();
}

ImageListModel::ImageListModel(const app::ImageList& list, QObject* parent)
    : QAbstractListModel(parent), list_(list) {
  refresh();
}

namespace {
qint64 fileSize(const app::ImageEntry& e) {
  struct stat st {};
  return ::stat(e.path().c_str(), &st) == 0 ? st.st_size : 0;
}
}  // namespace

void ImageListModel::refresh() {
  beginResetModel();
  incoming_.clear();
  sizes_.resize(list_.size());
  for (std::size_t i = 0; i < list_.size(); ++i) sizes_[i] = fileSize(list_[i]);
  endResetModel();
}

void ImageListModel::append(const app::ImageEntry& entry) {
  const int row = rowCount();
  beginInsertRows({}, row, row);
  incoming_.push_back(entry);
  sizes_.push_back(fileSize(entry));
  endInsertRows();
}

int ImageListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(list_.size() + incoming_.size());
}

QVariant ImageListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const app::ImageEntry& e = entry(index.row());
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(e.fileName);
    case Qt::ToolTipRole:
      return QString::fromStdString(e.path());
    case kFileSizeRole:
      return sizes_[static_cast<std::size_t>(index.row())];
    default:
      return {};
  }
}

QVariant ImageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole) return tr("Images Added");
  return {};
}

Qt::ItemFlags ImageListModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::ItemIsDropEnabled;
}

QStringList ImageListModel::mimeTypes() const { return {"text/uri-list"}; }

void ImageRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const auto* model = static_cast<const ImageListModel*>(index.model());
  const app::ImageEntry& e = model->entry(index.row());
  const QRect r = option.rect;
  painter->save();
  paintRowBackground(painter, option, index.row());
  const QFontMetrics metrics(option.font);
  const int step = lineStep(metrics);
  const QString base = QString::fromStdString(e.fileName.substr(0, e.fileName.rfind('.')));
  const QString ext = QString::fromStdString(e.extension);
  if (!showThumbnails_) {
    painter->drawText(r.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      fittedFileName(base, ext, r.width() - 4, metrics));
    painter->restore();
    return;
  }
  const QRect box(r.left() + 5, r.top() + (r.height() - app::kThumbnailHeight) / 2, app::kThumbnailWidth,
                  app::kThumbnailHeight);
  // Drawn straight from the entry's pixels: rows are painted often.
  if (e.thumbnail) drawPictureInBox(painter, viewOf(*e.thumbnail), box);
  const int x = box.right() + 10;
  int y = r.top() + 1;
  const auto line = [&](const QString& text) {
    painter->drawText(QRect(x, y, r.right() - x, step), Qt::AlignLeft | Qt::AlignVCenter, text);
    y += step;
  };
  line(fittedFileName(base, ext, r.width() - 120, metrics));
  line(QString("%1x%2 %3bit").arg(e.width).arg(e.height).arg(e.sourceBits));
  line(QString::fromStdString(app::sizeText(model->data(index, ImageListModel::kFileSizeRole).toLongLong())));
  line(fittedFolder(QString::fromStdString(e.folder), r.width() - 105, metrics));
  painter->restore();
}

QSize ImageRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  // Rows follow the font: a larger one gets taller rows, never cut lines.
  const int step = lineStep(option.fontMetrics);
  return {option.rect.width(),
          showThumbnails_ ? std::max(kRowHeight, 4 * step + 2) : std::max(kPlainRowHeight, step)};
}

}  // namespace pv::ui
