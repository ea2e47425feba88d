// The backdrop: bitmap files of every depth read and tiled, every malformed or unreadable file
// refused with its message and nothing left held, and the path built beside the installer.
#include <gtest/gtest.h>

#include <string.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "ui/Background.h"

namespace {

const char TEST_CLASS[] = "BackdropTest";
const char BITMAP_PATH[] = "C:\\DIST\\pic.bmp";
const COLORREF WORKSPACE_GREY = RGB(128, 128, 128);

// ---- Bitmap files, byte by byte ----------------------------------------------------------------

void Put16(std::string &out, unsigned value)
{
    out += (char)(value & 0xFF);
    out += (char)((value >> 8) & 0xFF);
}

void Put32(std::string &out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::string Quad(COLORREF color)
{
    return std::string{ (char)GetBValue(color), (char)GetGValue(color), (char)GetRValue(color), 0 };
}

// A bitmap file: header fields as written, then `table` (colour entries or masks) and `pixels`.
// bfOffBits is 14 + headerSize + the table unless `offBits` says otherwise.
struct Dib {
    std::string type = "BM";
    uint32_t headerSize = 40;
    int32_t width = 1, height = 1;
    uint16_t planes = 1, bitCount = 24;
    uint32_t compression = BI_RGB;
    uint32_t sizeImage = 0;
    uint32_t colorsUsed = 0;
    std::string headerTail;  // bytes after the first 40 of a longer header
    std::string table;
    std::string pixels;
    int64_t offBits = -1;

    std::string File() const
    {
        std::string header;
        Put32(header, headerSize);
        Put32(header, (uint32_t)width);
        Put32(header, (uint32_t)height);
        Put16(header, planes);
        Put16(header, bitCount);
        Put32(header, compression);
        Put32(header, sizeImage);
        Put32(header, 2835);
        Put32(header, 2835);
        Put32(header, colorsUsed);
        Put32(header, 0);
        header += headerTail;
        header.resize(headerSize < 40 ? 40 : headerSize, '\0');
        uint32_t off = offBits >= 0 ? (uint32_t)offBits : (uint32_t)(14 + header.size() + table.size());
        std::string file = type.substr(0, 2);
        Put32(file, (uint32_t)(14 + header.size() + table.size() + pixels.size()));
        Put32(file, 0);
        Put32(file, off);
        return file + header + table + pixels;
    }
};

// Rows of `bitCount` bits per pixel, padded to 4 bytes, bottom row first unless top-down; `value`
// gives the palette index or pixel value at (x, y), y counted from the top.
std::string PackRows(int width, int height, int bitCount, bool topDown, const std::function<uint32_t(int, int)> &value)
{
    int stride = ((width * bitCount + 31) / 32) * 4;
    std::string pixels;
    for (int row = 0; row < height; row++) {
        int y = topDown ? row : height - 1 - row;
        std::string line(stride, '\0');
        for (int x = 0; x < width; x++) {
            uint32_t v = value(x, y);
            int bit = x * bitCount;
            if (bitCount < 8) {
                line[bit / 8] = (char)(line[bit / 8] | (v << (8 - bitCount - bit % 8)));
            } else {
                for (int b = 0; b < bitCount / 8; b++)
                    line[bit / 8 + b] = (char)((v >> (8 * b)) & 0xFF);
            }
        }
        pixels += line;
    }
    return pixels;
}

uint32_t Bgr(COLORREF color)
{
    return (uint32_t)GetBValue(color) | ((uint32_t)GetGValue(color) << 8) | ((uint32_t)GetRValue(color) << 16);
}

// A valid bitmap of `width` x `height` whose pixel (x, y) has colour `colors[(x + 2 * y) % 4]`.
const COLORREF COLORS[] = { RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255) };

COLORREF ColorAt(int x, int y)
{
    return COLORS[(x + 2 * y) % 4];
}

uint32_t IndexAt(int x, int y)
{
    return (uint32_t)((x + 2 * y) % 4);
}

Dib Indexed(int bitCount, int width, int height, uint32_t colorsUsed)
{
    Dib dib;
    dib.width = width;
    dib.height = height;
    dib.bitCount = (uint16_t)bitCount;
    dib.colorsUsed = colorsUsed;
    int entries = colorsUsed != 0 ? (int)colorsUsed : 1 << bitCount;
    for (int i = 0; i < entries; i++)
        dib.table += Quad(i < 4 ? COLORS[i] : RGB(1, 2, 3));
    // A 1-bit bitmap has two colours: its pattern only takes indexes 0 and 1.
    std::function<uint32_t(int, int)> index = IndexAt;
    if (bitCount == 1)
        index = [](int x, int y) { return (uint32_t)((x + y) % 2); };
    dib.pixels = PackRows(width, height, bitCount, false, index);
    return dib;
}

Dib TrueColor(int bitCount, int width, int height, bool topDown = false)
{
    Dib dib;
    dib.width = width;
    dib.height = topDown ? -height : height;
    dib.bitCount = (uint16_t)bitCount;
    dib.pixels = PackRows(width, height, bitCount, topDown, [](int x, int y) { return Bgr(ColorAt(x, y)); });
    return dib;
}

// An OS/2 1.x file: a 12-byte core header (WORD fields), `entries` RGB triples and the pixels of
// the same pattern as Indexed and TrueColor give.
std::string CoreFile(int bitCount, int width, int height, int entries)
{
    std::string header;
    Put32(header, 12);
    Put16(header, (unsigned)width);
    Put16(header, (unsigned)height);
    Put16(header, 1);
    Put16(header, (unsigned)bitCount);
    std::string table;
    for (int i = 0; i < entries; i++)
        table += Quad(i < 4 ? COLORS[i] : RGB(1, 2, 3)).substr(0, 3);
    std::string pixels;
    if (bitCount <= 8)
        pixels = PackRows(width, height, bitCount, false,
                          bitCount == 1 ? [](int x, int y) { return (uint32_t)((x + y) % 2); } : IndexAt);
    else
        pixels = PackRows(width, height, bitCount, false, [](int x, int y) { return Bgr(ColorAt(x, y)); });
    std::string file = "BM";
    Put32(file, (uint32_t)(14 + header.size() + table.size() + pixels.size()));
    Put32(file, 0);
    Put32(file, (uint32_t)(14 + header.size() + table.size()));
    return file + header + table + pixels;
}

// ---- The test window: the main window's backdrop messages, nothing else ----------------------

LRESULT CALLBACK BackdropProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return BackgroundCreate(window, wParam, lParam);
    case WM_SIZE: return BackgroundSize(window, wParam, lParam);
    case WM_ERASEBKGND: return BackgroundErase(window, wParam, lParam);
    case WM_PAINT: return BackgroundPaint(window, wParam, lParam);
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

class BackgroundTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        memset(&State, 0, sizeof State);
        State.Instance = sim::Instance();
        LoadStringA(State.Instance, IDS_CLASS_NAME, State.ClassName, NAME_CAPACITY);
        WNDCLASSA windowClass;
        memset(&windowClass, 0, sizeof windowClass);
        windowClass.lpfnWndProc = BackdropProc;
        windowClass.hInstance = State.Instance;
        windowClass.hbrBackground = (HBRUSH)(INT_PTR)(COLOR_APPWORKSPACE + 1);
        windowClass.lpszClassName = TEST_CLASS;
        RegisterClassA(&windowClass);
        sim::SetUser(AnswerAll(IDOK));
        objectsBefore = sim::LiveGdiObjects();
    }

    void TearDown() override
    {
        DeleteBackground();
        if (window != NULL)
            DestroyWindow(window);
        window = NULL;
        SimTest::TearDown();
        memset(&State, 0, sizeof State);
    }

    // A fresh world for the next row of a table.
    void Restart()
    {
        TearDown();
        SetUp();
    }

    // Creates the window, whose creation loads `name` beside the installer.
    HWND Open(const char *name, int width = 64, int height = 48)
    {
        CopyString(State.BitmapName, VALUE_CAPACITY, name);
        window = CreateWindowExA(0, TEST_CLASS, "", WS_POPUP, 0, 0, width, height, NULL, NULL, State.Instance, NULL);
        return window;
    }

    HWND OpenFile(const std::string &bytes, int width = 64, int height = 48)
    {
        sim::PutFile(BITMAP_PATH, bytes);
        return Open("pic.bmp", width, height);
    }

    // Exactly one message box: string `id` with `argument`, of `type`, captioned with the class
    // name and owned by the window; and nothing of the load left held.
    void ExpectOnlyBox(UINT id, const std::string &argument, UINT type)
    {
        ASSERT_EQ(sim::MessageBoxes().size(), 1u) << ::testing::PrintToString(BoxTexts());
        const sim::MessageBoxRecord &box = sim::MessageBoxes()[0];
        EXPECT_EQ(box.text, ResourceText(id, argument));
        EXPECT_EQ(box.type, type);
        EXPECT_EQ(box.caption, "Install");
        EXPECT_EQ(box.owner, window);
        EXPECT_TRUE(box.owner != NULL);
        ExpectNothingHeld();
    }

    void ExpectNothingHeld()
    {
        EXPECT_EQ(State.BackgroundBitmap, (HBITMAP)NULL);
        EXPECT_EQ(sim::LiveGdiObjects(), objectsBefore);
        EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
        EXPECT_EQ(sim::OpenFileHandles(), 0);
        EXPECT_EQ(sim::LiveDeviceContexts(), 0);
    }

    // Paints the window and checks that every client pixel shows the tile's pixel at its place.
    void ExpectTiled(int tileWidth, int tileHeight, const std::function<COLORREF(int, int)> &color)
    {
        ASSERT_NE(State.BackgroundBitmap, (HBITMAP)NULL) << ::testing::PrintToString(BoxTexts());
        EXPECT_TRUE(sim::MessageBoxes().empty());
        EXPECT_EQ(BackgroundPaint(window, 0, 0), 0);
        sim::Pixels pixels = sim::WindowPixels(window);
        int wrong = 0;
        for (int y = 0; y < pixels.height; y++) {
            for (int x = 0; x < pixels.width; x++) {
                if (pixels.at(x, y) != color(x % tileWidth, y % tileHeight) && wrong++ < 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << pixels.at(x, y);
            }
        }
        EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
        EXPECT_EQ(sim::OpenFileHandles(), 0);
        EXPECT_EQ(sim::LiveDeviceContexts(), 0);
    }

    HWND window = NULL;
    int objectsBefore = 0;
};

