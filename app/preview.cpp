#include "app/preview.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>

#include "app/image_conversion.h"
#include "app/image_list.h"
#include "engine/handles.h"
#include "engine/status.h"
#include "filters/filter.h"

namespace pv::app {

PaneSize fitToPane(int width, int height, PaneSize pane) {
  if (width <= 0 || height <= 0 || pane.width <= 0 || pane.height <= 0) return {};
  // The pane is relatively wider than the image: its height decides.
  if (static_cast<long long>(pane.width) * height > static_cast<long long>(pane.height) * width)
    return {std::max(1, static_cast<int>(static_cast<long long>(width) * pane.height / height)), pane.height};
  return {pane.width, std::max(1, static_cast<int>(static_cast<long long>(height) * pane.width / width))};
}

namespace {

// A control of its own holding a copy of `source`, reduced to fit `room`.
void loadFitted(engine::CLead& lead, const engine::Image& source, PaneSize room) {
  const int handle = engine::handles::create(source);
  lead.SetImageHandle(handle);
  engine::handles::release(handle);
  const PaneSize fit = fitToPane(source.width(), source.height(), room);
  if (fit.width > 0 && fit.width < source.width() && fit.height < source.height())
    static_cast<void>(lead.ResizeImage(static_cast<float>(fit.width), static_cast<float>(fit.height), 4));
}

std::shared_ptr<const engine::Image> bitmapOf(engine::CLead& lead) {
  if (lead.GetDisplayBits() == 1) static_cast<void>(lead.ReduceColors(8, 1, 0, 0));
  return engine::handles::take(lead.MakeGdiBitmap(lead.GetDrawContext()));
}

// Opens the entry and, for the after picture, runs the chain on it; then fits
// the current image into the pane and takes its bitmap.
std::shared_ptr<const engine::Image> picture(Session& s, int index, PaneSize pane, bool filtered) {
  const ImageEntry& e = s.list.at(static_cast<std::size_t>(index));
  ImageListBuilder builder({s.settings, s.texts, s.primary, s.secondary, s.list, s.progress, s.running, s.prompter});
  try {
    // The before picture may come from a JPEG decoded at a reduced scale; the
    // chain measures the image in the file's own pixels, so the after one only
    // when the chain starts by shrinking it, as a conversion does.
    if (!filtered && pane.width > 0 && pane.height > 0) s.primary.SetLoadAtLeast(pane.width, pane.height);
    if (filtered) allowReducedLoad(s, index);
    const bool opened = builder.openImage(e.path(), false);
    s.primary.SetLoadAtLeast(0, 0);
    if (!opened) return nullptr;
    engine::CLead& lead = s.primary;
    if (filtered) {
      s.currentEntry = index;
      prepareOutput(s, index, {.avoidExisting = false, .applyFilters = true});
      s.currentEntry = -1;
    }
    const int w = static_cast<int>(lead.GetImageWidth()), h = static_cast<int>(lead.GetImageHeight());
    if (pane.width == 0 && pane.height == 0) return bitmapOf(lead);  // its own size
    const PaneSize fit = fitToPane(w, h, pane);
    if (fit.width == 0) return nullptr;
    // Shrinking resamples smoothly; enlarging a small image keeps its pixels sharp.
    const bool shrinks = w >= fit.width && h >= fit.height;
    if (fit.width != w || fit.height != h)
      static_cast<void>(
          lead.ResizeImage(static_cast<float>(fit.width), static_cast<float>(fit.height), shrinks ? 4 : 0));
    return bitmapOf(lead);
  } catch (const std::exception&) {
    s.currentEntry = -1;
    return nullptr;
  }
}

}  // namespace

std::shared_ptr<const engine::Image> fittedCopy(const engine::Image& source, PaneSize room) {
  if (source.pixels.empty()) return nullptr;
  try {
    engine::CLead lead;
    loadFitted(lead, source, room);
    return bitmapOf(lead);
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::shared_ptr<const engine::Image> filterPreview(int kind, const std::vector<std::int32_t>& values,
                                                   const engine::Image& source, PaneSize room) {
  if (source.pixels.empty()) return nullptr;
  try {
    engine::CLead lead;
    filters::FilterContext context;
    context.lead = &lead;
    const std::unique_ptr<filters::Filter> filter = filters::createFilter(kind, context);
    if (!filter) return nullptr;
    for (std::size_t i = 0; i < values.size() && i < filter->valueCount(); ++i)
      filter->setValue(i, values[i]);
    loadFitted(lead, source, room);
    filter->apply();
    return bitmapOf(lead);
  } catch (const std::exception&) {
    return nullptr;
  }
}

PreviewPictures makePreview(Session& session, int index, PaneSize pane, bool before, bool after) {
  PreviewPictures out;
  if (index < 0 || static_cast<std::size_t>(index) >= session.list.size()) return out;
  if (before) out.before = picture(session, index, pane, false);
  if (after) out.after = picture(session, index, pane, true);
  return out;
}

std::unique_ptr<formats::Format> copyFormat(const formats::Format& f) {
  auto copy = formats::createFormatByIndex(f.index, f.configPath());
  copy->takeOptions(f);
  return copy;
}

namespace {

// The middle `crop` of the control's image as a bitmap.
std::shared_ptr<const engine::Image> middle(engine::CLead& lead, PaneSize crop) {
  auto bitmap = engine::handles::take(lead.MakeGdiBitmap(lead.GetDrawContext()));
  if (!bitmap) return nullptr;
  const int w = std::min(crop.width, bitmap->width()), h = std::min(crop.height, bitmap->height());
  auto out = std::make_shared<engine::Image>(*bitmap);
  out->pixels = bitmap->pixels(cv::Rect((bitmap->width() - w) / 2, (bitmap->height() - h) / 2, w, h)).clone();
  return out;
}

}  // namespace

EncodedSample encodeSample(const std::string& path, const formats::Format& format, PaneSize crop) {
  EncodedSample out;
  if (format.isClipboard()) return out;
  // Whatever fails leaves the sample without a picture or a size.
  engine::guarded([&] {
    const std::unique_ptr<formats::Format> f = copyFormat(format);
    engine::CLead lead;
    if (lead.LoadImage(path, 0, 0, 1) != 0) return;
    const int sourceBits = lead.GetInfoBits();
    out.before = middle(lead, crop);
    char name[] = "/tmp/pictoravine-sample-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return;
    close(fd);
    // The sample file goes however the encoding ends.
    struct RemoveFile {
      const char* path;
      ~RemoveFile() { std::remove(path); }
    } sample{name};
    f->setSaveOptions(lead);
    f->prepareImage(lead);
    const short status =
        lead.SaveImage(name, static_cast<short>(f->fileFormatCode(f->method)),
                       static_cast<short>(f->outputDepth(sourceBits)), static_cast<short>(f->quality), 0);
    struct stat st {};
    if (status == 0 && ::stat(name, &st) == 0) {
      out.bytes = st.st_size;
      out.size = lead.GetSizeOutcome();
      engine::CLead back;
      if (back.LoadImage(name, 0, 0, 1) == 0) out.after = middle(back, crop);
    }
  });
  return out;
}

}  // namespace pv::app
