// The counting half of cutting a window's outline from a bitmap, free of any
// window: every row of a 32-bit image becomes one-pixel-high rectangles, one
// per run of pixels that belong to the outline, collected in a block laid out
// as the platform's region data (RGNDATA) and handed over in batches, so the
// caller only turns each batch into a region and unites them.
#pragma once

#include <cstddef>
#include <cstdint>

// A 32-bit image in memory: each pixel is blue, green, red and a fourth byte
// that is not looked at; rows lie `stride` bytes apart, the bottom row first
// when `bottomUp` is set.
struct PixelRows {
    const unsigned char* bits;
    int width;
    int height;
    std::size_t stride;
    bool bottomUp;
};

// The region-data block: a 32-byte header (header size, type 1 for
// rectangles, rectangle count, region size 0, bounding rectangle), then room
// for a capacity of 16-byte rectangles (left, top, right, bottom) that grows
// 100 at a time and is never reduced.
const std::size_t kRegionHeaderSize = 32;
const std::size_t kRegionRectSize = 16;
const std::size_t kRegionCapacityStep = 100;
// A batch is handed over as soon as it holds this many rectangles.
const std::uint32_t kRegionBatchLimit = 2000;

// Receives one batch: the block and its full size (header and capacity,
// whatever the count). The block belongs to the caller of CollectRegionRuns
// and changes after the call.
typedef void (*RegionBatchSink)(const unsigned char* block, std::size_t blockSize, void* context);

// Bytes per row of a 32-bit image of `bytesPerRow`, rounded up to a multiple
// of 4.
std::size_t AlignedRowStride(std::size_t bytesPerRow);

// Walks the image from its top row down. With `mode` nonzero a pixel belongs
// to the outline when its red, green and blue are not all those of
// `keyColour` (0x00BBGGRR); with mode zero when they all are. Hands over a
// batch at every 2000 rectangles and once more at the end, even when that
// last batch is empty. False when the block could not be allocated or grown:
// the batches handed over so far then describe only part of the outline and
// must be thrown away.
bool CollectRegionRuns(const PixelRows& image, std::uint32_t keyColour, int mode, RegionBatchSink sink,
                       void* context);
