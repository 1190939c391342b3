#pragma once
// What the codecs of today's photo formats (WebP, AVIF, HEIC, JPEG XL) share:
// the layout a save hands its encoder, decoded rows turned into pages, the
// pages a load keeps, the threads they may use, and their metadata, which
// these containers hold as chunks, items or boxes of their own.
//
// Quality and effort, as the format table gives them, map onto each library
// as follows (our quality 0 .. 100 always rises with the quality):
// - WebP: quality as libwebp's (cwebp's default 80); effort 0 .. 6 is its
//   method (default 4). Lossless keeps every pixel, under alpha 0 too.
// - AVIF: quality q picks the AV1 quantizer round(63 (100 - q) / 100) for
//   colour and alpha (q 60 gives 25, and files of the size libvips writes
//   at its Q 60); speed 0 .. 10 is libavif's. The default 6 writes a
//   12-megapixel photo in 2.7 s on two cores, 5 % larger than speed 5 in a
//   third of its time. Lossy colour is 4:2:0 below quality 90, else 4:4:4; lossless
//   is 4:4:4 with the identity matrix.
// - HEIC: quality as libheif's (its default 50); speed 0 .. 9 picks x265's
//   preset, from placebo (0) to ultrafast (9). The default 5 (fast) takes
//   60 % of the time of libheif's own default (slow, speed 3) for files 8 %
//   larger; 4:4:4 colour from quality 90.
// - JPEG XL: quality q becomes the distance cjxl gives it: 0.1 + (100 - q)
//   0.09 from 30 up (90, the default, is distance 1.0, visually lossless),
//   below that 6.4 + 2.5^((30 - q) / 5) / 6.25, at most libjxl's largest,
//   25 (from quality 4 down); effort 1 .. 9 is libjxl's.
//   The default 5 writes a 12-megapixel photo in 2.3 s with 0.55 GB,
//   where libjxl's own 7 takes 6.8 s and 1.1 GB for a file of the same
//   size.

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/image.h"

namespace pv::engine::codecs::modern {

// The channels a save of `image` at `bits` (0: its own depth) gives its
// encoder: 4 (R G B A) at 32 bits, or at its own depth when it has alpha or
// a transparent colour; 1 (grey) at 8 bits or a grey source's own depth,
// where the format holds grey; else 3.
int channelsFor(const Image& image, int bits, bool greyHeld);

// The pixels as contiguous 8-bit rows of `channels` (1 grey, 3 R G B,
// 4 R G B A); transparency becomes alpha.
cv::Mat encoderRows(const Image& image, int channels);

// The frames of an animation or sequence, which share one size: each page's
// rows of `channels`, the smaller ones at the top left of a canvas as large
// as the largest page. Pages of different sizes get alpha (`channels`
// becomes 4), so the canvas around them is transparent.
std::vector<cv::Mat> frameRows(const std::vector<Image>& pages, int& channels);

// A page from decoded contiguous 8-bit rows (grey, R G B or R G B A),
// copied: 8, 24 or 32 bits.
Image pageOf(const cv::Mat& rows);

// The number of pages a load needs decoded, counted from the first: every
// one for a count of -1.
int pagesNeeded(int page, int pageCount, int available);

// A library's status for a save: what it calls damaged input is, said of
// our own pixels, a failure.
short saveStatus(short libraryStatus);

// The threads an encoder or decoder may use: one per core.
int threads();

// True when `width` x `height` is within the decoder limit.
bool withinLimit(std::uint64_t width, std::uint64_t height);

}  // namespace pv::engine::codecs::modern
