#include "ui/dialogs/profile_dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <QFontMetrics>

#include <algorithm>

#include "app/profiles.h"
#include "ui/dialogs/dialog_parts.h"

namespace pv::ui {

ProfileNameDialog::ProfileNameDialog(const QString& title, const QString& name,
                                     std::function<bool(const std::string&)> accepts, QWidget* parent)
    : QDialog(parent), accepts_(std::move(accepts)) {
  setWindowTitle(title);
  name_ = new QLineEdit(name);
  name_->setMaxLength(kProfileNameLimit);
  auto* form = new QFormLayout;
  form->addRow(tr("Name:"), name_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(okCancelButtons(this));
  name_->setFocus();
  // Wide enough that a window manager shows the whole title (with the title
  // bar's buttons beside it), not "Save ... Profile".
  setMinimumWidth(std::max(320, QFontMetrics(font()).horizontalAdvance(title) * 3 / 2 + 160));
}

QCheckBox* ProfileNameDialog::addOption(const QString& text) {
  option_ = new QCheckBox(text);
  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  layout->insertWidget(1, option_);
  return option_;
}

void ProfileNameDialog::accept() {
  std::string name = name_->text().toStdString();
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (accepts_(name)) QDialog::accept();
}

ProfileNameDialog* makeSaveProfileDialog(app::Session& session, QWidget* parent) {
  auto* dialog = new ProfileNameDialog(QObject::tr("Save Filter Profile"), QString(), nullptr, parent);
  QCheckBox* withOutput =
      dialog->addOption(QObject::tr("Also keep the output format, its options and where outputs go"));
  withOutput->setToolTip(QObject::tr("Loading the profile then chooses them again. Off, the profile holds filters only."));
  dialog->setAccepts([&session, withOutput](const std::string& name) {
    std::optional<app::ProfileOutput> output;
    if (withOutput->isChecked() && session.format) output = app::outputOf(session.settings, *session.format);
    return app::saveProfile(session.settings, session.chain, name, session.prompter, output ? &*output : nullptr);
  });
  return dialog;
}

ProfileManager::ProfileManager(app::Session& session, QWidget* parent) : QDialog(parent), session_(session) {
  setWindowTitle(tr("Filter Profile Manager"));
  list_ = new QListWidget;
  auto* buttons = new QDialogButtonBox;
  QPushButton* load = buttons->addButton(tr("Load"), QDialogButtonBox::AcceptRole);
  load->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  QPushButton* rename = buttons->addButton(tr("Rename"), QDialogButtonBox::ActionRole);
  QPushButton* remove = buttons->addButton(tr("Delete"), QDialogButtonBox::ActionRole);
  QPushButton* setDefault = buttons->addButton(tr("Set as Default"), QDialogButtonBox::ActionRole);
  QPushButton* setNone = buttons->addButton(tr("Set None"), QDialogButtonBox::ActionRole);
  connect(load, &QPushButton::clicked, this, &ProfileManager::load);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(rename, &QPushButton::clicked, this, &ProfileManager::rename);
  connect(remove, &QPushButton::clicked, this, &ProfileManager::remove);
  connect(setDefault, &QPushButton::clicked, this, &ProfileManager::setDefault);
  connect(setNone, &QPushButton::clicked, this, &ProfileManager::setNone);
  connect(list_, &QListWidget::itemDoubleClicked, this, &ProfileManager::load);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addWidget(buttons);
  names_ = app::listProfiles();
  fill();
}

void ProfileManager::fill() {
  const int row = list_->currentRow();
  list_->clear();
  for (const std::string& name : names_)
    list_->addItem(QString::fromStdString(name) +
                   (name == session_.settings.DefaultShellContextProfile ? tr(" (Default)") : QString()));
  if (row >= 0 && row < list_->count()) list_->setCurrentRow(row);
}

std::string ProfileManager::selected() const {
  const int row = list_->currentRow();
  return row >= 0 && row < static_cast<int>(names_.size()) && !list_->selectedItems().isEmpty()
             ? names_[static_cast<std::size_t>(row)]
             : std::string();
}

void ProfileManager::load() {
  const std::string name = selected();
  if (name.empty()) return;
  session_.chain.clear();  // a profile replaces the chain
  app::ProfileOutput output;
  app::loadProfile(session_.settings, session_.chain, name, session_.prompter, &output);
  if (output.any()) {
    app::applyProfileOutput(session_, output);
    app::saveSettings(session_.settings);
  }
  QDialog::accept();
}

void ProfileManager::setDefault() {
  const std::string name = selected();
  if (name.empty()) return;
  session_.settings.DefaultShellContextProfile = name;
  fill();
  app::saveSettings(session_.settings);
  session_.prompter.information(session_.settings.caption, kDefaultProfileText);
}

void ProfileManager::setNone() {
  session_.settings.DefaultShellContextProfile.clear();
  fill();
  app::saveSettings(session_.settings);
}

void ProfileManager::rename() {
  const std::string old = selected();
  if (old.empty()) return;
  const auto row = static_cast<std::size_t>(list_->currentRow());
  ProfileNameDialog dialog(tr("Rename Filter Profile"), QString::fromStdString(old), [&](const std::string& name) {
    if (name.empty()) return false;  // stays open
    // The list shows the new name only when the file took it.
    if (app::renameProfile(session_.settings, old, name, session_.prompter)) names_[row] = name;
    return true;
  }, this);
  if (onRename) QTimer::singleShot(0, &dialog, [this, &dialog] { onRename(dialog); });
  if (dialog.exec() == QDialog::Accepted) fill();
}

void ProfileManager::remove() {
  const std::string name = selected();
  if (name.empty()) return;
  if (!app::deleteProfile(session_.settings, name, session_.prompter)) return;
  const int row = list_->currentRow();
  names_.erase(names_.begin() + row);
  delete list_->takeItem(row);
}

}  // namespace pv::ui