// ---- Files that load -------------------------------------------------------------------------

TEST_F(BackgroundTest, EveryDepthLoadsWithItsColours)
{
    struct Row {
        const char *name;
        Dib dib;
        std::function<COLORREF(int, int)> color;
    } rows[] = {
        { "1 bit, two colours, rows padded", Indexed(1, 5, 3, 0),
          [](int x, int y) { return COLORS[(x + y) % 2]; } },
        { "4 bits, a full table", Indexed(4, 3, 2, 0), ColorAt },
        { "4 bits, four colours used", Indexed(4, 3, 2, 4), ColorAt },
        { "8 bits, four colours used", Indexed(8, 5, 3, 4), ColorAt },
        { "8 bits, a full table", Indexed(8, 2, 2, 0), ColorAt },
        { "24 bits, rows padded", TrueColor(24, 3, 2), ColorAt },
        { "32 bits", TrueColor(32, 2, 3), ColorAt },
        { "24 bits top-down", TrueColor(24, 3, 2, true), ColorAt },
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        OpenFile(row.dib.File(), row.dib.width * 2 + 1, 5);
        ExpectTiled(row.dib.width, row.dib.height < 0 ? -row.dib.height : row.dib.height, row.color);
    }
}

TEST_F(BackgroundTest, HeaderVariantsThatWindowsTakesLoadToo)
{
    auto with = [](const std::function<void(Dib &)> &change) {
        Dib dib = TrueColor(24, 3, 2);
        change(dib);
        return dib;
    };
    // 2 x 2 pixels of 16 bits, 5-6-5, whose masks follow a 40-byte header or lie inside a longer one.
    auto bitfields = [](uint32_t headerSize) {
        Dib dib;
        dib.headerSize = headerSize;
        dib.width = 2;
        dib.height = 2;
        dib.bitCount = 16;
        dib.compression = BI_BITFIELDS;
        std::string masks;
        Put32(masks, 0xF800);
        Put32(masks, 0x07E0);
        Put32(masks, 0x001F);
        (headerSize == 40 ? dib.table : dib.headerTail) = masks;
        static const uint32_t values[] = { 0xF800, 0x07E0, 0x001F, 0xFFFF };
        dib.pixels = PackRows(2, 2, 16, false, [](int x, int y) { return values[(x + 2 * y) % 4]; });
        return dib;
    };
    struct Row {
        const char *name;
        Dib dib;
    } rows[] = {
        { "a type other than BM with sizes that read whole", with([](Dib &d) { d.type = "XY"; }) },
        { "no pixel size: completed from the dimensions", with([](Dib &d) { d.sizeImage = 0; }) },
        { "the exact pixel size", with([](Dib &d) { d.sizeImage = 12 * 2; }) },
        { "a pixel size beyond the rows", with([](Dib &d) { d.sizeImage = 12 * 2 + 8; d.pixels.append(8, 'x'); }) },
        { "a 124-byte header", with([](Dib &d) { d.headerSize = 124; }) },
        { "a gap before the pixels", with([](Dib &d) { d.table = std::string(10, 'g'); }) },
        { "a true-colour bitmap naming colours used", with([](Dib &d) { d.colorsUsed = 256; }) },
        { "two planes", with([](Dib &d) { d.planes = 2; }) },
        { "16-bit bitfields after a 40-byte header", bitfields(40) },
        { "16-bit bitfields inside a 108-byte header", bitfields(108) },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        OpenFile(row.dib.File(), 7, 4);
        ExpectTiled(row.dib.width, row.dib.height, ColorAt);
    }
}

