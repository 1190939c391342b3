#include "engine/handles.h"

#include <mutex>
#include <unordered_map>

namespace pv::engine::handles {

namespace {

// The one table of the process; instances only meet here, under its lock.
struct Table {
  std::mutex mutex;
  std::unordered_map<int, std::shared_ptr<const Image>> images;
  int next = 1;
};

Table& table() {
  static Table t;
  return t;
}

}  // namespace

int create(Image image) {
  Table& t = table();
  auto ptr = std::make_shared<const Image>(std::move(image));
  std::lock_guard lock(t.mutex);
  int id;
  do {
    id = t.next;
    t.next = t.next == 0x7FFFFFFF ? 1 : t.next + 1;
  } while (t.images.count(id));
  t.images.emplace(id, std::move(ptr));
  return id;
}

std::shared_ptr<const Image> find(int handle) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.images.find(handle);
  return it == t.images.end() ? nullptr : it->second;
}

void release(int handle) {
  if (handle == 0) return;
  Table& t = table();
  std::lock_guard lock(t.mutex);
  t.images.erase(handle);
}

std::shared_ptr<const Image> take(int handle) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.images.find(handle);
  if (it == t.images.end()) return nullptr;
  auto image = std::move(it->second);
  t.images.erase(it);
  return image;
}

}  // namespace pv::engine::handles
