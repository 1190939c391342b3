#pragma once
// The modal dialog in which every long job runs: it starts the job on the
// runner's worker, shows its progress ten times a second, pauses, resumes,
// re-prioritises and aborts it, and closes when the job has ended.

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>

#include "app/job_runner.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace pv::ui {

inline constexpr const char* kAbortQuestion =
    QT_TRANSLATE_NOOP("Messages", "Are you sure you want to abort the process?");

class ProgressDialog final : public QDialog, private app::JobObserver {
  Q_OBJECT
 public:
  // `extra` also hears every report of the job (the command line's report).
  ProgressDialog(app::Session& session, int runKind, app::JobArgument argument, QWidget* parent = nullptr,
                 app::JobObserver* extra = nullptr);
  ~ProgressDialog() override;

  // Runs the job to its end: shown and modal, or without ever showing
  // (`hidden`). The session has the job's results back when this returns.
  void run(bool hidden);

  // For the window's tests and its screenshots.
  QPushButton* pauseButton() const { return pause_; }
  QPushButton* resumeButton() const { return resume_; }
  QPushButton* abortButton() const { return abort_; }
  QComboBox* priorityBox() const { return priority_; }
  QLabel* countLabel() const { return countLabel_; }
  QLineEdit* countField() const { return count_; }
  QLineEdit* fileField() const { return file_; }
  QLabel* timesLabel() const { return times_; }
  app::JobRunner& runner() { return runner_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;  // Escape asks as Abort does

 private slots:
  void tick();
  void askAbort();

 private:
  // Pauses or resumes the job and the clock together: paused time is not
  // counted as elapsed, nor in what is left.
  void setPaused(bool paused);
  qint64 workedMs() const;
  // Reports of the worker thread: counted for the failures line and passed on.
  void started(int runKind, int total) override;
  void outcome(const app::OutcomeRecord& record) override;
  void progress(int count, int total, int percent, const std::string& name) override;
  void finished(const app::JobSummary& summary) override;

  app::Session& session_;
  int runKind_;
  app::JobArgument argument_;
  app::JobObserver* extra_;
  app::JobRunner runner_;
  QTimer timer_;
  QElapsedTimer clock_;
  QElapsedTimer pausedSince_;  // valid while paused
  qint64 pausedMs_ = 0;        // the paused time of earlier pauses
  std::atomic<int> failures_{0};
  bool ended_ = false;
  QLineEdit *file_, *count_;
  QLabel *countLabel_, *times_, *failuresLabel_;
  QComboBox* priority_;
  QProgressBar* bar_;
  QPushButton *resume_, *pause_, *abort_;
};

}  // namespace pv::ui
