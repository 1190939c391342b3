// A thin command over CLead for whole-command benchmarks:
//   bench_codec decode IN...            load every file (and nothing else)
//   bench_codec ops OUT IN OP...           load IN, run the operations, save OUT
//                                        as uncompressed TIFF; OP is one of
//                                        half (resize 50 % bicubic), blur3,
//                                        unsharp, median3, rotate10
//   bench_codec convert CODE QUALITY OUTDIR IN...
//                                        load each file, save it to OUTDIR with
//                                        the file format code and quality
// Exit status 1 when any load or save fails.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/file_format.h"
#include "engine/lead.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_codec decode IN... | convert CODE QUALITY OUTDIR IN...\n");
    return 2;
  }
  const std::string mode = argv[1];
  pv::engine::CLead lead;
  int failed = 0;
  if (mode == "decode") {
    for (int i = 2; i < argc; ++i) failed += lead.LoadImage(argv[i], 0, 0, 1) != 0;
  } else if (mode == "convert" && argc >= 6) {
    const short code = static_cast<short>(std::atoi(argv[2])), quality = static_cast<short>(std::atoi(argv[3]));
    const std::string outDir = argv[4];
    const char* ext = code == 75 ? ".png" : code == 10 ? ".jpg" : ".out";
    for (int i = 5; i < argc; ++i) {
      std::string name = argv[i];
      name = name.substr(name.rfind('/') + 1);
      if (lead.LoadImage(argv[i], 0, 0, 1) != 0 || lead.SaveImage(outDir + "/" + name + ext, code, 24, quality, 0) != 0)
        ++failed;
    }
  } else if (mode == "ops" && argc >= 5) {
    if (lead.LoadImage(argv[3], 0, 0, 1) != 0) return 1;
    for (int i = 4; i < argc; ++i) {
      const std::string op = argv[i];
      short s = 0;
      if (op == "half") s = lead.ResizeImage(lead.GetImageWidth() / 2, lead.GetImageHeight() / 2, 4);
      else if (op == "blur3") s = lead.GaussianBlur(6);  // sigma 3
      else if (op == "unsharp") s = lead.UnsharpMask(100, 4, 0, 1);
      else if (op == "median3") s = lead.MedianFilter(3);
      else if (op == "rotate10") s = lead.RotateImage(1000, 5, 0);
      else return 2;
      failed += s != 0;
    }
    failed += lead.SaveImage(argv[2], pv::fmt::kTiff, 24, 0, 0) != 0;
  } else {
    return 2;
  }
  return failed ? 1 : 0;
}
