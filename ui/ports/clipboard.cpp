#include "ui/ports/clipboard.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QtGui/qguiapplication_platform.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/front_end.h"
#include "ui/ports/qt_ports.h"

extern char** environ;

namespace pv::ui {

namespace {

// Helper exit codes beyond 0 (done) and 1 (failed).
constexpr int kNoImageCode = 3;
constexpr int kUnreachableCode = 4;
constexpr int kNoToolCode = 5;  // Wayland without wl-clipboard

// The picture handed between processes: a tag, width and height, then rows of
// 32-bit B G R A (Qt's ARGB32), so neither side spends time encoding it.
constexpr char kTag[8] = {'P', 'V', 'C', 'L', 'I', 'P', '1', '\n'};

bool writePicture(const std::string& path, const QImage& source) {
  const QImage img = source.convertToFormat(QImage::Format_ARGB32);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::int32_t size[2] = {img.width(), img.height()};
  out.write(kTag, sizeof kTag);
  out.write(reinterpret_cast<const char*>(size), sizeof size);
  for (int y = 0; y < img.height() && out; ++y)
    out.write(reinterpret_cast<const char*>(img.constScanLine(y)), static_cast<std::streamsize>(img.width()) * 4);
  out.close();
  return static_cast<bool>(out);
}

QImage readPicture(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char tag[sizeof kTag] = {};
  std::int32_t size[2] = {};
  in.read(tag, sizeof tag);
  in.read(reinterpret_cast<char*>(size), sizeof size);
  if (!in || std::memcmp(tag, kTag, sizeof tag) != 0 || size[0] <= 0 || size[1] <= 0) return {};
  QImage img(size[0], size[1], QImage::Format_ARGB32);
  if (img.isNull()) return {};
  for (int y = 0; y < img.height(); ++y)
    if (!in.read(reinterpret_cast<char*>(img.scanLine(y)), static_cast<std::streamsize>(img.width()) * 4)) return {};
  return img;
}

// A private file for the picture: in the user's runtime folder (memory, and
// readable by nobody else) where there is one.
std::string pictureFile() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string pattern = std::string(runtime && *runtime ? runtime : "/tmp") + "/pictoravine-clipboard-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return {};
  close(fd);
  return pattern;
}

// True while a QGuiApplication of this process reaches the desktop's
// clipboard; the offscreen platform (tests) keeps a clipboard of its own.
bool guiApplication() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }
bool sharedPlatform() {
  const QString name = QGuiApplication::platformName();
  return name == "xcb" || name.startsWith("wayland");
}

// Starts `program` with `args` in a session of its own, its standard streams
// on /dev/null (a helper that outlives this process must not hold a
// terminal or a pipe that someone reads to its end). -1 when it cannot start.
pid_t spawnHelper(const std::string& program, const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Servers this process started and has not reaped: each ends when another
// copy takes the clipboard.
std::mutex gServersMutex;
std::vector<pid_t> gServers;

void reapServers() {
  std::lock_guard lock(gServersMutex);
  std::erase_if(gServers, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}

// Waits until `ready` holds or the child ends (its exit code then, else -1
// on time out). A child that ends is reaped.
template <class Ready>
int waitForHelper(pid_t pid, Ready ready, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    if (ready()) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

// Which clipboard the helper reaches: X11 where DISPLAY names a display (on
// a Wayland desktop that is XWayland, whose clipboard the compositor shares
// with Wayland programs), else Wayland. A display that cannot be reached is
// an exit code, not Qt's abort.
enum class Desktop { kNone, kX11, kWayland };

Desktop reachableDesktop() {
  const char* x = std::getenv("DISPLAY");
  if (x && *x) {
    xcb_connection_t* c = xcb_connect(x, nullptr);
    const bool ok = c && xcb_connection_has_error(c) == 0;
    if (c) xcb_disconnect(c);
    if (!ok) return Desktop::kNone;
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    return Desktop::kX11;
  }
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!wayland || !*wayland) return Desktop::kNone;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string socket =
      wayland[0] == '/' ? std::string(wayland) : std::string(runtime ? runtime : "") + "/" + wayland;
  struct stat st {};
  return stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) ? Desktop::kWayland : Desktop::kNone;
}

// Runs a tool found on PATH with `input` on its standard input, gathering
// its standard output; its exit code, or -1 when it cannot start.
int runTool(const std::vector<std::string>& args, const QByteArray& input, QByteArray* output) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return -1;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]), close(in[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]), close(out[1]);
  if (started) {
    signal(SIGPIPE, SIG_IGN);
    for (qsizetype done = 0; done < input.size();) {
      const ssize_t n = write(in[1], input.constData() + done, static_cast<std::size_t>(input.size() - done));
      if (n <= 0) break;
      done += n;
    }
  }
  close(in[1]);
  char buffer[65536];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
    if (output) output->append(buffer, n);
  close(out[0]);
  int status = 0;
  if (!started || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// True when an X11 clipboard manager runs: it takes the clipboard's data
// when its owner ends (Qt hands it over as its application ends).
bool clipboardManagerRuns() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return false;
  xcb_connection_t* c = x11->connection();
  static constexpr char kName[] = "CLIPBOARD_MANAGER";
  xcb_intern_atom_reply_t* atom =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof kName - 1, kName), nullptr);
  if (!atom) return false;
  xcb_get_selection_owner_reply_t* owner =
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
  const bool runs = owner && owner->owner != XCB_NONE;
  std::free(owner);
  std::free(atom);
  return runs;
}