TEST_F(BackgroundTest, CoreHeaderFilesLoadWithTheirTriplesAndAShortTableCompleted)
{
    auto twoColours = [](int x, int y) { return COLORS[(x + y) % 2]; };
    struct Row {
        const char *name;
        std::string file;
        int width, height;
        std::function<COLORREF(int, int)> color;
    } rows[] = {
        { "1 bit", CoreFile(1, 5, 3, 2), 5, 3, twoColours },
        { "4 bits", CoreFile(4, 3, 2, 16), 3, 2, ColorAt },
        { "8 bits", CoreFile(8, 5, 3, 256), 5, 3, ColorAt },
        { "24 bits", CoreFile(24, 3, 2, 0), 3, 2, ColorAt },
        // The platform reads 256 triples whatever the file holds: the ones missing are black.
        { "8 bits, four triples of 256", CoreFile(8, 5, 3, 4), 5, 3, ColorAt },
        { "1 bit, one triple of 2", CoreFile(1, 5, 3, 1), 5, 3,
          [](int x, int y) { return (x + y) % 2 ? RGB(0, 0, 0) : COLORS[0]; } },
        { "4 bits, no triple at all", CoreFile(4, 3, 2, 0), 3, 2, [](int, int) { return RGB(0, 0, 0); } },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        OpenFile(row.file, row.width * 2 + 1, 5);
        ExpectTiled(row.width, row.height, row.color);
    }
}

