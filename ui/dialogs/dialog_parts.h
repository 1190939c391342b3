#pragma once
// Pieces every dialog of the window is made of.

#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QStringList>
#include <QTreeWidget>
#include <initializer_list>
#include <vector>

#include "app/file_types.h"

namespace pv::ui {

// OK and Cancel, wired to the dialog's accept (its own, when it has one) and reject.
QDialogButtonBox* okCancelButtons(QDialog* dialog);

// A titled group with the widgets one under the other.
QGroupBox* groupOf(const QString& title, std::initializer_list<QWidget*> widgets);

// Lays `dialog` out as `body` above `buttons`, the body in a scroll area that
// asks for the body's whole size where the screen has room and scrolls where
// it has not (a large font, a scale factor of 2 on a small screen), so that
// the buttons stay in reach.
void layOutWithinScreen(QDialog* dialog, QWidget* body, QWidget* buttons);

// The room a window has on its screen: the available area less a margin for
// its frame.
QSize roomOnScreen(const QWidget* window);

// A list of one column under a header that names it ("Filters Applied",
// "Filter"), read row by row like a QListWidget.
class HeadedList final : public QTreeWidget {
 public:
  explicit HeadedList(const QString& heading, QWidget* parent = nullptr);
  int count() const { return topLevelItemCount(); }
  QTreeWidgetItem* item(int row) const { return topLevelItem(row); }
  int currentRow() const { return currentItem() ? indexOfTopLevelItem(currentItem()) : -1; }
  void setCurrentRow(int row) { setCurrentItem(topLevelItem(row)); }
  QTreeWidgetItem* addItem(const QString& text);
};

// File dialogs' types in Qt's form: each entry's text (translated) with its
// patterns separated by blanks; nameFilter joins them as one filter string.
QStringList nameFilters(const std::vector<app::FileTypeFilter>& types);
QString nameFilter(const std::vector<app::FileTypeFilter>& types);

}  // namespace pv::ui
