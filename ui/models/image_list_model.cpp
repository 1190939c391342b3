#include "ui/models/image_list_model.h"

#include <sys/stat.h>

#include <QPainter>

#include "app/image_list.h"
#include "ui/ports/qt_ports.h"

namespace pv::ui {

namespace {

constexpr int kRowHeight = 60, kPlainRowHeight = 14, kLineStep = 14;
const QColor kOddRow(245, 245, 245), kSelectedRow(255, 197, 88);

// Drops the last character, never half of a surrogate pair.
void dropLast(QString& text) {
  text.chop(text.size() >= 2 && text.at(text.size() - 1).isLowSurrogate() ? 2 : 1);
}

}  // namespace

void paintRowBackground(QPainter* painter, const QStyleOptionViewItem& option, int row) {
  if (option.state & QStyle::State_Selected)
    painter->fillRect(option.rect, kSelectedRow);
  else if (row % 2 == 1)
    painter->fillRect(option.rect, kOddRow);
}

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
  painter->setPen(Qt::black);
  const QFontMetrics metrics(option.font);
  const QString base = QString::fromStdString(e.fileName.substr(0, e.fileName.rfind('.')));
  const QString ext = QString::fromStdString(e.extension);
  if (!showThumbnails_) {
    painter->drawText(r.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      fittedFileName(base, ext, r.width() - 4, metrics));
    painter->restore();
    return;
  }
  const QRect box(r.left() + 5, r.top() + 2, app::kThumbnailWidth, app::kThumbnailHeight);
  if (e.thumbnail) {
    // Drawn straight from the entry's pixels: rows are painted often.
    const QImage thumb = viewOf(*e.thumbnail);
    const QImage fitted = thumb.width() > box.width() || thumb.height() > box.height()
                              ? thumb.scaled(box.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)
                              : thumb;
    painter->drawImage(box.left() + (box.width() - fitted.width()) / 2,
                       box.top() + (box.height() - fitted.height()) / 2, fitted);
  }
  const int x = box.right() + 10;
  int y = r.top() + 1;
  const auto line = [&](const QString& text) {
    painter->drawText(QRect(x, y, r.right() - x, kLineStep), Qt::AlignLeft | Qt::AlignVCenter, text);
    y += kLineStep;
  };
  line(fittedFileName(base, ext, r.width() - 120, metrics));
  line(QString("%1x%2 %3bit").arg(e.width).arg(e.height).arg(e.sourceBits));
  line(QString("%1 KB").arg(model->data(index, ImageListModel::kFileSizeRole).toLongLong() / 1000));
  line(fittedFolder(QString::fromStdString(e.folder), r.width() - 105, metrics));
  painter->restore();
}

QSize ImageRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return {option.rect.width(), showThumbnails_ ? kRowHeight : std::max(kPlainRowHeight, option.fontMetrics.height())};
}

}  // namespace pv::ui