TEST_F(BackgroundTest, RunLengthBitmapsAreHandedToThePlatformWithTheirOwnSize)
{
    Dib dib;
    dib.width = 4;
    dib.height = 2;
    dib.bitCount = 8;
    dib.compression = BI_RLE8;
    dib.colorsUsed = 4;
    for (COLORREF color : COLORS)
        dib.table += Quad(color);
    // Bottom row: 4 x index 2; end of line; top row: 2 x 0, 2 x 1; end of bitmap.
    dib.pixels = std::string("\x04\x02\x00\x00\x02\x00\x02\x01\x00\x01", 10);
    dib.sizeImage = (uint32_t)dib.pixels.size();
    OpenFile(dib.File(), 8, 4);
    ExpectTiled(4, 2, [](int x, int y) { return y == 1 ? COLORS[2] : COLORS[x / 2]; });
}

TEST_F(BackgroundTest, TheLoaderGivesTheFileDimensionsWhenAsked)
{
    sim::PutFile(BITMAP_PATH, TrueColor(24, 3, 2, true).File());
    window = Open("");
    HDC dc = GetDC(window);
    LONG width = 0, height = 0;
    HBITMAP bitmap = LoadBitmapFile(State.Instance, "Caption", window, BITMAP_PATH, dc, &width, &height);
    EXPECT_NE(bitmap, (HBITMAP)NULL);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, -2);
    DeleteObject(bitmap);
    // A core header's WORD fields, not the bytes where a longer header keeps its own.
    sim::PutFile(BITMAP_PATH, CoreFile(24, 3, 2, 0));
    bitmap = LoadBitmapFile(State.Instance, "Caption", window, BITMAP_PATH, dc, &width, &height);
    EXPECT_NE(bitmap, (HBITMAP)NULL);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 2);
    DeleteObject(bitmap);
    EXPECT_EQ(LoadBitmapFile(State.Instance, "Caption", window, "", dc, &width, &height), (HBITMAP)NULL);
    ReleaseDC(window, dc);
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

