#pragma once
// The before and after pictures of the window's two panes: the selected image
// as it is, and as the filter chain leaves it, each fitted to its pane. Made
// on a session of its own (a snapshot with its own imaging controls), so the
// window can have them made on another thread while it stays responsive.

#include <memory>
#include <optional>

#include "app/session.h"
#include "formats/format.h"

namespace pv::app {

struct PaneSize {
  int width = 0;
  int height = 0;
};

// The size an image of `width` x `height` takes when fitted into `pane` with
// its proportions: the pane's height when the pane is relatively wider, else
// its width; the other side follows (at least 1).
PaneSize fitToPane(int width, int height, PaneSize pane);

struct PreviewPictures {
  // 32-bit B G R A pictures, null when not asked for or when the image
  // could not be opened.
  std::shared_ptr<const engine::Image> before;
  std::shared_ptr<const engine::Image> after;
};

// Opens entry `index` of the session's list and makes the pictures asked
// for: `before` the image fitted to `pane`, `after` the image run through the
// whole chain (as a conversion prepares it, nothing saved) and then fitted.
// A pane of 0 x 0 keeps the pictures at their own size.
// 1-bit pictures are drawn as 8-bit ones. Exceptions of the engine leave the
// picture null.
PreviewPictures makePreview(Session& session, int index, PaneSize pane, bool before, bool after);

// `source` as a 32-bit B G R A bitmap, reduced to fit `room` when larger
// (never enlarged). Safe on any thread.
std::shared_ptr<const engine::Image> fittedCopy(const engine::Image& source, PaneSize room);

// What a filter's settings form shows beside its source: the filter of
// registry index `kind` with these `values` (in its descriptor's order) run on
// `source` reduced to fit `room`. Null when the kind is unknown or the engine
// fails. Safe on any thread.
std::shared_ptr<const engine::Image> filterPreview(int kind, const std::vector<std::int32_t>& values,
                                                   const engine::Image& source, PaneSize room);

// A format of the same kind with the same four options (its own object, for
// another thread).
std::unique_ptr<formats::Format> copyFormat(const formats::Format& format);

// What the format options dialog shows of its choice: the file `path`
// written with `format`'s options (to a temporary file, removed again), its
// size in bytes (-1 when it could not be written), and the same crop of at
// most `crop` pixels from the middle of the image as loaded and as written
// and read back. Safe on any thread.
struct EncodedSample {
  long long bytes = -1;
  // Under a size limit: the quality written and whether it fits.
  std::optional<engine::SizeOutcome> size;
  std::shared_ptr<const engine::Image> before, after;
};
EncodedSample encodeSample(const std::string& path, const formats::Format& format, PaneSize crop);

}  // namespace pv::app
