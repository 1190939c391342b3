#pragma once
// The profile dialogs: "Save Filter Profile", "Filter Profile Manager" and
// "Rename Filter Profile". The files and their rules are app/profiles.h's.

#include <QDialog>

#include "app/session.h"

class QCheckBox;
class QLineEdit;
class QListWidget;

namespace pv::ui {

inline constexpr const char* kDefaultProfileText =
    QT_TRANSLATE_NOOP("Messages",
                      "When converting images through the shell context menu in the future,\nthe filter "
                      "profile chosen here will "
                      "be applied.");
inline constexpr int kProfileNameLimit = 99;

// "Name:" and OK/Cancel; `title` is the dialog's.
class ProfileNameDialog final : public QDialog {
  Q_OBJECT
 public:
  // `accepts` gets the name (blanks at its end removed) and says whether
  // the dialog may close.
  ProfileNameDialog(const QString& title, const QString& name,
                    std::function<bool(const std::string&)> accepts, QWidget* parent = nullptr);
  void accept() override;
  QLineEdit* nameField() const { return name_; }
  // A check box under the name (the save dialog's "with output" choice).
  QCheckBox* addOption(const QString& text);
  QCheckBox* option() const { return option_; }
  void setAccepts(std::function<bool(const std::string&)> accepts) { accepts_ = std::move(accepts); }

 private:
  std::function<bool(const std::string&)> accepts_;
  QLineEdit* name_;
  QCheckBox* option_ = nullptr;
};

// The save dialog: closes only when the profile was written. Its box, off
// by default, keeps the output format, its options and the output place
// beside the filters.
ProfileNameDialog* makeSaveProfileDialog(app::Session& session, QWidget* parent);

class ProfileManager final : public QDialog {
  Q_OBJECT
 public:
  ProfileManager(app::Session& session, QWidget* parent = nullptr);
  QListWidget* list() const { return list_; }
  void load();        // "Load": replaces the chain (and the output, where kept), closes with OK
  void setDefault();  // "Set as Default"
  void setNone();     // "Set None"
  void rename();      // "Rename": the rename dialog
  void remove();      // "Delete"
  // Called with the rename dialog before it runs (tests answer it here).
  std::function<void(ProfileNameDialog&)> onRename;

 private:
  void fill();
  std::string selected() const;
  app::Session& session_;
  std::vector<std::string> names_;
  QListWidget* list_;
};

}  // namespace pv::ui