// ---- Files that are refused --------------------------------------------------------------------

TEST_F(BackgroundTest, InconsistentHeadersAreRefusedBeforeAnyBitmapIsMade)
{
    auto with = [](const std::function<void(Dib &)> &change) {
        Dib dib = TrueColor(24, 3, 2);
        change(dib);
        return dib.File();
    };
    auto indexed = [](int bitCount, uint32_t colorsUsed, int entries) {
        Dib dib = Indexed(bitCount, 2, 2, colorsUsed);
        dib.table.resize(entries * 4);
        return dib.File();
    };
    auto bitfieldsWithout = [](uint32_t headerSize) {
        Dib dib = TrueColor(32, 2, 2);
        dib.compression = BI_BITFIELDS;
        dib.headerSize = headerSize;
        return dib.File();
    };
    auto rle = [](uint32_t sizeImage) {
        Dib dib = Indexed(8, 2, 2, 4);
        dib.compression = BI_RLE8;
        dib.sizeImage = sizeImage;
        return dib.File();
    };
    struct Row {
        const char *name;
        std::string file;
        int allocationsBefore;  // blocks the loader takes before it refuses
    } rows[] = {
        { "pixels start inside the header", with([](Dib &d) { d.offBits = 53; }), 1 },
        { "pixels start inside a core header", with([](Dib &d) { d.offBits = 25; }), 0 },
        { "pixels start inside the file header", with([](Dib &d) { d.offBits = 10; }), 0 },
        { "pixels start at 0", with([](Dib &d) { d.offBits = 0; }), 0 },
        { "pixels beyond any memory", with([](Dib &d) { d.offBits = 0xFFFFFFFFu; }), 0 },
        { "a core header of width 0", CoreFile(24, 0, 2, 0), 1 },
        { "a core header of height 0", CoreFile(24, 3, 0, 0), 1 },
        { "a core header of 2 bits", CoreFile(2, 3, 2, 4), 1 },
        { "a header size of 39", with([](Dib &d) { d.headerSize = 39; }), 1 },
        { "a header size of 0", with([](Dib &d) { d.headerSize = 0; }), 1 },
        { "a header longer than the space before the pixels",
          with([](Dib &d) { d.headerSize = 124; d.offBits = 14 + 40 + 4; }), 1 },
        { "8 bits, full table missing", indexed(8, 0, 2), 1 },
        { "8 bits, table one entry short", indexed(8, 0, 255), 1 },
        { "4 bits, the colours used not all there", indexed(4, 3, 2), 1 },
        { "1 bit, one colour missing", indexed(1, 0, 1), 1 },
        { "bitfields masks missing after a 40-byte header", bitfieldsWithout(40), 1 },
        { "bitfields masks cut by a 44-byte header", bitfieldsWithout(44), 1 },
        { "width 0", with([](Dib &d) { d.width = 0; }), 1 },
        { "height 0", with([](Dib &d) { d.height = 0; }), 1 },
        { "negative width", with([](Dib &d) { d.width = -3; }), 1 },
        { "bit count 0", with([](Dib &d) { d.bitCount = 0; }), 1 },
        { "bit count 2", with([](Dib &d) { d.bitCount = 2; }), 1 },
        { "bit count 15", with([](Dib &d) { d.bitCount = 15; }), 1 },
        { "bit count 48", with([](Dib &d) { d.bitCount = 48; }), 1 },
        { "pixel size one byte short", with([](Dib &d) { d.sizeImage = 12 * 2 - 1; }), 1 },
        { "pixel size 1", with([](Dib &d) { d.sizeImage = 1; }), 1 },
        { "rows beyond any memory", with([](Dib &d) { d.width = 0x7FFFFFFF; d.bitCount = 32; }), 1 },
        { "the most negative height", with([](Dib &d) { d.height = INT32_MIN; }), 1 },
        { "a compressed size beyond any memory", rle(0xFFFFFFFFu), 1 },
        { "a compressed size just beyond any memory", rle(0x7FFFFFFFu), 1 },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        // Were a block allocated after the refusal point, this failure would show instead.
        sim::FailGlobalAlloc(row.allocationsBefore + 1);
        OpenFile(row.file);
        ExpectOnlyBox(IDS_NO_BITMAP_S, BITMAP_PATH, MB_OK | MB_ICONINFORMATION);
    }
}

