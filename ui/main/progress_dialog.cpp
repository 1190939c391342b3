#include "ui/main/progress_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace pv::ui {

namespace {

const char* const kPriorities[app::kPriorityCount] = {
    QT_TRANSLATE_NOOP("pv::ui::ProgressDialog", "Idle"),
    QT_TRANSLATE_NOOP("pv::ui::ProgressDialog", "Low"),
    QT_TRANSLATE_NOOP("pv::ui::ProgressDialog", "Below normal"),
    QT_TRANSLATE_NOOP("pv::ui::ProgressDialog", "Normal"),
    QT_TRANSLATE_NOOP("pv::ui::ProgressDialog", "Above normal"),
    QT_TRANSLATE_NOOP("pv::ui::ProgressDialog", "High"),
    QT_TRANSLATE_NOOP("pv::ui::ProgressDialog", "Highest")};

QString clockText(qint64 ms) {
  return QString::fromStdString(app::clockText(static_cast<double>(ms) / 1000));
}

}  // namespace

ProgressDialog::ProgressDialog(app::Session& session, int runKind, app::JobArgument argument, QWidget* parent,
                               app::JobObserver* extra)
    : QDialog(parent),
      session_(session),
      runKind_(runKind),
      argument_(std::move(argument)),
      extra_(extra),
      runner_(session) {
  setWindowTitle(QString::fromStdString(session.settings.caption));
  setModal(true);
  auto* form = new QFormLayout;
  file_ = new QLineEdit("-");
  file_->setReadOnly(true);
  file_->setMinimumWidth(360);
  form->addRow(tr("Current File:"), file_);
  countLabel_ = new QLabel(runKind == app::kRunConvert ? tr("Images Converted:") : tr("Files Scanned:"));
  count_ = new QLineEdit;
  count_->setReadOnly(true);
  form->addRow(countLabel_, count_);
  priority_ = new QComboBox;
  // Read as Linux has them: each with the nice level it sets.
  for (int level = 0; level < app::kPriorityCount; ++level)
    priority_->addItem(tr("%1 (nice %2)").arg(tr(kPriorities[level])).arg(app::kPriorityNice[level]));
  priority_->setCurrentIndex(app::kPriorityNormal);
  form->addRow(tr("Priority:"), priority_);
  bar_ = new QProgressBar;
  bar_->setRange(0, 100);
  bar_->setValue(0);
  times_ = new QLabel;
  failuresLabel_ = new QLabel;
  resume_ = new QPushButton(tr("Resume"));
  pause_ = new QPushButton(tr("Pause"));
  abort_ = new QPushButton(tr("Abort"));
  resume_->setEnabled(false);
  resume_->setAutoDefault(false);
  pause_->setAutoDefault(false);
  abort_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(resume_);
  buttons->addWidget(pause_);
  buttons->addWidget(abort_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(bar_);
  layout->addWidget(times_);
  layout->addWidget(failuresLabel_);
  layout->addLayout(buttons);

  connect(pause_, &QPushButton::clicked, this, [this] { setPaused(true); });
  connect(resume_, &QPushButton::clicked, this, [this] { setPaused(false); });
  connect(abort_, &QPushButton::clicked, this, &ProgressDialog::askAbort);
  connect(priority_, &QComboBox::currentIndexChanged, this,
          [this](int level) { runner_.setPriority(level); });
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, &ProgressDialog::tick);
}

ProgressDialog::~ProgressDialog() {
  // Never leave with the job still running: it works on the session.
  if (!ended_) {
    runner_.abort();
    runner_.wait();
  }
}

void ProgressDialog::run(bool hidden) {
  clock_.start();
  runner_.start(runKind_, argument_, this);
  timer_.start();
  if (hidden) {
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    if (!ended_) loop.exec();
  } else {
    exec();
  }
}

void ProgressDialog::setPaused(bool paused) {
  if (paused == pausedSince_.isValid()) return;
  resume_->setEnabled(paused);
  pause_->setEnabled(!paused);
  if (paused) {
    runner_.pause();
    pausedSince_.start();
  } else {
    pausedMs_ += pausedSince_.elapsed();
    pausedSince_.invalidate();
    runner_.resume();
  }
  tick();
}

qint64 ProgressDialog::workedMs() const {
  return clock_.elapsed() - pausedMs_ - (pausedSince_.isValid() ? pausedSince_.elapsed() : 0);
}

void ProgressDialog::tick() {
  if (runner_.finished()) {
    timer_.stop();
    runner_.wait();
    ended_ = true;
    done(0);
    return;
  }
  const app::JobProgress& p = session_.progress;
  bar_->setValue(p.percent.load());
  file_->setText(QString::fromStdString(p.name()));
  const int count = p.count.load(), total = p.total.load();
  if (runKind_ == app::kRunConvert) {
    count_->setText(QString("%1 / %2").arg(total > 0 ? std::min(count + 1, total) : 0).arg(total));
    const qint64 ms = workedMs();
    const QString left = count > 0 && total > 0 ? clockText(ms * (total - count) / count) : QString("--:--");
    times_->setText(tr("%1 elapsed, %2 left").arg(clockText(ms), left));
  } else {
    count_->setText(QString::number(count));
    times_->setText(tr("%1 elapsed").arg(clockText(workedMs())));
  }
  if (pausedSince_.isValid()) times_->setText(tr("Paused: %1").arg(times_->text()));
  const int failed = failures_.load();
  failuresLabel_->setText(failed ? tr("%n image(s) failed so far", nullptr, failed) : QString());
}

void ProgressDialog::askAbort() {
  if (ended_ || !abort_->isEnabled()) return;
  // The run waits while the question is open; No lets it go on as it was
  // (a run paused before stays paused).
  const bool wasPaused = pausedSince_.isValid();
  setPaused(true);
  if (!session_.prompter.askYesNo(session_.settings.caption, kAbortQuestion)) {
    setPaused(wasPaused);
    return;
  }
  if (pausedSince_.isValid()) {  // the job goes on to see the abort
    pausedMs_ += pausedSince_.elapsed();
    pausedSince_.invalidate();
  }
  resume_->setEnabled(false);
  pause_->setEnabled(false);
  abort_->setEnabled(false);
  runner_.abort();
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
  if (!ended_) {
    event->ignore();
    askAbort();
    return;
  }
  QDialog::closeEvent(event);
}

void ProgressDialog::reject() {
  if (!ended_) askAbort();
}

void ProgressDialog::started(int runKind, int total) {
  if (extra_) extra_->started(runKind, total);
}
void ProgressDialog::outcome(const app::OutcomeRecord& record) {
  if (!record.succeeded() && !record.passedOver) ++failures_;
  if (extra_) extra_->outcome(record);
}
void ProgressDialog::progress(int count, int total, int percent, const std::string& name) {
  if (extra_) extra_->progress(count, total, percent, name);
}
void ProgressDialog::finished(const app::JobSummary& summary) {
  if (extra_) extra_->finished(summary);
}

}  // namespace pv::ui
