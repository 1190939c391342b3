// The codec floor: only the codec work of a workload, on one thread, with
// the libraries the program uses, and nothing else (no listing, no filters,
// no metadata, no temporary file and rename). What our whole command spends
// above this is what is left to cut. Built by cmd-vips-inprocess.sh:
//   codec_floor <workload> <output folder> <jpeg>...
// Workloads, with the program's own settings for them:
//   png        full decode; every row through the five PNG filters, the one
//              with the smallest sum of magnitudes kept; libdeflate level 6
//   jpeg-half  decoded at half scale by libjpeg-turbo's DCT scaling (the
//              reduction the program decodes at for a 50 % resize); quality
//              85, 4:4:4
//   tiff-lzw   full decode; libtiff LZW with the horizontal predictor, strips
//              of at least 128 rows
// jpeglib.h needs FILE declared before it.
#include <cstdio>

#include <jpeglib.h>
#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes a pixel
};

bool decodeJpeg(const char* path, int scaleDenom, Picture& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  jpeg_decompress_struct d{};
  jpeg_error_mgr err{};
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_stdio_src(&d, f);
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_RGB;
  d.scale_num = 1;
  d.scale_denom = static_cast<unsigned>(scaleDenom);
  jpeg_start_decompress(&d);
  out.width = static_cast<int>(d.output_width);
  out.height = static_cast<int>(d.output_height);
  out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = out.rgb.data() + static_cast<std::size_t>(d.output_scanline) * out.width * 3;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  std::fclose(f);
  return true;
}

bool encodeJpeg(const Picture& p, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = static_cast<JDIMENSION>(p.width);
  c.image_height = static_cast<JDIMENSION>(p.height);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 85, TRUE);
  for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<std::uint8_t*>(p.rgb.data()) + static_cast<std::size_t>(c.next_scanline) * p.width * 3;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return std::fclose(f) == 0;
}

std::uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// One loop a filter kind, so that the compiler vectorises each (a switch a
// byte would make the floor slower than the program it measures).
void filterRow(int kind, const std::uint8_t* row, const std::uint8_t* prev, std::size_t n, std::uint8_t* out) {
  constexpr std::size_t bpp = 3;
  const std::size_t first = std::min(bpp, n);
  switch (kind) {
    case 0:
      std::memcpy(out, row, n);
      break;
    case 1:
      std::memcpy(out, row, first);
      for (std::size_t i = bpp; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
      break;
    case 2:
      for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - prev[i]);
      break;
    case 3:
      for (std::size_t i = 0; i < first; ++i) out[i] = static_cast<std::uint8_t>(row[i] - prev[i] / 2);
      for (std::size_t i = bpp; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - (row[i - bpp] + prev[i]) / 2);
      break;
    default:
      for (std::size_t i = 0; i < first; ++i) out[i] = static_cast<std::uint8_t>(row[i] - prev[i]);
      for (std::size_t i = bpp; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - paeth(row[i - bpp], prev[i], prev[i - bpp]));
      break;
  }
}

void put32(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
}

void chunk(std::string& file, const char* type, const std::string& data) {
  put32(file, static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  file += body;
  put32(file, static_cast<std::uint32_t>(libdeflate_crc32(0, body.data(), body.size())));
}

bool encodePng(const Picture& p, const std::string& path, libdeflate_compressor* compressor) {
  const std::size_t n = static_cast<std::size_t>(p.width) * 3;
  std::vector<std::uint8_t> filtered((n + 1) * static_cast<std::size_t>(p.height)), trial(n), zeros(n, 0);
  for (int y = 0; y < p.height; ++y) {
    const std::uint8_t* row = p.rgb.data() + n * static_cast<std::size_t>(y);
    const std::uint8_t* prev = y > 0 ? row - n : zeros.data();
    std::uint8_t* o = filtered.data() + (n + 1) * static_cast<std::size_t>(y);
    std::uint64_t best = ~std::uint64_t{0};
    for (int kind = 0; kind < 5; ++kind) {
      filterRow(kind, row, prev, n, trial.data());
      std::uint64_t sum = 0;
      for (std::size_t i = 0; i < n; ++i) sum += static_cast<std::uint64_t>(std::abs(static_cast<std::int8_t>(trial[i])));
      if (sum < best) {
        best = sum;
        o[0] = static_cast<std::uint8_t>(kind);
        std::memcpy(o + 1, trial.data(), n);
      }
    }
  }
  std::string stream(libdeflate_zlib_compress_bound(compressor, filtered.size()), '\0');
  stream.resize(libdeflate_zlib_compress(compressor, filtered.data(), filtered.size(), stream.data(), stream.size()));
  std::string header;
  put32(header, static_cast<std::uint32_t>(p.width));
  put32(header, static_cast<std::uint32_t>(p.height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, adaptive, no interlace
  std::string file = "\x89PNG\r\n\x1a\n";
  chunk(file, "IHDR", header);
  chunk(file, "IDAT", stream);
  chunk(file, "IEND", "");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  return std::fclose(f) == 0 && ok;
}

bool encodeTiffLzw(const Picture& p, const std::string& path) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) return false;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP,
               std::min<std::uint32_t>(std::max<std::uint32_t>(TIFFDefaultStripSize(t, 0), 128),
                                       static_cast<std::uint32_t>(p.height)));
  // libtiff's predictor changes the row it is given: each goes through a copy.
  const std::size_t n = static_cast<std::size_t>(p.width) * 3;
  std::vector<std::uint8_t> row(n);
  bool ok = true;
  for (int y = 0; ok && y < p.height; ++y) {
    std::memcpy(row.data(), p.rgb.data() + n * static_cast<std::size_t>(y), n);
    ok = TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) >= 0;
  }
  TIFFClose(t);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: codec_floor <png|jpeg-half|tiff-lzw> <output folder> <jpeg>...\n");
    return 2;
  }
  const std::string work = argv[1], out = argv[2];
  if (work != "png" && work != "jpeg-half" && work != "tiff-lzw") {
    std::fprintf(stderr, "codec_floor: unknown workload %s\n", work.c_str());
    return 2;
  }
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
  for (int i = 3; i < argc; ++i) {
    std::string stem = argv[i];
    stem = stem.substr(stem.rfind('/') + 1);
    stem = out + "/" + stem.substr(0, stem.rfind('.'));
    Picture picture;
    if (!decodeJpeg(argv[i], work == "jpeg-half" ? 2 : 1, picture)) {
      std::fprintf(stderr, "codec_floor: cannot read %s\n", argv[i]);
      return 1;
    }
    const bool ok = work == "png"         ? encodePng(picture, stem + ".png", compressor)
                    : work == "jpeg-half" ? encodeJpeg(picture, stem + ".jpg")
                                          : encodeTiffLzw(picture, stem + ".tif");
    if (!ok) {
      std::fprintf(stderr, "codec_floor: cannot write %s\n", stem.c_str());
      return 1;
    }
  }
  libdeflate_free_compressor(compressor);
  return 0;
}