TEST_F(BackgroundTest, ABitmapThePlatformRefusesIsShownAsNotCreated)
{
    Dib dib = TrueColor(24, 3, 2);
    dib.compression = 7;  // no compression Windows knows
    dib.sizeImage = (uint32_t)dib.pixels.size();
    OpenFile(dib.File());
    ExpectOnlyBox(IDS_NO_BITMAP_S, BITMAP_PATH, MB_OK | MB_ICONINFORMATION);
}

TEST_F(BackgroundTest, ShortAndFailingReadsAreShownAsUnreadable)
{
    std::string whole = Indexed(8, 2, 2, 4).File();  // 14 + 40 + 16 table + 8 pixels
    const int64_t NONE = -1;
    struct Row {
        const char *name;
        std::string file;
        int64_t failAfter;  // a read error once this many bytes were delivered
    } rows[] = {
        { "an empty file", "", NONE },
        { "file header cut", whole.substr(0, 13), NONE },
        { "information header cut", whole.substr(0, 14 + 39), NONE },
        { "colour table cut", whole.substr(0, 14 + 40 + 15), NONE },
        { "pixels cut", whole.substr(0, whole.size() - 1), NONE },
        { "pixels missing", whole.substr(0, 14 + 40 + 16), NONE },
        { "core header's pixels cut", CoreFile(8, 5, 3, 4).substr(0, 14 + 12 + 12 + 23), NONE },
        { "a file header that cannot be read", whole, 0 },
        { "a header that cannot be read", whole, 14 },
        { "pixels that cannot be read", whole, 14 + 40 + 16 },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        if (row.failAfter != NONE)
            sim::FailRead("pic.bmp", (uint64_t)row.failAfter);
        OpenFile(row.file);
        ExpectOnlyBox(IDS_CANNOT_READ_S, BITMAP_PATH, MB_OK | MB_ICONERROR);
    }
}

TEST_F(BackgroundTest, AFileShorterThanItsHeadersSayTakesNoMemoryForWhatIsMissing)
{
    auto announcing = [](const std::function<void(Dib &)> &change) {
        Dib dib = Indexed(8, 2, 2, 4);
        change(dib);
        return dib.File();
    };
    struct Row {
        const char *name;
        std::string file;
        int allocationsBefore;
    } rows[] = {
        { "pixels said to start far beyond the end", announcing([](Dib &d) { d.offBits = 0x10000000; }), 0 },
        { "a megabyte of pixels in eight bytes", announcing([](Dib &d) { d.sizeImage = 1 << 20; }), 1 },
        { "a compressed size beyond the end",
          announcing([](Dib &d) { d.compression = BI_RLE8; d.sizeImage = 0x7FFFFFF0; }), 1 },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        sim::FailGlobalAlloc(row.allocationsBefore + 1);
        OpenFile(row.file);
        ExpectOnlyBox(IDS_CANNOT_READ_S, BITMAP_PATH, MB_OK | MB_ICONERROR);
    }
    // A size that cannot be measured is no size to read by.
    Restart();
    sim::FailSeek("pic.bmp");
    OpenFile(TrueColor(24, 3, 2).File());
    ExpectOnlyBox(IDS_CANNOT_READ_S, BITMAP_PATH, MB_OK | MB_ICONERROR);
}

