#pragma once
// One image of a conversion run: whether it is already done, the names it
// reserves, its depth, and how it is loaded, filtered, prepared and saved
// (one image, every page into one file, every page at once, or each page on
// its own), what happens to its source after a success, and its records.
// The run (app/run.h) schedules images on its workers; the steps every
// output shares (the save options, the filters, the format's preparation, the
// output name) are prepareOutput's, which the preview uses too.

#include <array>
#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/job.h"
#include "app/name_book.h"
#include "app/session.h"

namespace pv::app {

// What prepareOutput does besides setting the save options of the format
// (passes, size limit).
struct OutputSteps {
  bool makeName = false;      // name the output (the path is returned)
  int page = -1;              // the page the name is for (-1: the whole image)
  bool avoidExisting = true;  // number the name past files that exist
  bool applyFilters = false;  // run the filter chain ...
  int filterCount = -1;       // ... its first filters (-1: all)
  bool prepareImage = false;  // and then the format's own preparation
};

// Sets the save options of the session's format and takes `steps` for entry
// `index`. Returns the output path, empty without `makeName`.
std::string prepareOutput(Session& session, int index, const OutputSteps& steps);

// When the chain starts by resampling entry `index` smoothly to half its size
// or less on both sides, lets the next load of the session's primary control
// decode at the reduced scale that still covers that size (JPEG's DCT
// scaling); the filter then resamples the rest of the way. The filter measures
// the source by the entry's recorded size, so the result is the full decode's
// within resampling error.
void allowReducedLoad(Session& session, int index);
// The size such a reduced decode of `entry` must cover; false when the chain
// does not start by shrinking it that much.
bool reducedLoadSize(const Session& session, const ImageEntry& entry, int& width, int& height);

class ImageConversion {
 public:
  using Emit = std::function<void(const OutcomeRecord&)>;
  // Converts entry `index` of the session's list, reserving names in `names`
  // and handing every record to `emit`.
  ImageConversion(Session& session, NameBook& names, Emit emit, int index);

  // Decides, in the image's turn, whether it is already done (--skip-done)
  // and reserves the names it will write.
  void plan();
  // Converts the image as planned (nothing when it was found done) and hands
  // its records on.
  void run();
  // Called when the image is done with its names, whatever happened.
  void settleNames();
  // The memory the image takes while it is converted, for the budget: its
  // decoded pixels (every page a multi-page output gathers) and its
  // encoder's working memory for the size it is saved at.
  double bytes() const;
  // It needs `bytes`, more than the whole `budget`, so it runs alone (the
  // log says so).
  void ranAlone(double bytes, double budget) { ranAlone_ = {bytes, budget}; }

  // The first decode the conversion makes: its bits and page, and the size a
  // reduced JPEG decode must cover (0 x 0: the file's own size). None when it
  // decodes otherwise (a resolution of its own, the clipboard's page, an
  // unknown multi-page option).
  struct FirstLoad {
    short bits = 0;
    int page = 0;
    int atLeastWidth = 0, atLeastHeight = 0;
    bool operator==(const FirstLoad&) const = default;
  };
  std::optional<FirstLoad> firstLoad() const;
  // The session's primary control holds the image decoded as firstLoad
  // says, from the load that listed it: the first decode is not made again.
  void decoded() { decoded_ = true; }

 private:
  void chooseDepths();
  // A PNG below 32 bits is decoded with alpha, for its transparency.
  short loadBits() const;
  short load(int page, int count);
  // The filters and the format's preparation of the current image.
  void prepare();
  std::string name(int page) const;
  void flatten();
  // Saves the current image under the name reserved for `page` (-1: the
  // whole image) and notes the name it got.
  short save(int page);
  // Outputs never replace a file: a name taken since it was reserved gives
  // way to the next number.
  void placeOutputs(int page);
  // The output of `page` is written, under the name the save says (a file
  // of several pages written together when `pagesTogether`).
  void written(int page, bool pagesTogether = false);
  short toClipboard();
  // A source saved as one image (single-page sources, or the first page).
  short single(int page);
  // Every page into one multi-page output, page by page: the file is written
  // under a temporary name and takes its name when every page is in it; any
  // failed page fails the image and leaves no file.
  short allPages();
  // Each page in a file of its own, each with its own record. The last
  // page's record waits for what happens to the source.
  void separatePages();
  // With --skip-done: true (and the image's record written) when every file
  // this image would be saved to, named without numbering, is there, whole
  // and newer than the source. Otherwise the temporaries a killed run left
  // beside those files are removed before the image is converted again.
  bool upToDate();
  // The pages the image is saved as files of, by the name's page number: each
  // page (1..n) when pages go to files of their own, -1 for one file, none
  // for the clipboard or an unknown multi-page option.
  std::vector<int> outputPages() const;
  OutcomeRecord record(unsigned status) const;
  void afterSuccess(OutcomeRecord& r, bool everyPage = true);
  // With OnlySmaller: an output in the source's own format that came out
  // larger than the source takes the source's bytes instead.
  void keepSmallerSource(OutcomeRecord& r);

  Session& s_;
  NameBook& names_;
  Emit emit_;
  std::map<int, std::string> planned_;  // the names reserved, by page (-1: the whole image)
  bool skipped_ = false;
  int index_;
  ImageEntry& e_;
  std::string source_;
  std::string output_;
  std::vector<std::string> outputs_;
  short loadBits_ = 0;
  bool decoded_ = false;
  int target_ = 0;
  short code_ = 0;
  bool pagesSeparately_ = false;
  // The source's access and modification times, read before anything is
  // written (an output may replace the source), when outputs keep them.
  std::optional<std::array<timespec, 2>> sourceDates_;
  bool datesNotKept_ = false;
  // What the last save under a size limit wrote.
  std::optional<OutcomeRecord::SizeTarget> sizeTarget_;
  std::optional<std::pair<double, double>> ranAlone_;  // bytes needed, the budget
  std::chrono::steady_clock::time_point pageStarted_ = std::chrono::steady_clock::now();
};

}  // namespace pv::app
