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
