#include "app/name_book.h"

#include "app/naming.h"
#include "engine/outputs.h"

namespace pv::app {

void NameBook::awaitTurn(int index) {
  std::unique_lock lock(mutex_);
  turn_.wait(lock, [&] { return next_ == index; });
}

void NameBook::endTurn() {
  {
    std::lock_guard lock(mutex_);
    ++next_;
  }
  turn_.notify_all();
}

std::string NameBook::reserve(const Settings& settings, const ImageEntry& entry, std::string_view extension,
                              int page) {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::string unsettled;
    std::string name = makeOutputName(settings, entry, extension, page, true, [&](const std::string& path) {
      if (!pending_.count(path)) return false;
      if (unsettled.empty()) unsettled = path;
      return true;
    });
    if (unsettled.empty()) {
      pending_.insert(name);
      return name;
    }
    settled_.wait(lock, [&] { return pending_.count(unsettled) == 0; });
  }
}

void NameBook::settle(const std::string& name) {
  {
    std::lock_guard lock(mutex_);
    pending_.erase(name);
  }
  settled_.notify_all();
}

std::string NameBook::another(const Settings& settings, const ImageEntry& entry, std::string_view extension,
                              int page, const std::string& taken) {
  std::string name;
  {
    std::lock_guard lock(mutex_);
    pending_.erase(taken);
    name = makeOutputName(settings, entry, extension, page, true,
                          [&](const std::string& path) { return pending_.count(path) > 0; });
    pending_.insert(name);
  }
  settled_.notify_all();
  return name;
}

void NameBook::protectSources(const std::vector<ImageEntry>& list) {
  std::lock_guard lock(mutex_);
  for (const ImageEntry& e : list) sources_.insert(e.path());
}

void NameBook::wrote(const std::string& path) {
  std::lock_guard lock(mutex_);
  written_.insert(path);
}

bool NameBook::ours(const std::string& path) {
  std::lock_guard lock(mutex_);
  return written_.count(path) > 0 || pending_.count(path) > 0;
}

bool NameBook::mayReplace(const std::string& plain, const std::string& source) {
  std::lock_guard lock(mutex_);
  if (written_.count(plain) || pending_.count(plain) || (plain != source && sources_.count(plain))) return false;
  written_.insert(plain);
  return true;
}

void NameBook::clearFolderOf(const std::string& path) {
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  {
    std::lock_guard lock(mutex_);
    if (!cleared_.insert(folder).second) return;
  }
  engine::removeStaleTemporaries(folder);
}

}  // namespace pv::app
