#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ui/logic/ChildScaling.h"
#include "ui/logic/RegionRuns.h"

namespace {

const std::uint32_t kMagenta = 0xFF00FF;

struct Rect {
    std::int32_t left, top, right, bottom;
};
bool operator==(const Rect& a, const Rect& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
std::ostream& operator<<(std::ostream& out, const Rect& r)
{
    return out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

std::uint32_t Read32(const unsigned char* at)
{
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

Rect ReadRect(const unsigned char* at)
{
    Rect rect;
    std::memcpy(&rect, at, sizeof rect);
    return rect;
}

// One handed-over block, decoded.
struct Batch {
    std::size_t blockSize;
    std::uint32_t headerSize, type, count, regionSize;
    Rect bounds;
    std::vector<Rect> rects;
};

void RecordBatch(const unsigned char* block, std::size_t blockSize, void* context)
{
    Batch batch;
    batch.blockSize = blockSize;
    batch.headerSize = Read32(block);
    batch.type = Read32(block + 4);
    batch.count = Read32(block + 8);
    batch.regionSize = Read32(block + 12);
    batch.bounds = ReadRect(block + 16);
    for (std::uint32_t i = 0; i < batch.count && kRegionHeaderSize + (i + 1) * kRegionRectSize <= blockSize; ++i) {
        batch.rects.push_back(ReadRect(block + kRegionHeaderSize + i * kRegionRectSize));
    }
    static_cast<std::vector<Batch>*>(context)->push_back(batch);
}

// A 32-bit bottom-up image, given top row first: '.' is the key colour,
// '#' blue, 'r', 'R' and 'b' colours that differ from the key in green,
// red and blue only, 'k' the key with its fourth byte set. Rows carry
// `padding` spare bytes.
struct Image {
    std::vector<unsigned char> bits;
    PixelRows rows;
};

void MakeImage(const std::vector<std::string>& picture, Image& image, std::size_t padding = 0)
{
    int width = static_cast<int>(picture.empty() ? 0 : picture[0].size());
    int height = static_cast<int>(picture.size());
    std::size_t stride = static_cast<std::size_t>(width) * 4 + padding;
    image.bits.assign(stride * static_cast<std::size_t>(height), 0xEE);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = image.bits.data() + static_cast<std::size_t>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            unsigned char* pixel = row + 4 * x;
            switch (picture[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]) {
            case '.': pixel[0] = 255; pixel[1] = 0; pixel[2] = 255; pixel[3] = 0; break;
            case 'k': pixel[0] = 255; pixel[1] = 0; pixel[2] = 255; pixel[3] = 0xFF; break;
            case 'r': pixel[0] = 255; pixel[1] = 1; pixel[2] = 255; pixel[3] = 0; break;
            case 'R': pixel[0] = 255; pixel[1] = 0; pixel[2] = 254; pixel[3] = 0; break;
            case 'b': pixel[0] = 254; pixel[1] = 0; pixel[2] = 255; pixel[3] = 0; break;
            default: pixel[0] = 246; pixel[1] = 77; pixel[2] = 2; pixel[3] = 0; break;
            }
        }
    }
    image.rows = {image.bits.data(), width, height, stride, true};
}

std::vector<Batch> Collect(const PixelRows& rows, int mode, bool* complete = nullptr)
{
    std::vector<Batch> batches;
    bool done = CollectRegionRuns(rows, kMagenta, mode, RecordBatch, &batches);
    if (complete) *complete = done;
    return batches;
}

// Which pixels of a width x height area the rectangles of all batches
// cover, row by row; a pixel covered twice shows as '2'.
std::vector<std::string> Coverage(const std::vector<Batch>& batches, int width, int height)
{
    std::string emptyRow(static_cast<std::size_t>(width), '.');
    std::vector<std::string> covered(static_cast<std::size_t>(height), emptyRow);
    for (const Batch& batch : batches) {
        for (const Rect& r : batch.rects) {
            for (int y = r.top; y < r.bottom; ++y) {
                for (int x = r.left; x < r.right; ++x) {
                    if (y < 0 || y >= height || x < 0 || x >= width) continue;
                    char& at = covered[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
                    at = at == '.' ? '#' : '2';
                }
            }
        }
    }
    return covered;
}

std::size_t BlockSizeFor(std::size_t capacity)
{
    return kRegionHeaderSize + capacity * kRegionRectSize;
}

const Rect kResetBounds = {0x7FFFFFFF, 0x7FFFFFFF, 0, 0};

}  // namespace

TEST(WindowRegionTest, EachRunOfARowBecomesOneRectangle)
{
    Image image;
    MakeImage({
                  "........",  // only the key: nothing
                  "########",
                  "#.#.#.#.",  // alternating: one rectangle per run
                  ".##..###",
                  "kk#rkk.k",  // the fourth byte is not looked at; one channel off is not the key
                  "R.b.....",  // red or blue off is not the key either
              },
              image, 12);
    std::vector<Batch> batches = Collect(image.rows, 1);
    ASSERT_EQ(1u, batches.size());
    const Batch& batch = batches[0];
    EXPECT_EQ(32u, batch.headerSize);
    EXPECT_EQ(1u, batch.type);
    EXPECT_EQ(0u, batch.regionSize);
    EXPECT_EQ(BlockSizeFor(100), batch.blockSize);
    const std::vector<Rect> expected = {
        {0, 1, 8, 2},                                              // full row
        {0, 2, 1, 3}, {2, 2, 3, 3}, {4, 2, 5, 3}, {6, 2, 7, 3},    // alternating
        {1, 3, 3, 4}, {5, 3, 8, 4},
        {2, 4, 4, 5},
        {0, 5, 1, 6}, {2, 5, 3, 6},
    };
    EXPECT_EQ(expected, batch.rects);
    EXPECT_EQ(expected.size(), batch.count);
    EXPECT_EQ((Rect{0, 1, 8, 6}), batch.bounds);
}

TEST(WindowRegionTest, ModeZeroGivesTheComplement)
{
    const std::vector<std::string> picture = {
        "..##..#.#", "#########", ".........", "#..k..r.#", "k.k.k.k.k",
    };
    Image image;
    MakeImage(picture, image);
    std::vector<std::string> outline = Coverage(Collect(image.rows, 1), 9, 5);
    std::vector<std::string> keyed = Coverage(Collect(image.rows, 0), 9, 5);
    for (std::size_t y = 0; y < picture.size(); ++y) {
        SCOPED_TRACE(y);
        for (std::size_t x = 0; x < picture[y].size(); ++x) {
            bool key = picture[y][x] == '.' || picture[y][x] == 'k';
            EXPECT_EQ(key ? '.' : '#', outline[y][x]) << "x " << x;
            EXPECT_EQ(key ? '#' : '.', keyed[y][x]) << "x " << x;
        }
    }
}

TEST(WindowRegionTest, ManyRunsAreHandedOverInBatchesOf2000)
{
    struct Row {
        int width, height;
        std::vector<std::uint32_t> counts;  // per batch
    };
    const Row rows[] = {
        {101, 50, {2000, 550}},  // 51 runs a row: the first batch ends inside row 39
        {100, 40, {2000, 0}},    // exactly 2000: the last batch is empty
        {100, 90, {2000, 2000, 500}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.width * 1000 + row.height);
        std::string line;
        for (int x = 0; x < row.width; ++x) line += x % 2 == 0 ? '#' : '.';
        std::vector<std::string> picture(static_cast<std::size_t>(row.height), line);
        Image image;
        MakeImage(picture, image);
        std::vector<Batch> batches = Collect(image.rows, 1);
        ASSERT_EQ(row.counts.size(), batches.size());
        for (std::size_t i = 0; i < batches.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(row.counts[i], batches[i].count);
            // The capacity grew to 2000 and is never reduced.
            EXPECT_EQ(BlockSizeFor(2000), batches[i].blockSize);
            if (batches[i].rects.empty()) {
                EXPECT_EQ(kResetBounds, batches[i].bounds);
                continue;
            }
            // Bounds start afresh with every batch.
            Rect first = batches[i].rects.front(), last = batches[i].rects.back();
            EXPECT_EQ(first.top, batches[i].bounds.top);
            EXPECT_EQ(last.bottom, batches[i].bounds.bottom);
        }
        // Together the batches cover every run once and nothing else.
        EXPECT_EQ(picture, Coverage(batches, row.width, row.height));
    }
}

namespace {

// The shipped skin as GDI's 32-bit copy holds it: an 8-bit bottom-up BMP
// with a colour table, turned into blue, green, red, 0 pixels.
bool LoadSkinAs32Bit(std::vector<unsigned char>& bits, int& width, int& height)
{
    std::ifstream file(std::string(QUELLOR_SOURCE_DIR) + "/resources/bitmaps/skin.bmp", std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') return false;
    std::uint32_t pixelOffset = Read32(&data[10]), headerSize = Read32(&data[14]);
    std::int32_t w, h;
    std::memcpy(&w, &data[18], 4);
    std::memcpy(&h, &data[22], 4);
    std::uint16_t depth;
    std::memcpy(&depth, &data[28], 2);
    if (depth != 8 || w <= 0 || h <= 0) return false;
    const unsigned char* palette = &data[14 + headerSize];
    std::size_t sourceStride = (static_cast<std::size_t>(w) + 3) & ~static_cast<std::size_t>(3);
    if (pixelOffset + sourceStride * static_cast<std::size_t>(h) > data.size()) return false;
    width = w;
    height = h;
    bits.assign(static_cast<std::size_t>(w) * 4 * static_cast<std::size_t>(h), 0);
    const std::size_t columns = static_cast<std::size_t>(w);
    for (std::size_t row = 0; row < static_cast<std::size_t>(h); ++row) {
        for (std::size_t x = 0; x < columns; ++x) {
            unsigned index = data[pixelOffset + row * sourceStride + x];
            std::memcpy(&bits[(row * columns + x) * 4], palette + 4 * index, 3);
        }
    }
    return true;
}

}  // namespace

TEST(WindowRegionTest, TheShippedSkinIsOneRectanglePerRow)
{
    std::vector<unsigned char> bits;
    int width = 0, height = 0;
    ASSERT_TRUE(LoadSkinAs32Bit(bits, width, height));
    ASSERT_EQ(527, width);
    ASSERT_EQ(338, height);
    PixelRows rows = {bits.data(), width, height, AlignedRowStride(static_cast<std::size_t>(width) * 4), true};

    std::vector<Batch> batches = Collect(rows, 1);
    ASSERT_EQ(1u, batches.size());
    EXPECT_EQ(338u, batches[0].count);
    ASSERT_EQ(338u, batches[0].rects.size());
    for (int y = 0; y < 338; ++y) EXPECT_EQ((Rect{0, y, 527, y + 1}), batches[0].rects[static_cast<std::size_t>(y)]);
    EXPECT_EQ((Rect{0, 0, 527, 338}), batches[0].bounds);

    // No pixel of the key colour: the complement is empty.
    batches = Collect(rows, 0);
    ASSERT_EQ(1u, batches.size());
    EXPECT_EQ(0u, batches[0].count);
    EXPECT_EQ(kResetBounds, batches[0].bounds);
}

TEST(WindowRegionTest, RowStrideIsRoundedUpToFourBytes)
{
    const std::size_t rows[][2] = {{0, 0}, {1, 4}, {4, 4}, {2108, 2108}, {2109, 2112}, {2111, 2112}};
    for (const auto& row : rows) EXPECT_EQ(row[1], AlignedRowStride(row[0])) << row[0];
}

TEST(ChildScalingTest, ChildrenAreDividedByTheFactors)
{
    struct Row {
        int clientWidth, clientHeight;
        int left, top, right, bottom;
        LayoutRect expected;
    };
    const Row rows[] = {
        // Exactly the design size: factors 1.0, nothing moves.
        {600, 337, 12, 40, 192, 73, {12, 40, 180, 33}},
        {600, 337, 0, 0, 600, 337, {0, 0, 600, 337}},
        {600, 337, -5, -7, 3, 2, {-5, -7, 8, 9}},
        // 524 x 340: 14.5 percent wider, 0.9 percent lower.
        {524, 340, 0, 0, 600, 337, {0, 0, 687, 334}},
        {524, 340, 100, 200, 300, 250, {114, 198, 229, 49}},
        // Truncation toward zero on both sides of the origin.
        {524, 340, -10, -10, 10, 10, {-11, -9, 22, 18}},
        // Twice the design size: everything halves.
        {1200, 674, 101, 51, 301, 151, {50, 25, 100, 50}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.clientWidth * 10000 + row.left);
        ScaleFactors factors = ScaleFactorsFor(row.clientWidth, row.clientHeight, 600, 337);
        LayoutRect scaled = {-1, -1, -1, -1};
        ASSERT_TRUE(ScaleChildRect(row.left, row.top, row.right, row.bottom, factors, scaled));
        EXPECT_EQ(row.expected.x, scaled.x);
        EXPECT_EQ(row.expected.y, scaled.y);
        EXPECT_EQ(row.expected.width, scaled.width);
        EXPECT_EQ(row.expected.height, scaled.height);
    }
}

TEST(ChildScalingTest, WithoutUsableFactorsChildrenStay)
{
    struct Row {
        int clientWidth, clientHeight, designWidth, designHeight;
    };
    const Row rows[] = {{0, 337, 600, 337}, {600, 0, 600, 337}, {600, 337, 0, 337}, {600, 337, 600, -1},
                        {-600, 337, 600, 337}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.clientWidth * 10000 + row.designWidth);
        LayoutRect scaled = {7, 7, 7, 7};
        ScaleFactors factors = ScaleFactorsFor(row.clientWidth, row.clientHeight, row.designWidth, row.designHeight);
        EXPECT_FALSE(ScaleChildRect(10, 10, 20, 20, factors, scaled));
        EXPECT_TRUE((scaled == LayoutRect{7, 7, 7, 7}));
    }
    // An edge that would not fit an int is refused, not wrapped.
    LayoutRect scaled = {7, 7, 7, 7};
    EXPECT_FALSE(ScaleChildRect(0, 0, 2000000000, 10, ScaleFactorsFor(1, 337, 600, 337), scaled));
}
