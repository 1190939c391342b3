// In-process kernels. Each subsystem adds its hot loops here.
#include <benchmark/benchmark.h>

#include <string>

#include "core/text.h"

static void BM_Utf8Prefix(benchmark::State& state) {
  std::string text;
  while (text.size() < 4096) text += "Photo-é€-";
  for (auto _ : state) benchmark::DoNotOptimize(pv::utf8Prefix(text, static_cast<std::size_t>(state.range(0))));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Utf8Prefix)->Arg(99)->Arg(1499)->Arg(4000);

// Pixel operations on a 12-megapixel colour image, one operation per run.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/image.h"
#include "engine/lead.h"

namespace {

class BenchLead : public pv::engine::CLead {
 public:
  void set(const cv::Mat& m) {
    doc_->pages.assign(1, pv::engine::Image{});
    doc_->pages[0].pixels = m.clone();
    doc_->pages[0].bits = 24;
    doc_->current = 0;
  }
};

const cv::Mat& photo() {
  static const cv::Mat m = [] {
    cv::Mat p(3000, 4000, CV_8UC3);
    cv::randu(p, 0, 256);
    cv::GaussianBlur(p, p, cv::Size(0, 0), 3);  // photo-like local correlation
    return p;
  }();
  return m;
}

template <typename Op>
void runOp(benchmark::State& state, Op op) {
  BenchLead lead;
  for (auto _ : state) {
    state.PauseTiming();
    lead.set(photo());
    state.ResumeTiming();
    benchmark::DoNotOptimize(op(lead));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * photo().total());
}

}  // namespace

BENCHMARK_CAPTURE(runOp, resize_half, [](BenchLead& l) { return l.ResizeImage(2000, 1500, 4); })
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOp, gaussian_r5, [](BenchLead& l) { return l.GaussianBlur(5); })->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOp, median_5, [](BenchLead& l) { return l.MedianFilter(5); })->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOp, unsharp, [](BenchLead& l) { return l.UnsharpMask(100, 3, 0, 1); })
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOp, rotate_30, [](BenchLead& l) { return l.RotateImage(3000, 0, 0); })
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOp, hue_90, [](BenchLead& l) { return l.ChangeHue(90); })->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOp, oilify_5, [](BenchLead& l) { return l.OilifyImage(5); })->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOp, reduce_8bit_fs, [](BenchLead& l) { return l.ReduceColors(8, 0, 1, 256); })
    ->Unit(benchmark::kMillisecond);
