#include "ui/ports/qt_ports.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <opencv2/imgproc.hpp>

#include "engine/image.h"

namespace pv::ui {

QString tableText(const char* context, std::string_view text) {
  return QCoreApplication::translate(context, std::string(text).c_str());
}

void onWindowThread(const std::function<void()>& work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

QImage toQImage(const engine::Image& image) {
  const cv::Mat& m = image.pixels;
  if (m.empty()) return {};
  cv::Mat bgra;
  if (m.channels() == 4)
    bgra = m;
  else
    cv::cvtColor(m, bgra, m.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
  // B G R A bytes in memory are Qt's ARGB32 on a little-endian machine.
  QImage view(bgra.data, bgra.cols, bgra.rows, static_cast<qsizetype>(bgra.step), QImage::Format_ARGB32);
  return view.copy();
}

QImage viewOf(const engine::Image& image) {
  const cv::Mat& m = image.pixels;
  if (m.type() != CV_8UC4) return toQImage(image);
  return QImage(m.data, m.cols, m.rows, static_cast<qsizetype>(m.step), QImage::Format_ARGB32);
}

engine::Image fromQImage(const QImage& source) {
  engine::Image out;
  if (source.isNull()) return out;
  const bool alpha = source.hasAlphaChannel();
  const QImage img = source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  cv::Mat view(img.height(), img.width(), CV_8UC4, const_cast<uchar*>(img.constBits()),
               static_cast<std::size_t>(img.bytesPerLine()));
  if (alpha) {
    out.pixels = view.clone();
    out.bits = 32;
  } else {
    cv::cvtColor(view, out.pixels, cv::COLOR_BGRA2BGR);
    out.bits = 24;
  }
  return out;
}

bool QtPrompter::ask(Kind kind, const std::string& caption, const std::string& text) {
  bool answer = false;
  onWindowThread([&] {
    // A message that is one of the program's fixed texts is shown in the
    // user's language where translated (context "Messages").
    answer =
        present(kind, QString::fromStdString(caption), QCoreApplication::translate("Messages", text.c_str()));
  });
  return answer;
}

void QtPrompter::error(const std::string& caption, const std::string& text) {
  ask(Kind::kError, caption, text);
}
void QtPrompter::information(const std::string& caption, const std::string& text) {
  ask(Kind::kInformation, caption, text);
}
void QtPrompter::warning(const std::string& caption, const std::string& text) {
  ask(Kind::kWarning, caption, text);
}
bool QtPrompter::askYesNo(const std::string& caption, const std::string& text) {
  return ask(Kind::kQuestion, caption, text);
}

bool QtPrompter::present(Kind kind, const QString& caption, const QString& text) {
  QWidget* parent =
      QApplication::activeModalWidget() ? QApplication::activeModalWidget() : QApplication::activeWindow();
  switch (kind) {
    case Kind::kError:
      QMessageBox::critical(parent, caption, text);
      return false;
    case Kind::kInformation:
      QMessageBox::information(parent, caption, text);
      return false;
    case Kind::kWarning:
      QMessageBox::warning(parent, caption, text);
      return false;
    case Kind::kQuestion: {
      // The program's questions (clear the list, abort the run, overwrite a
      // profile) carry the information icon, No the default.
      QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
      box.setDefaultButton(QMessageBox::No);
      return box.exec() == QMessageBox::Yes;
    }
  }
  return false;
}

bool QtLauncher::open(const std::string& pathOrUrl) {
  bool ok = false;
  onWindowThread([&] {
    const QString s = QString::fromStdString(pathOrUrl);
    ok = QDesktopServices::openUrl(s.startsWith('/') ? QUrl::fromLocalFile(s) : QUrl(s));
  });
  return ok;
}

bool QtLauncher::start(const std::string& program, const std::vector<std::string>& args) {
  QStringList list;
  for (const std::string& a : args) list << QString::fromStdString(a);
  return QProcess::startDetached(QString::fromStdString(program), list);
}

}  // namespace pv::ui