TEST_F(BackgroundTest, MemoryFailuresFreeEveryBlock)
{
    struct Row {
        const char *name;
        std::function<void()> fail;
        UINT id;
    } rows[] = {
        { "header block not allocated", [] { sim::FailGlobalAlloc(1); }, IDS_NO_MEMORY_S },
        { "pixel block not allocated", [] { sim::FailGlobalAlloc(2); }, IDS_NO_MEMORY_S },
        { "header block not locked", [] { sim::FailGlobalLock(1); }, IDS_NO_LOCK_S },
        { "pixel block not locked", [] { sim::FailGlobalLock(2); }, IDS_NO_LOCK_S },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Restart();
        row.fail();
        OpenFile(Indexed(8, 2, 2, 4).File());
        ExpectOnlyBox(row.id, "GetBitmap", MB_OK | MB_ICONERROR);
        EXPECT_EQ(sim::LockedGlobalBlocks(), 0);
    }
    // A core header's short colour table: the first block is grown before the pixel block is made.
    Row growing[] = {
        { "header block not grown", [] { sim::FailGlobalAlloc(2); }, IDS_NO_MEMORY_S },
        { "grown header block not locked", [] { sim::FailGlobalLock(2); }, IDS_NO_LOCK_S },
        { "pixel block not allocated after the growth", [] { sim::FailGlobalAlloc(3); }, IDS_NO_MEMORY_S },
    };
    for (const Row &row : growing) {
        SCOPED_TRACE(row.name);
        Restart();
        row.fail();
        OpenFile(CoreFile(8, 2, 2, 4));
        ExpectOnlyBox(row.id, "GetBitmap", MB_OK | MB_ICONERROR);
        EXPECT_EQ(sim::LockedGlobalBlocks(), 0);
    }
}

// ---- The path beside the installer -----------------------------------------------------------

TEST_F(BackgroundTest, AMissingFileIsNamedWithTheInstallersDirectory)
{
    sim::SetModulePath("D:\\Some Dir\\SETUP.EXE");
    Open("missing.bmp");
    ExpectOnlyBox(IDS_CANNOT_OPEN_S, "D:\\Some Dir\\missing.bmp", MB_OK | MB_ICONERROR);
    EXPECT_STREQ(State.BitmapPath, "D:\\Some Dir\\missing.bmp");
}

TEST_F(BackgroundTest, AnAbsoluteNameIsStillPutBehindTheDirectory)
{
    sim::PutFile("C:\\pic.bmp", TrueColor(24, 3, 2).File());
    Open("C:\\pic.bmp");
    ExpectOnlyBox(IDS_CANNOT_OPEN_S, "C:\\DIST\\C:\\pic.bmp", MB_OK | MB_ICONERROR);
}

TEST_F(BackgroundTest, AnEmptyNameTouchesNoFileAndShowsTheClassBackground)
{
    sim::FailOpen("");  // any open would be shown as a failure
    Open("", 6, 4);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_EQ(State.BitmapPath[0], '\0');
    ExpectNothingHeld();

    HDC dc = GetDC(window);
    EXPECT_NE(SendMessageA(window, WM_ERASEBKGND, (WPARAM)dc, 0), 0);
    ReleaseDC(window, dc);
    SendMessageA(window, WM_PAINT, 0, 0);
    EXPECT_TRUE(sim::TakeBlits(window).empty());
    sim::Pixels pixels = sim::WindowPixels(window);
    EXPECT_EQ(pixels.at(0, 0), WORKSPACE_GREY);
    EXPECT_EQ(pixels.at(5, 3), WORKSPACE_GREY);
}

TEST_F(BackgroundTest, APathThatDoesNotFitIsNeitherCutNorOpened)
{
    // Directory and name make 130 characters; cut at 127 they would name a real bitmap.
    std::string directory = "C:\\" + std::string(112, 'd') + "\\";
    ASSERT_EQ(directory.size(), 116u);
    sim::SetModulePath(directory + "SETUP.EXE");
    sim::PutFile(directory + "picture.bmp", TrueColor(24, 3, 2).File());
    Open("picture.bmpXYZ");
    ExpectOnlyBox(IDS_CANNOT_OPEN_S, directory + "picture.bmp", MB_OK | MB_ICONERROR);
}