// The server: offers the picture of `file` on the clipboard, removes the file
// to tell the copying process so, and runs until another program owns the
// clipboard.
int serve(int& argc, char** argv, const std::string& file) {
  const Desktop desktop = reachableDesktop();
  if (desktop == Desktop::kNone) return kUnreachableCode;
  if (desktop == Desktop::kWayland) {
    // A Wayland compositor takes a selection only with the serial of an input
    // event, which a program without a focused window has not got (and Qt
    // 6.4 sends none); wl-copy from wl-clipboard gets one and serves the
    // image in the background until another program takes the clipboard.
    const QImage picture = readPicture(file);
    QByteArray png;
    QBuffer buffer(&png);
    if (picture.isNull() || !buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "PNG")) return 1;
    if (runTool({"wl-copy", "--type", "image/png"}, png, nullptr) != 0) return kNoToolCode;
    std::remove(file.c_str());
    return 0;
  }
  QGuiApplication application(argc, argv);
  const QImage picture = readPicture(file);
  if (picture.isNull()) return 1;
  QClipboard* board = QGuiApplication::clipboard();
  auto* data = new QMimeData;  // Qt offers it as image/png, image/bmp, image/jpeg, ...
  data->setImageData(picture);
  board->setMimeData(data, QClipboard::Clipboard);
  if (!board->ownsClipboard()) return 1;
  std::remove(file.c_str());
  if (clipboardManagerRuns()) return 0;
  QObject::connect(board, &QClipboard::changed, &application, [&](QClipboard::Mode mode) {
    if (mode == QClipboard::Clipboard && !board->ownsClipboard()) QCoreApplication::quit();
  });
  return QGuiApplication::exec();
}

// The reader: the clipboard's image into `file`.
int read(int& argc, char** argv, const std::string& file) {
  const Desktop desktop = reachableDesktop();
  if (desktop == Desktop::kNone) return kUnreachableCode;
  if (desktop == Desktop::kWayland) {
    // wl-paste, for the same reason as wl-copy: PNG when offered, else the
    // first image type the clipboard offers.
    QByteArray types;
    if (runTool({"wl-paste", "--list-types"}, {}, &types) < 0) return kNoToolCode;
    std::string type;
    for (const QByteArray& t : types.split('\n'))
      if (t == "image/png" || (type.empty() && t.startsWith("image/"))) type = t.toStdString();
    if (type.empty()) return kNoImageCode;
    QByteArray bytes;
    if (runTool({"wl-paste", "--no-newline", "--type", type}, {}, &bytes) != 0) return kNoImageCode;
    const QImage img = QImage::fromData(bytes);
    if (img.isNull()) return kNoImageCode;
    return writePicture(file, img) ? 0 : 1;
  }
  QGuiApplication application(argc, argv);
  const QImage img = QGuiApplication::clipboard()->image();
  if (img.isNull()) return kNoImageCode;
  return writePicture(file, img) ? 0 : 1;
}

std::string thisProgram() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

}  // namespace

QtClipboard::QtClipboard(std::string program) : program_(program.empty() ? thisProgram() : std::move(program)) {}

bool QtClipboard::putImage(const engine::Image& image) {
  const QImage picture = toQImage(image);
  if (picture.isNull()) return false;
  if (guiApplication() && !sharedPlatform()) {
    bool ok = false;
    onWindowThread([&] {
      QClipboard* board = QGuiApplication::clipboard();
      if (!board) return;
      board->setImage(picture);
      ok = true;
    });
    return ok;
  }
  if (!displayAvailable()) return false;
  reapServers();
  const std::string file = pictureFile();
  if (file.empty() || !writePicture(file, picture)) {
    if (!file.empty()) std::remove(file.c_str());
    return false;
  }
  const pid_t pid = spawnHelper(program_, {kServeSwitch, file});
  if (pid < 0) {
    std::remove(file.c_str());
    return false;
  }
  // The server removes the file once the clipboard is its own.
  std::error_code error;
  const int code = waitForHelper(
      pid, [&] { return !std::filesystem::exists(file, error); }, std::chrono::seconds(20));
  const bool served = code == 0 && !std::filesystem::exists(file, error);
  if (served) {
    std::lock_guard lock(gServersMutex);
    gServers.push_back(pid);
  } else {
    if (code < 0) kill(pid, SIGTERM);
    std::remove(file.c_str());
  }
  return served;
}

app::Clipboard::Paste QtClipboard::getImage(engine::Image& image) {
  if (guiApplication()) {
    Paste found = Paste::kNoImage;
    onWindowThread([&] {
      QClipboard* board = QGuiApplication::clipboard();
      if (!board) return;
      const QImage img = board->image();
      if (img.isNull()) return;
      image = fromQImage(img);
      found = Paste::kImage;
    });
    return found;
  }
  if (!displayAvailable()) return Paste::kNoDisplay;
  const std::string file = pictureFile();
  if (file.empty()) return Paste::kNoImage;
  const pid_t pid = spawnHelper(program_, {kReadSwitch, file});
  const int code = pid < 0 ? 1 : waitForHelper(pid, [] { return false; }, std::chrono::seconds(20));
  if (code < 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  Paste found = code == kUnreachableCode ? Paste::kDisplayUnreachable
                : code == kNoToolCode    ? Paste::kNoTool
                                         : Paste::kNoImage;
  if (code == 0) {
    const QImage img = readPicture(file);
    if (!img.isNull()) {
      image = fromQImage(img);
      found = Paste::kImage;
    }
  }
  std::remove(file.c_str());
  return found;
}

bool runClipboardHelper(int& argc, char** argv, int& exitCode) {
  if (argc != 3) return false;
  const std::string which = argv[1], file = argv[2];
  if (which == kServeSwitch) {
    exitCode = serve(argc, argv, file);
    return true;
  }
  if (which == kReadSwitch) {
    exitCode = read(argc, argv, file);
    return true;
  }
  return false;
}

}  // namespace pv::ui
