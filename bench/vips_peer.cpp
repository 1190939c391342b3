// The strongest peer we know: libvips in one process for a whole batch (no
// start-up a file, its own threads on every core), on the workloads of
// cmd-vips-inprocess.sh. Built by that script against libvips-dev:
//   vips_peer <workload> <output folder> <jpeg>...
// Workloads: png (zlib 6, every row filter tried), png-plain (zlib 6, no
// filter, libvips's default), jpeg-half (half size, bicubic, quality 85, 4:4:4),
// tiff-lzw, chain (fit in 1920x1080, blur, unsharp mask, brightness and
// contrast, JPEG Q 85), gif (256 colours, dithered), webp (Q 80), avif (Q 60), heic
// (Q 50), jxl (Q 90).
#include <vips/vips8>

#include <algorithm>
#include <cstdio>
#include <string>

using vips::VImage;

int main(int argc, char** argv) {
  if (VIPS_INIT(argv[0])) vips_error_exit(nullptr);
  if (argc < 4) {
    std::fprintf(stderr, "usage: vips_peer <workload> <output folder> <jpeg>...\n");
    return 2;
  }
  const std::string work = argv[1], out = argv[2];
  for (int i = 3; i < argc; ++i) {
    std::string stem = argv[i];
    stem = stem.substr(stem.rfind('/') + 1);
    stem = out + "/" + stem.substr(0, stem.rfind('.'));
    const VImage in = VImage::new_from_file(argv[i], VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
    if (work == "png")
      in.pngsave((stem + ".png").c_str(),
                 VImage::option()->set("compression", 6)->set("filter", VIPS_FOREIGN_PNG_FILTER_ALL));
    else if (work == "png-plain")
      in.pngsave((stem + ".png").c_str(), VImage::option()->set("compression", 6));
    else if (work == "jpeg-half")
      in.resize(0.5, VImage::option()->set("kernel", VIPS_KERNEL_CUBIC))
          .jpegsave((stem + ".jpg").c_str(),
                    VImage::option()->set("Q", 85)->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_OFF));
    else if (work == "chain") {
      // Fit in 1920 x 1080 (bicubic), Gaussian blur of sigma 1, unsharp mask
      // of sigma 2 and amount 1, brightness +10 % and contrast, JPEG Q 85.
      const double scale = std::min(1920.0 / in.width(), 1080.0 / in.height());
      const VImage fit = scale < 1 ? in.resize(scale, VImage::option()->set("kernel", VIPS_KERNEL_CUBIC)) : in;
      const VImage blurred = fit.gaussblur(1.0);
      const VImage sharp = blurred + (blurred - blurred.gaussblur(2.0));
      const VImage brighter = sharp + (255 - sharp) * 0.1;
      const VImage contrast = (brighter - 128) * (1000.0 / 900.0) + 128;
      contrast.cast(VIPS_FORMAT_UCHAR).jpegsave(
          (stem + ".jpg").c_str(), VImage::option()->set("Q", 85)->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_OFF));
    } else if (work == "tiff-lzw")
      in.tiffsave((stem + ".tif").c_str(), VImage::option()->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_LZW));
    else if (work == "gif")
      in.gifsave((stem + ".gif").c_str(), VImage::option()->set("dither", 1.0)->set("bitdepth", 8));
    else if (work == "webp")
      in.webpsave((stem + ".webp").c_str(), VImage::option()->set("Q", 80));
    else if (work == "avif")
      in.heifsave((stem + ".avif").c_str(),
                  VImage::option()->set("Q", 60)->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1));
    else if (work == "heic")
      in.heifsave((stem + ".heic").c_str(), VImage::option()->set("Q", 50));
    else if (work == "jxl")
      in.jxlsave((stem + ".jxl").c_str(), VImage::option()->set("Q", 90));
    else {
      std::fprintf(stderr, "vips_peer: unknown workload %s\n", work.c_str());
      return 2;
    }
  }
  vips_shutdown();
  return 0;
}