TEST_F(BackgroundTest, OnlyTheDirectoryAndNameMustFitNotTheInstallersOwnName)
{
    sim::SetModulePath("C:\\DIST\\" + std::string(200, 'S') + ".EXE");
    OpenFile(TrueColor(24, 3, 2).File(), 3, 2);
    EXPECT_STREQ(State.BitmapPath, BITMAP_PATH);
    ExpectTiled(3, 2, ColorAt);
}

TEST_F(BackgroundTest, AnInstallerPathLongerThanAnyPathGivesNoBitmap)
{
    // Cut at 259 characters, the installer's path has lost its last '\': what is left would
    // put the name right behind C:\, where a bitmap lies.
    sim::SetModulePath("C:\\" + std::string(250, 'd') + "\\SETUP.EXE");
    sim::PutFile("C:\\pic.bmp", TrueColor(24, 3, 2).File());
    Open("pic.bmp");
    ExpectOnlyBox(IDS_CANNOT_OPEN_S, State.BitmapPath, MB_OK | MB_ICONERROR);
}

// ---- Tiling --------------------------------------------------------------------------------

// Rectangles as (left, top, right, bottom), comparable and printable.
using Rects = std::vector<std::array<LONG, 4>>;

Rects Tiles(std::initializer_list<std::pair<int, int>> corners, int width, int height)
{
    Rects tiles;
    for (auto [x, y] : corners)
        tiles.push_back({ x, y, x + width, y + height });
    return tiles;
}

Rects Blits(HWND window)
{
    Rects blits;
    for (const RECT &r : sim::TakeBlits(window))
        blits.push_back({ r.left, r.top, r.right, r.bottom });
    return blits;
}

TEST_F(BackgroundTest, TilesGoColumnByColumnFromTheTopLeftCorner)
{
    OpenFile(TrueColor(24, 64, 48).File(), 200, 100);
    sim::TakeBlits(window);
    EXPECT_EQ(SendMessageA(window, WM_PAINT, 0, 0), 0);
    EXPECT_EQ(Blits(window), Tiles({ { 0, 0 }, { 0, 48 }, { 0, 96 }, { 64, 0 }, { 64, 48 }, { 64, 96 },
                                              { 128, 0 }, { 128, 48 }, { 128, 96 }, { 192, 0 }, { 192, 48 }, { 192, 96 } },
                                            64, 48));
    // The memory DC is gone and the bitmap free again: it can be deleted.
    EXPECT_EQ(sim::LiveDeviceContexts(), 0);
    DeleteBackground();
    EXPECT_EQ(State.BackgroundBitmap, (HBITMAP)NULL);
    EXPECT_EQ(sim::LiveGdiObjects(), objectsBefore);
    DeleteBackground();
    EXPECT_EQ(sim::LiveGdiObjects(), objectsBefore);
}

TEST_F(BackgroundTest, ABitmapLargerThanTheClientAreaIsOneTile)
{
    OpenFile(TrueColor(24, 64, 48).File(), 30, 20);
    SendMessageA(window, WM_PAINT, 0, 0);
    EXPECT_EQ(Blits(window), Tiles({ { 0, 0 } }, 64, 48));
}

TEST_F(BackgroundTest, AnEmptyClientAreaGetsNoTile)
{
    OpenFile(TrueColor(24, 3, 2).File(), 30, 20);
    struct Row {
        int width, height;
    } rows[] = { { 0, 20 }, { 30, 0 }, { 0, 0 } };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + " x " + std::to_string(row.height));
        sim::ResizeClient(window, row.width, row.height);
        EXPECT_EQ(State.ClientWidth, row.width);
        EXPECT_EQ(State.ClientHeight, row.height);
        sim::TakeBlits(window);
        EXPECT_EQ(SendMessageA(window, WM_PAINT, 0, 0), 0);
        EXPECT_TRUE(sim::TakeBlits(window).empty());
    }
}

TEST_F(BackgroundTest, WithABitmapNothingIsErased)
{
    OpenFile(TrueColor(24, 3, 2).File(), 6, 4);
    HDC dc = GetDC(window);
    EXPECT_EQ(SendMessageA(window, WM_ERASEBKGND, (WPARAM)dc, 0), 0);
    ReleaseDC(window, dc);
    sim::Pixels pixels = sim::WindowPixels(window);
    for (COLORREF pixel : pixels.data)
        EXPECT_NE(pixel, WORKSPACE_GREY);
}

}  // namespace
