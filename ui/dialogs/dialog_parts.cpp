#include "ui/dialogs/dialog_parts.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/ports/qt_ports.h"

namespace pv::ui {

HeadedList::HeadedList(const QString& heading, QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setHeaderLabels({heading});
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  header()->setSectionsClickable(false);
}

QTreeWidgetItem* HeadedList::addItem(const QString& text) {
  auto* item = new QTreeWidgetItem({text});
  addTopLevelItem(item);
  return item;
}

QDialogButtonBox* okCancelButtons(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  // accept is virtual: a dialog's own check runs.
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

QGroupBox* groupOf(const QString& title, std::initializer_list<QWidget*> widgets) {
  auto* box = new QGroupBox(title);
  auto* layout = new QVBoxLayout(box);
  for (QWidget* w : widgets) layout->addWidget(w);
  return box;
}

QSize roomOnScreen(const QWidget* window) {
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  const QSize available = screen ? screen->availableGeometry().size() : QSize(800, 600);
  return available - QSize(40, 60);
}

void layOutWithinScreen(QDialog* dialog, QWidget* body, QWidget* buttons) {
  auto* area = new QScrollArea;
  area->setWidget(body);
  area->setWidgetResizable(true);
  area->setFrameShape(QFrame::NoFrame);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(area, 1);
  layout->addWidget(buttons);
  // A scroll area asks for little of its own: it asks for the whole body
  // here, up to the room the screen leaves beside the buttons.
  const QSize room = roomOnScreen(dialog) - QSize(0, buttons->sizeHint().height() + 30);
  const QSize wanted = body->sizeHint() + QSize(area->verticalScrollBar()->sizeHint().width(), 0);
  area->setMinimumSize(wanted.boundedTo(room));
  dialog->resize(dialog->sizeHint().boundedTo(roomOnScreen(dialog)));
}

QStringList nameFilters(const std::vector<app::FileTypeFilter>& types) {
  QStringList out;
  for (const app::FileTypeFilter& f : types) {
    QStringList patterns;
    for (const std::string& p : f.patterns) patterns << QString::fromStdString(p);
    out << tableText("FileTypes", f.text) + " (" + patterns.join(' ') + ")";
  }
  return out;
}

QString nameFilter(const std::vector<app::FileTypeFilter>& types) {
  return nameFilters(types).join(";;");
}

}  // namespace pv::ui
