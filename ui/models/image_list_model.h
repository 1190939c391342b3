#pragma once
// The image list as a Qt model: one row per entry of the session's list, read
// on the window's thread, drawn by ImageRowDelegate as a thumbnail and four
// lines of text. The list itself is changed by app/; the window tells the
// model when it has (refresh), and the model re-reads it.

#include <QAbstractListModel>
#include <QFontMetrics>
#include <QStyledItemDelegate>
#include <vector>

#include "app/image_entry.h"

namespace pv::ui {

// The background of a row in the program's lists, from the palette (the
// selection's highlight, alternating row colours), and the pen for its text.
void paintRowBackground(QPainter* painter, const QStyleOptionViewItem& option, int row);
// The height of one line of a list row in `metrics`' font (at least 14).
int lineStep(const QFontMetrics& metrics);

// A file name shortened to fit `width`: the part before the last dot loses
// one character at a time while the whole is wider, is then followed by
// "..", and the extension (".ext") is never cut.
QString fittedFileName(const QString& base, const QString& extension, int width, const QFontMetrics& metrics);
// A folder shortened to fit `width`: characters come off its end, then "..."
// and a '/' follow (no '/' when the kept part ends in one).
QString fittedFolder(const QString& folder, int width, const QFontMetrics& metrics);

class ImageListModel final : public QAbstractListModel {
  Q_OBJECT
 public:
  enum Role { kEntryRole = Qt::UserRole + 1, kFileSizeRole };
  ImageListModel(const app::ImageList& list, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;

  // The list has changed (added, removed, sorted, cleared): read it again.
  void refresh();
  // An entry that a running list job has added, shown after the list until
  // the job's list replaces it (refresh).
  void append(const app::ImageEntry& entry);
  const app::ImageEntry& entry(int row) const {
    const auto r = static_cast<std::size_t>(row);
    return r < list_.size() ? list_[r] : incoming_.at(r - list_.size());
  }

 private:
  const app::ImageList& list_;
  app::ImageList incoming_;
  std::vector<qint64> sizes_;  // file sizes, read when the list changes
};

// Draws a row: alternate and selected colours, the thumbnail centred in its
// 76 x 57 box, name, size and depth, kilobytes and folder; only the name when
// thumbnails are off.
class ImageRowDelegate final : public QStyledItemDelegate {
 public:
  ImageRowDelegate(const bool& showThumbnails, QObject* parent = nullptr)
      : QStyledItemDelegate(parent), showThumbnails_(showThumbnails) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  const bool& showThumbnails_;
};

}  // namespace pv::ui
