#pragma once
// The output names of a run. Images reserve their names in list order, each
// when every image before it has, so that workers never pick the same name.
// A name that an earlier image is still writing is settled first (written,
// it is taken; failed, it is free), so the numbering is the one a single
// worker gives.

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/image_entry.h"
#include "app/settings.h"

namespace pv::app {

class NameBook {
 public:
  // Waits until every image before `index` has reserved its names.
  void awaitTurn(int index);
  // The image whose turn it is has reserved its names.
  void endTurn();
  // The output name of one page of `entry` (-1: the whole image), numbered
  // past every file there and every name reserved and not yet settled.
  std::string reserve(const Settings& settings, const ImageEntry& entry, std::string_view extension,
                      int page);
  // The image that reserved `name` has written it, or failed.
  void settle(const std::string& name);
  // Another program took `taken` after it was reserved: the next free name
  // of the same page, reserved in its place.
  std::string another(const Settings& settings, const ImageEntry& entry, std::string_view extension, int page,
                      const std::string& taken);
  // The sources of the run's list: an output replacing an existing file
  // (OverwriteOriginalImage) never replaces another image's source.
  void protectSources(const std::vector<ImageEntry>& list);
  // The run wrote `path`.
  void wrote(const std::string& path);
  // Whether `path` is a name the run reserved or wrote.
  bool ours(const std::string& path);
  // Whether the output of the image from `source` may replace the file at
  // `plain`: not when another image of the run wrote it or has it reserved,
  // nor when it is another image's source. When it may, it counts as written.
  bool mayReplace(const std::string& plain, const std::string& source);
  // The first time a run names an output in the folder of `path`, the
  // temporary files that killed runs left there go (a live run's stay).
  void clearFolderOf(const std::string& path);

 private:
  std::mutex mutex_;
  std::condition_variable turn_, settled_;
  int next_ = 0;
  std::set<std::string> pending_;
  std::set<std::string> cleared_;
  std::set<std::string> written_, sources_;
};

}  // namespace pv::app
