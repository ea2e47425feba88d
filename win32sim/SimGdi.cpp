// win32sim graphics: solid brushes, device contexts over per-window pixel buffers, pattern fills,
// block copies, and device-dependent bitmaps made from DIBs that read exactly the bytes Windows
// would read for the header they are given, so a loader that hands over too little is caught.
#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>

#include "SimInternal.h"

namespace {

using sim::detail::Fail;

// A pixel no one has painted; no COLORREF has a high byte.
const COLORREF UNPAINTED = 0xFF000000u;

struct Surface {
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;
    std::vector<RECT> blits;
};

enum class ObjectKind { Brush, Bitmap };

struct Object {
    ObjectKind kind = ObjectKind::Brush;
    COLORREF color = 0;          // brushes
    int width = 0, height = 0;   // bitmaps
    WORD bitsPerPixel = 32;
    std::vector<COLORREF> pixels;
    HDC selectedInto = nullptr;
    bool stock = false;
};

struct DeviceContext {
    HWND window = nullptr;     // window DCs paint onto the window's surface
    bool memory = false;       // memory DCs paint onto their selected bitmap
    bool fromPaint = false;
    HGDIOBJ brush = nullptr;
    HGDIOBJ bitmap = nullptr;
};

struct GdiState {
    std::map<uintptr_t, Object> objects;
    std::map<uintptr_t, DeviceContext> dcs;
    std::map<uintptr_t, Surface> surfaces;  // by window
    std::map<uintptr_t, int> windowDcsTaken;  // GetDC calls, by window
    uintptr_t nextObject = 0x50000;
    uintptr_t nextDc = 0x60000;
    HGDIOBJ whiteBrush = nullptr;
    HGDIOBJ stockBitmap = nullptr;
};

GdiState &TheGdi()
{
    static GdiState state;
    return state;
}

HGDIOBJ NewObject(const Object &object)
{
    GdiState &g = TheGdi();
    uintptr_t handle = g.nextObject;
    g.nextObject += 4;
    g.objects[handle] = object;
    return (HGDIOBJ)handle;
}

void EnsureStock()
{
    GdiState &g = TheGdi();
    if (g.whiteBrush == nullptr) {
        Object white;
        white.color = RGB(255, 255, 255);
        white.stock = true;
        g.whiteBrush = NewObject(white);
        Object bitmap;
        bitmap.kind = ObjectKind::Bitmap;
        bitmap.width = 1;
        bitmap.height = 1;
        bitmap.bitsPerPixel = 1;
        bitmap.pixels.assign(1, RGB(0, 0, 0));
        bitmap.stock = true;
        g.stockBitmap = NewObject(bitmap);
    }
}

Object *ObjectOf(HGDIOBJ handle)
{
    auto found = TheGdi().objects.find((uintptr_t)handle);
    return found == TheGdi().objects.end() ? nullptr : &found->second;
}

DeviceContext *DcOf(HDC handle)
{
    auto found = TheGdi().dcs.find((uintptr_t)handle);
    return found == TheGdi().dcs.end() ? nullptr : &found->second;
}

Surface &SurfaceOf(HWND window)
{
    Surface &surface = TheGdi().surfaces[(uintptr_t)window];
    int width = 0, height = 0;
    sim::detail::ClientSize(window, &width, &height);
    if (surface.width != width || surface.height != height) {
        surface.width = width;
        surface.height = height;
        surface.pixels.assign((size_t)width * height, UNPAINTED);
    }
    return surface;
}

HDC NewDc(const DeviceContext &dc)
{
    EnsureStock();
    GdiState &g = TheGdi();
    uintptr_t handle = g.nextDc;
    g.nextDc += 4;
    DeviceContext made = dc;
    made.brush = g.whiteBrush;
    if (made.memory) {
        made.bitmap = g.stockBitmap;
    }
    g.dcs[handle] = made;
    return (HDC)handle;
}

// The pixels a DC draws on, with their size; null when it has none.
COLORREF *Target(DeviceContext &dc, int *width, int *height)
{
    if (dc.memory) {
        Object *bitmap = ObjectOf(dc.bitmap);
        if (bitmap == nullptr)
            return nullptr;
        *width = bitmap->width;
        *height = bitmap->height;
        return bitmap->pixels.data();
    }
    if (!sim::detail::IsLiveWindow(dc.window))
        return nullptr;
    Surface &surface = SurfaceOf(dc.window);
    *width = surface.width;
    *height = surface.height;
    return surface.pixels.data();
}

void Fill(COLORREF *pixels, int width, int height, int x, int y, int w, int h, COLORREF color)
{
    int left = std::max(0, x), top = std::max(0, y);
    int right = std::min(width, x + w), bottom = std::min(height, y + h);
    for (int row = top; row < bottom; row++)
        std::fill(pixels + (size_t)row * width + left, pixels + (size_t)row * width + std::max(left, right), color);
}

// ---- DIB decoding ---------------------------------------------------------------------------

struct DibLayout {
    DWORD headerSize;      // bytes of the header itself: 12 for a core header, else biSize
    LONG width, height;
    WORD bitCount;
    DWORD compression;
    size_t colorEntries;   // colour-table entries right after the header (8 bits or fewer)
    size_t entrySize;      // RGBQUAD, or RGBTRIPLE after a core header
    bool masks;            // BI_BITFIELDS: three DWORD masks at offset 40, whatever the header size
    size_t pixelBytes;     // bytes of bits read
    bool empty;            // refused only for a width or height of 0
};

// The masks of BI_BITFIELDS lie right after the first 40 bytes in every header that has them.
const size_t MASKS_AT = sizeof(BITMAPINFOHEADER);
const size_t MASKS_SIZE = 3 * sizeof(DWORD);

// What Windows reads for this header; false when it would refuse the bitmap. Windows takes the
// core header (12 bytes) and any header of 40 bytes or more, read over its whole stated size.
bool LayOut(const void *header, DibLayout *layout)
{
    DWORD size;
    memcpy(&size, header, sizeof size);  // the first field alone, before trusting the rest
    layout->empty = false;
    DibLayout l{};
    WORD planes;
    DWORD sizeImage = 0, colorsUsed = 0;
    if (size == sizeof(BITMAPCOREHEADER)) {
        BITMAPCOREHEADER c;
        memcpy(&c, header, sizeof c);
        l.width = c.bcWidth;
        l.height = c.bcHeight;
        planes = c.bcPlanes;
        l.bitCount = c.bcBitCount;
        l.compression = BI_RGB;
        l.entrySize = 3;
    } else if (size >= sizeof(BITMAPINFOHEADER)) {
        BITMAPINFOHEADER h;
        memcpy(&h, header, sizeof h);
        l.width = h.biWidth;
        l.height = h.biHeight;
        planes = h.biPlanes;
        l.bitCount = h.biBitCount;
        l.compression = h.biCompression;
        sizeImage = h.biSizeImage;
        colorsUsed = h.biClrUsed;
        l.entrySize = 4;
    } else {
        return false;
    }
    l.headerSize = size;
    if (l.compression == BI_JPEG || l.compression == BI_PNG || l.width < 0)
        return false;
    if (l.width == 0 || l.height == 0) {
        layout->empty = true;
        return false;
    }
    bool rle = l.compression == BI_RLE8 || l.compression == BI_RLE4;
    if (rle) {
        // Run-length bitmaps are bottom-up, of their own bit count, and say how long they are.
        if (l.height < 0 || sizeImage == 0 || l.bitCount != (l.compression == BI_RLE4 ? 4 : 8))
            return false;
    } else {
        if (planes == 0)
            return false;
        switch (l.bitCount) {
        case 1: case 4: case 8: case 24:
            if (l.compression != BI_RGB)
                return false;
            break;
        case 16: case 32:
            if (l.compression != BI_RGB && l.compression != BI_BITFIELDS)
                return false;
            break;
        default:
            return false;
        }
    }
    l.masks = l.compression == BI_BITFIELDS;
    if (l.bitCount <= 8) {
        size_t most = (size_t)1 << l.bitCount;
        l.colorEntries = colorsUsed != 0 ? std::min<size_t>(colorsUsed, most) : most;
    }
    uint64_t rows = (uint64_t)(l.height < 0 ? -(int64_t)l.height : l.height);
    uint64_t stride = (((uint64_t)l.width * l.bitCount + 31) / 32) * 4;
    // A bitmap this large is refused for lack of memory, as a real one would be.
    if ((uint64_t)l.width * rows > (64u << 20))
        return false;
    l.pixelBytes = rle ? sizeImage : (size_t)(stride * rows);
    *layout = l;
    return true;
}

COLORREF FromQuad(const BYTE *quad)
{
    return RGB(quad[2], quad[1], quad[0]);
}

int MaskShift(DWORD mask)
{
    int shift = 0;
    while (mask != 0 && !(mask & 1)) {
        mask >>= 1;
        shift++;
    }
    return shift;
}

// A colour field widened to 8 bits as Windows does it: the run of mask bits that starts at the
// mask's lowest set bit, its top 8 bits when it is longer, otherwise its bits followed once by
// their own top bits (5 bits 10000 give 0x84, a single bit gives 0xC0).
BYTE Scale(DWORD value, DWORD mask)
{
    if (mask == 0)
        return 0;
    int shift = MaskShift(mask);
    int length = 0;
    while (length < 32 - shift && ((uint64_t)mask >> (shift + length)) & 1)
        length++;
    uint64_t field = value;
    int move = shift - (8 - length);
    field = move < 0 ? field << -move : field >> move;
    field &= length >= 8 ? 0xFFu : (0xFF00u >> length) & 0xFFu;
    field |= field >> length;
    return (BYTE)field;
}

void DecodeRle(const std::vector<BYTE> &bits, const DibLayout &l, const std::vector<COLORREF> &palette,
               std::vector<COLORREF> &out)
{
    auto put = [&](int x, int y, int index) {
        if (x < l.width && y < l.height && index < (int)palette.size())
            out[(size_t)(l.height - 1 - y) * l.width + x] = palette[index];
    };
    size_t at = 0;
    int x = 0, y = 0;
    bool four = l.compression == BI_RLE4;
    while (at + 1 < bits.size() && y < l.height) {
        BYTE count = bits[at], value = bits[at + 1];
        at += 2;
        if (count > 0) {
            for (int i = 0; i < count; i++, x++)
                put(x, y, four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
        } else if (value == 0) {
            x = 0;
            y++;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (at + 1 >= bits.size())
                break;
            x += bits[at];
            y += bits[at + 1];
            at += 2;
        } else {
            size_t bytes = four ? (value + 1) / 2 : value;
            for (int i = 0; i < value && at + (four ? i / 2 : i) < bits.size(); i++, x++) {
                BYTE b = bits[at + (four ? i / 2 : i)];
                put(x, y, four ? ((i & 1) ? b & 0x0F : b >> 4) : b);
            }
            at += (bytes + 1) & ~(size_t)1;
        }
        x = std::min<int>(x, l.width);  // runs past the right edge are cut there, as Windows cuts them
    }
}

}  // namespace

namespace sim::detail {

void ResetGdi()
{
    TheGdi() = GdiState();
}

COLORREF SystemColor(int index)
{
    switch (index) {
    case COLOR_APPWORKSPACE: return RGB(128, 128, 128);
    case COLOR_BTNFACE: return RGB(192, 192, 192);
    case COLOR_WINDOW: return RGB(255, 255, 255);
    default: return RGB(0, 0, 0);
    }
}

void EraseWithClassBrush(HWND window, HBRUSH brush)
{
    if (brush == nullptr || !IsLiveWindow(window))
        return;
    COLORREF color;
    uintptr_t value = (uintptr_t)brush;
    if (value <= 31)
        color = SystemColor((int)value - 1);  // a system colour index + 1
    else if (Object *object = ObjectOf(brush); object != nullptr && object->kind == ObjectKind::Brush)
        color = object->color;
    else
        return;
    Surface &surface = SurfaceOf(window);
    std::fill(surface.pixels.begin(), surface.pixels.end(), color);
}

void ForgetSurface(HWND window)
{
    TheGdi().surfaces.erase((uintptr_t)window);
}

void ResizeSurface(HWND window, int width, int height)
{
    auto found = TheGdi().surfaces.find((uintptr_t)window);
    if (found == TheGdi().surfaces.end())
        return;
    Surface resized;
    resized.width = width;
    resized.height = height;
    resized.pixels.assign((size_t)width * height, UNPAINTED);
    Surface &old = found->second;
    for (int y = 0; y < std::min(height, old.height); y++)
        for (int x = 0; x < std::min(width, old.width); x++)
            resized.pixels[(size_t)y * width + x] = old.pixels[(size_t)y * old.width + x];
    resized.blits = old.blits;
    old = resized;
}

}  // namespace sim::detail

namespace sim {

int LiveGdiObjects()
{
    int count = 0;
    for (auto &entry : TheGdi().objects)
        count += !entry.second.stock;
    return count;
}

int LiveDeviceContexts()
{
    return (int)TheGdi().dcs.size();
}

int DeviceContextsTaken(HWND window)
{
    auto found = TheGdi().windowDcsTaken.find((uintptr_t)window);
    return found == TheGdi().windowDcsTaken.end() ? 0 : found->second;
}

Pixels WindowPixels(HWND window)
{
    Pixels result;
    if (!detail::IsLiveWindow(window))
        return result;
    Surface &surface = SurfaceOf(window);
    result.width = surface.width;
    result.height = surface.height;
    result.data = surface.pixels;
    return result;
}

std::vector<RECT> TakeBlits(HWND window)
{
    auto found = TheGdi().surfaces.find((uintptr_t)window);
    if (found == TheGdi().surfaces.end())
        return {};
    std::vector<RECT> blits;
    blits.swap(found->second.blits);
    return blits;
}

}  // namespace sim

extern "C" {

HBRUSH WINAPI CreateSolidBrush(COLORREF color)
{
    Object brush;
    brush.color = color & 0x00FFFFFFu;
    return (HBRUSH)NewObject(brush);
}

BOOL WINAPI DeleteObject(HGDIOBJ handle)
{
    Object *object = ObjectOf(handle);
    if (object == nullptr)
        return FALSE;
    if (object->stock)
        return TRUE;
    if (object->selectedInto != nullptr && DcOf(object->selectedInto) != nullptr)
        return FALSE;  // still selected into a device context
    TheGdi().objects.erase((uintptr_t)handle);
    return TRUE;
}

HGDIOBJ WINAPI SelectObject(HDC handle, HGDIOBJ object)
{
    DeviceContext *dc = DcOf(handle);
    Object *o = ObjectOf(object);
    if (dc == nullptr || o == nullptr)
        return nullptr;
    HGDIOBJ previous;
    if (o->kind == ObjectKind::Brush) {
        previous = dc->brush;
        dc->brush = object;
    } else {
        if (!dc->memory)
            return nullptr;  // bitmaps go into memory DCs only
        if (o->selectedInto != nullptr && o->selectedInto != handle && DcOf(o->selectedInto) != nullptr)
            return nullptr;  // a bitmap is selected into one DC at a time
        previous = dc->bitmap;
        dc->bitmap = object;
    }
    if (Object *old = ObjectOf(previous))
        old->selectedInto = nullptr;
    o->selectedInto = handle;
    return previous;
}

int WINAPI GetObjectA(HGDIOBJ handle, int size, LPVOID buffer)
{
    Object *o = ObjectOf(handle);
    if (o == nullptr || o->kind != ObjectKind::Bitmap)
        return 0;
    if (buffer == nullptr)
        return sizeof(BITMAP);
    if (size < (int)sizeof(BITMAP))
        return 0;
    BITMAP bitmap{};
    bitmap.bmWidth = o->width;
    bitmap.bmHeight = o->height;
    bitmap.bmBitsPixel = o->bitsPerPixel;
    bitmap.bmPlanes = 1;
    bitmap.bmWidthBytes = ((o->width * o->bitsPerPixel + 15) / 16) * 2;
    memcpy(buffer, &bitmap, sizeof bitmap);
    return sizeof(BITMAP);
}

HDC WINAPI GetDC(HWND window)
{
    if (!sim::detail::IsLiveWindow(window))
        return nullptr;
    TheGdi().windowDcsTaken[(uintptr_t)window]++;
    DeviceContext dc;
    dc.window = window;
    return NewDc(dc);
}

int WINAPI ReleaseDC(HWND, HDC handle)
{
    DeviceContext *dc = DcOf(handle);
    if (dc == nullptr || dc->memory)
        return 0;
    if (Object *brush = ObjectOf(dc->brush))
        brush->selectedInto = nullptr;
    TheGdi().dcs.erase((uintptr_t)handle);
    return 1;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint)
{
    memset(paint, 0, sizeof *paint);
    if (!sim::detail::IsLiveWindow(window))
        return nullptr;
    bool erase = false;
    sim::detail::ValidateWindow(window, &erase);
    DeviceContext dc;
    dc.window = window;
    dc.fromPaint = true;
    HDC handle = NewDc(dc);
    paint->hdc = handle;
    int width = 0, height = 0;
    sim::detail::ClientSize(window, &width, &height);
    paint->rcPaint = RECT{ 0, 0, width, height };
    paint->fErase = erase ? !sim::detail::CallWindow(window, WM_ERASEBKGND, (WPARAM)handle, 0) : FALSE;
    return handle;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT *paint)
{
    return ReleaseDC(window, paint->hdc) != 0;
}

HDC WINAPI CreateCompatibleDC(HDC)
{
    DeviceContext dc;
    dc.memory = true;
    return NewDc(dc);
}

BOOL WINAPI DeleteDC(HDC handle)
{
    DeviceContext *dc = DcOf(handle);
    if (dc == nullptr)
        return FALSE;
    for (HGDIOBJ selected : { dc->brush, dc->bitmap }) {
        if (Object *o = ObjectOf(selected))
            o->selectedInto = nullptr;
    }
    TheGdi().dcs.erase((uintptr_t)handle);
    return TRUE;
}

BOOL WINAPI PatBlt(HDC handle, int x, int y, int width, int height, DWORD rop)
{
    DeviceContext *dc = DcOf(handle);
    if (dc == nullptr)
        return FALSE;
    COLORREF color;
    switch (rop) {
    case PATCOPY: {
        Object *brush = ObjectOf(dc->brush);
        if (brush == nullptr)
            return FALSE;
        color = brush->color;
        break;
    }
    case BLACKNESS: color = RGB(0, 0, 0); break;
    case WHITENESS: color = RGB(255, 255, 255); break;
    default: Fail("PatBlt with a raster operation the simulation does not paint");
    }
    if (width < 0) {
        x += width;
        width = -width;
    }
    if (height < 0) {
        y += height;
        height = -height;
    }
    int targetWidth = 0, targetHeight = 0;
    COLORREF *pixels = Target(*dc, &targetWidth, &targetHeight);
    if (pixels == nullptr)
        return FALSE;
    Fill(pixels, targetWidth, targetHeight, x, y, width, height, color);
    return TRUE;
}

BOOL WINAPI BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop)
{
    DeviceContext *to = DcOf(destination);
    DeviceContext *from = DcOf(source);
    if (to == nullptr || from == nullptr)
        return FALSE;
    if (rop != SRCCOPY)
        Fail("BitBlt with a raster operation the simulation does not copy");
    int toWidth = 0, toHeight = 0, fromWidth = 0, fromHeight = 0;
    COLORREF *out = Target(*to, &toWidth, &toHeight);
    COLORREF *in = Target(*from, &fromWidth, &fromHeight);
    if (out == nullptr || in == nullptr)
        return FALSE;
    if (!to->memory)
        TheGdi().surfaces[(uintptr_t)to->window].blits.push_back(RECT{ x, y, x + width, y + height });
    // Only the part that lies inside both surfaces is copied.
    int64_t firstColumn = std::max<int64_t>({ 0, -(int64_t)x, -(int64_t)sourceX });
    int64_t lastColumn = std::min<int64_t>({ (int64_t)width, (int64_t)toWidth - x, (int64_t)fromWidth - sourceX });
    int64_t firstRow = std::max<int64_t>({ 0, -(int64_t)y, -(int64_t)sourceY });
    int64_t lastRow = std::min<int64_t>({ (int64_t)height, (int64_t)toHeight - y, (int64_t)fromHeight - sourceY });
    for (int64_t row = firstRow; row < lastRow; row++) {
        for (int64_t column = firstColumn; column < lastColumn; column++)
            out[(size_t)((y + row) * toWidth + x + column)] = in[(size_t)((sourceY + row) * fromWidth + sourceX + column)];
    }
    return TRUE;
}

DWORD WINAPI GetSysColor(int index)
{
    return sim::detail::SystemColor(index);
}

COLORREF WINAPI GetPixel(HDC handle, int x, int y)
{
    DeviceContext *dc = DcOf(handle);
    if (dc == nullptr)
        return CLR_INVALID;
    int width = 0, height = 0;
    COLORREF *pixels = Target(*dc, &width, &height);
    if (pixels == nullptr || x < 0 || y < 0 || x >= width || y >= height)
        return CLR_INVALID;
    return pixels[(size_t)y * width + x] & 0x00FFFFFFu;
}

HBITMAP WINAPI CreateDIBitmap(HDC dc, const BITMAPINFOHEADER *header, DWORD init, LPCVOID bits,
                              const BITMAPINFO *info, UINT usage)
{
    if (DcOf(dc) == nullptr || header == nullptr)
        return nullptr;
    DibLayout layout;
    if (!LayOut(header, &layout)) {
        // Without width or height the answer is the default 1 x 1 monochrome bitmap, as from
        // CreateCompatibleBitmap, whatever else the header says.
        if (!layout.empty)
            return nullptr;
        EnsureStock();
        return (HBITMAP)TheGdi().stockBitmap;
    }
    // The whole header as the bitmap describes it, read as a real implementation would.
    std::vector<BYTE> headerBytes(layout.headerSize);
    memcpy(headerBytes.data(), header, layout.headerSize);

    Object bitmap;
    bitmap.kind = ObjectKind::Bitmap;
    bitmap.width = layout.width;
    bitmap.height = (int)(layout.height < 0 ? -(int64_t)layout.height : layout.height);
    bitmap.bitsPerPixel = 32;
    bitmap.pixels.assign((size_t)bitmap.width * bitmap.height, RGB(0, 0, 0));

    if (init & CBM_INIT) {
        if (info == nullptr || bits == nullptr || usage != DIB_RGB_COLORS)
            return nullptr;
        DibLayout infoLayout;
        if (!LayOut(info, &infoLayout))
            return nullptr;
        // Header, colour table or masks, and pixels: each read whole, as Windows reads them.
        const BYTE *infoBytes = (const BYTE *)info;
        std::vector<BYTE> infoHeader(infoLayout.headerSize);
        memcpy(infoHeader.data(), infoBytes, infoHeader.size());
        std::vector<BYTE> table(infoLayout.colorEntries * infoLayout.entrySize);
        if (!table.empty())
            memcpy(table.data(), infoBytes + infoLayout.headerSize, table.size());
        DWORD masks[3] = { 0x7C00, 0x03E0, 0x001F };
        if (infoLayout.bitCount == 32)
            masks[0] = 0x00FF0000, masks[1] = 0x0000FF00, masks[2] = 0x000000FF;
        if (infoLayout.masks) {
            memcpy(masks, infoBytes + MASKS_AT, MASKS_SIZE);
            // Any set of masks is taken, overlapping or not, but a colour without a mask is refused.
            if (masks[0] == 0 || masks[1] == 0 || masks[2] == 0) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
        }
        std::vector<BYTE> pixels(infoLayout.pixelBytes);
        if (!pixels.empty())
            memcpy(pixels.data(), bits, pixels.size());

        std::vector<COLORREF> palette;
        for (size_t i = 0; i < infoLayout.colorEntries; i++)
            palette.push_back(FromQuad(&table[i * infoLayout.entrySize]));  // blue, green, red
        // The rows that both the bitmap and the bits describe.
        LONG rows = (LONG)std::min<int64_t>(bitmap.height, infoLayout.height < 0 ? -(int64_t)infoLayout.height
                                                                                 : infoLayout.height);
        if (infoLayout.compression == BI_RLE8 || infoLayout.compression == BI_RLE4) {
            DecodeRle(pixels, infoLayout, palette, bitmap.pixels);
        } else {
            size_t stride = (((size_t)infoLayout.width * infoLayout.bitCount + 31) / 32) * 4;
            for (LONG row = 0; row < rows; row++) {
                const BYTE *line = pixels.data() + stride * row;
                LONG y = infoLayout.height < 0 ? row : rows - 1 - row;  // bottom-up unless negative height
                for (LONG x = 0; x < bitmap.width && x < infoLayout.width; x++) {
                    COLORREF color = 0;
                    switch (infoLayout.bitCount) {
                    case 1: {
                        size_t index = (line[x / 8] >> (7 - x % 8)) & 1;
                        color = index < palette.size() ? palette[index] : 0;
                        break;
                    }
                    case 4: {
                        size_t index = (x & 1) ? line[x / 2] & 0x0F : line[x / 2] >> 4;
                        color = index < palette.size() ? palette[index] : 0;
                        break;
                    }
                    case 8: color = line[x] < palette.size() ? palette[line[x]] : 0; break;
                    case 16: {
                        DWORD value = line[x * 2] | (line[x * 2 + 1] << 8);
                        color = RGB(Scale(value, masks[0]), Scale(value, masks[1]), Scale(value, masks[2]));
                        break;
                    }
                    case 24: color = RGB(line[x * 3 + 2], line[x * 3 + 1], line[x * 3]); break;
                    case 32: {
                        DWORD value;
                        memcpy(&value, line + x * 4, 4);
                        color = RGB(Scale(value, masks[0]), Scale(value, masks[1]), Scale(value, masks[2]));
                        break;
                    }
                    }
                    bitmap.pixels[(size_t)y * bitmap.width + x] = color;
                }
            }
        }
    }
    return (HBITMAP)NewObject(bitmap);
}

}  // extern "C"
