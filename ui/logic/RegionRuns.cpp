#include "ui/logic/RegionRuns.h"

#include <cstdlib>
#include <cstring>

namespace {

const std::uint32_t kRectanglesType = 1;
const std::int32_t kLargest = 0x7FFFFFFF;

struct RectList {
    unsigned char* block;
    std::size_t capacity;
    std::uint32_t count;
    std::int32_t bounds[4];  // left, top, right, bottom
};

std::size_t BlockSize(std::size_t capacity)
{
    return kRegionHeaderSize + capacity * kRegionRectSize;
}

void Put32(unsigned char* at, std::uint32_t value)
{
    std::memcpy(at, &value, sizeof value);
}

void PutSigned32(unsigned char* at, std::int32_t value)
{
    std::memcpy(at, &value, sizeof value);
}

void ResetList(RectList& list)
{
    list.count = 0;
    list.bounds[0] = kLargest;
    list.bounds[1] = kLargest;
    list.bounds[2] = 0;
    list.bounds[3] = 0;
}

void HandOver(RectList& list, RegionBatchSink sink, void* context)
{
    Put32(list.block, kRegionHeaderSize);
    Put32(list.block + 4, kRectanglesType);
    Put32(list.block + 8, list.count);
    Put32(list.block + 12, 0);
    for (int i = 0; i < 4; ++i) PutSigned32(list.block + 16 + 4 * i, list.bounds[i]);
    sink(list.block, BlockSize(list.capacity), context);
    ResetList(list);
}

bool AddRectangle(RectList& list, const std::int32_t rect[4], RegionBatchSink sink, void* context)
{
    if (list.count == list.capacity) {
        std::size_t capacity = list.capacity + kRegionCapacityStep;
        unsigned char* grown = static_cast<unsigned char*>(std::realloc(list.block, BlockSize(capacity)));
        if (!grown) return false;
        list.block = grown;
        list.capacity = capacity;
    }
    unsigned char* at = list.block + kRegionHeaderSize + list.count * kRegionRectSize;
    for (int i = 0; i < 4; ++i) PutSigned32(at + 4 * i, rect[i]);
    if (rect[0] < list.bounds[0]) list.bounds[0] = rect[0];
    if (rect[1] < list.bounds[1]) list.bounds[1] = rect[1];
    if (rect[2] > list.bounds[2]) list.bounds[2] = rect[2];
    if (rect[3] > list.bounds[3]) list.bounds[3] = rect[3];
    ++list.count;
    if (list.count == kRegionBatchLimit) HandOver(list, sink, context);
    return true;
}

bool InOutline(const unsigned char* pixel, std::uint32_t keyColour, int mode)
{
    bool isKey = pixel[2] == (keyColour & 0xFF) && pixel[1] == ((keyColour >> 8) & 0xFF) &&
                 pixel[0] == ((keyColour >> 16) & 0xFF);
    return mode != 0 ? !isKey : isKey;
}

}  // namespace

std::size_t AlignedRowStride(std::size_t bytesPerRow)
{
    return (bytesPerRow + 3) & ~static_cast<std::size_t>(3);
}

bool CollectRegionRuns(const PixelRows& image, std::uint32_t keyColour, int mode, RegionBatchSink sink,
                       void* context)
{
    RectList list;
    list.capacity = kRegionCapacityStep;
    list.block = static_cast<unsigned char*>(std::malloc(BlockSize(list.capacity)));
    if (!list.block) return false;
    ResetList(list);

    bool complete = true;
    for (int y = 0; y < image.height && complete; ++y) {
        std::size_t memoryRow = static_cast<std::size_t>(image.bottomUp ? image.height - 1 - y : y);
        const unsigned char* row = image.bits + memoryRow * image.stride;
        int x = 0;
        while (x < image.width) {
            int start = x;
            while (x < image.width && InOutline(row + 4 * x, keyColour, mode)) ++x;
            if (x > start) {
                const std::int32_t rect[4] = {start, y, x, y + 1};
                if (!AddRectangle(list, rect, sink, context)) {
                    complete = false;
                    break;
                }
            }
            ++x;  // the pixel that ended the run belongs to no run
        }
    }
    if (complete) HandOver(list, sink, context);
    std::free(list.block);
    return complete;
}
