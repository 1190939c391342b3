// Adds every image of a folder to the real main window (offscreen) through
// the folder job, and measures the whole add and the longest time the
// window's thread went without handling its events meanwhile: the window
// must never freeze, however many photos are added.
//   bench_window_add FOLDER
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

#include "app/heap.h"
#include "app/ports.h"
#include "app/session.h"
#include "ui/main/main_window.h"
#include "ui/ports/qt_ports.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_window_add FOLDER\n");
    return 2;
  }
  pv::app::shareOneHeap();  // as the program does, before any thread starts
  QApplication application(argc, argv);
  pv::ui::QtPrompter prompter;
  pv::app::SpawnLauncher launcher;
  pv::app::Session session(pv::app::loadSettings(), prompter);
  session.settings.ShowMessages = false;
  pv::ui::MainWindow window(session, prompter, launcher);
  window.show();

  // A timer that should fire every 5 ms; the longest gap is the longest freeze.
  QElapsedTimer sinceTick;
  qint64 longest = 0;
  QTimer tick;
  tick.setInterval(5);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    longest = std::max(longest, sinceTick.restart());
  });
  QElapsedTimer whole;
  window.onJobDialog = [&](pv::ui::ProgressDialog&) {
    sinceTick.start();
    tick.start();
  };
  whole.start();
  window.addFolder(QString::fromLocal8Bit(argv[1]));
  const qint64 ms = whole.elapsed();
  tick.stop();
  std::printf("added %zu images in %.2f s; the window's longest pause: %lld ms\n", session.list.size(), ms / 1000.0,
              static_cast<long long>(longest));
  return 0;
}
