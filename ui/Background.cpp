// The main window's backdrop: the script's bitmap file, or the payload's entry of that name, read
// into a device-dependent bitmap at creation and tiled over the client area at every paint.
#include "ui/Background.h"

#include <string.h>

#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "ui/Messages.h"

static const char GET_BITMAP_CONTEXT[] = "GetBitmap";
static const char ENTRY_SEPARATOR[] = "\\";

// The layout of a bitmap file as it lies on disk, little-endian whatever the machine.
enum {
    FILE_HEADER_SIZE = 14,   // BITMAPFILEHEADER
    OFF_BITS_AT = 10,        // bfOffBits: where the pixels start
    CORE_HEADER_SIZE = 12,   // BITMAPCOREHEADER of OS/2 1.x files: WORD fields, RGBTRIPLE colours
    CORE_WIDTH_AT = 4,
    CORE_HEIGHT_AT = 6,
    CORE_BIT_COUNT_AT = 10,
    CORE_ENTRY_SIZE = 3,
    INFO_HEADER_SIZE = 40,   // BITMAPINFOHEADER, the smallest of the longer headers
    HEADER_SIZE_AT = 0,      // offsets within the information header
    WIDTH_AT = 4,
    HEIGHT_AT = 8,
    BIT_COUNT_AT = 14,
    COMPRESSION_AT = 16,
    SIZE_IMAGE_AT = 20,
    COLORS_USED_AT = 32,
    COLOR_MASKS_END = 52,    // the three BI_BITFIELDS masks follow the first 40 bytes of any header
    COLOR_ENTRY_SIZE = 4,    // RGBQUAD
    LARGEST_INDEXED_BIT_COUNT = 8,
    ROW_ALIGNMENT_BITS = 32, // every row of pixels fills whole DWORDs
    BITS_PER_BYTE = 8,
    REST_CAPACITY = 512,     // what an entry holds beyond the pixels is read through this to its end
};

// No 32-bit process can hold a piece larger than this; one byte more still fits in a DWORD.
static const DWORD LARGEST_PIECE = 0x7FFFFFFEu;

// The two pieces of a bitmap file in memory: header with colour table, and pixels. Each block is
// one byte larger than what is read into it, or than a completed colour table, and zero-filled.
struct BitmapPieces {
    HGLOBAL InfoBlock;
    BYTE *Info;
    DWORD InfoBytes;
    HGLOBAL BitsBlock;
    BYTE *Bits;
    DWORD BitsBytes;
    LONG Width;   // of the picture, from whichever header the file has
    LONG Height;
};

static DWORD ReadDword(const BYTE *at)
{
    return (DWORD)at[0] | ((DWORD)at[1] << 8) | ((DWORD)at[2] << 16) | ((DWORD)at[3] << 24);
}

static WORD ReadWord(const BYTE *at)
{
    return (WORD)(at[0] | (at[1] << 8));
}

// Where a bitmap file is read from: a file, or an entry of the installer's payload.
struct BitmapSource {
    HANDLE File;
    PayloadStream *Stream;  // null for a file
    int Size;               // in bytes; -1 when a file's size cannot be measured
};

// TRUE when `count` bytes came whole; a failed or short read is the same failure. A file is read in
// one call; an entry gives at most a chunk a call.
static BOOL ReadWhole(BitmapSource *source, void *buffer, DWORD count)
{
    DWORD read = 0;
    if (source->Stream == NULL)
        return ReadFile(source->File, buffer, count, &read, NULL) && read == count;
    for (DWORD done = 0; done < count; done += read) {
        if (!ReadPayloadEntry(source->Stream, (BYTE *)buffer + done, count - done, &read) || read == 0)
            return FALSE;
    }
    return TRUE;
}

// An entry's checksum is checked at its end: what the pieces left of it is read too, so that an
// altered bitmap is refused rather than shown. TRUE for a file, or an entry that checked out.
static BOOL ReadToEnd(BitmapSource *source)
{
    if (source->Stream == NULL)
        return TRUE;
    BYTE rest[REST_CAPACITY];
    DWORD read = 0;
    do {
        if (!ReadPayloadEntry(source->Stream, rest, REST_CAPACITY, &read))
            return FALSE;
    } while (read > 0);
    return TRUE;
}

// Allocates and locks a zero-filled movable block one byte larger than `bytes`; 0, or the
// message that tells which of the two failed.
static UINT AllocatePiece(DWORD bytes, HGLOBAL *block, BYTE **memory)
{
    *block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (SIZE_T)bytes + 1);
    if (*block == NULL)
        return IDS_NO_MEMORY_S;
    *memory = (BYTE *)GlobalLock(*block);
    if (*memory == NULL)
        return IDS_NO_LOCK_S;
    return 0;
}

// The bit counts of a device-independent bitmap.
static BOOL IsDibBitCount(WORD bitCount)
{
    switch (bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32:
        return TRUE;
    default:
        return FALSE;
    }
}

// What the platform makes of a header and colour table: the picture's size, the bytes it reads from
// the first piece and the pixel bytes it reads from the second.
struct DibMeasure {
    LONG Width;
    LONG Height;
    DWORD InfoBytes;
    DWORD PixelBytes;
};

// Checks the header and colour table held in `info` against what the platform will read from them.
// FALSE when the platform would read beyond the two pieces, could not loop over the bitmap, or the
// sizes are beyond any memory. Only a core header's colour table may be shorter than what is read:
// such a header cannot say how many colours it uses, and files that hold only those are common, so
// the table is completed (InfoBytes then exceeds `infoBytes`).
static BOOL MeasurePixels(const BYTE *info, DWORD infoBytes, DibMeasure *measure)
{
    DWORD headerSize = ReadDword(info + HEADER_SIZE_AT);
    BOOL core = headerSize == CORE_HEADER_SIZE;
    LONG width, height;
    WORD bitCount;
    DWORD compression = BI_RGB, sizeImage = 0, colorsUsed = 0, entrySize = CORE_ENTRY_SIZE;
    if (core) {
        width = ReadWord(info + CORE_WIDTH_AT);
        height = ReadWord(info + CORE_HEIGHT_AT);
        bitCount = ReadWord(info + CORE_BIT_COUNT_AT);
    } else {
        // The platform reads the header over its own stated size; smaller ones are not of this layout.
        if (headerSize < INFO_HEADER_SIZE || headerSize > infoBytes)
            return FALSE;
        width = (LONG)ReadDword(info + WIDTH_AT);
        height = (LONG)ReadDword(info + HEIGHT_AT);
        bitCount = ReadWord(info + BIT_COUNT_AT);
        compression = ReadDword(info + COMPRESSION_AT);
        sizeImage = ReadDword(info + SIZE_IMAGE_AT);
        colorsUsed = ReadDword(info + COLORS_USED_AT);
        entrySize = COLOR_ENTRY_SIZE;
    }
    // The platform refuses a negative width and answers a bitmap without width or height with
    // its 1 x 1 default bitmap: neither is the picture the file was meant to be.
    if (width <= 0 || height == 0 || !IsDibBitCount(bitCount))
        return FALSE;

    // The platform reads the masks of BI_BITFIELDS at offset 40 even inside a longer header,
    // and up to 2^bitcount colour entries after the header for 8 bits or fewer.
    DWORD tableAt = headerSize;
    if (compression == BI_BITFIELDS && tableAt < COLOR_MASKS_END)
        tableAt = COLOR_MASKS_END;
    DWORD entries = 0;
    if (bitCount <= LARGEST_INDEXED_BIT_COUNT) {
        DWORD most = (DWORD)1 << bitCount;
        entries = (colorsUsed == 0 || colorsUsed > most) ? most : colorsUsed;
    }
    measure->InfoBytes = infoBytes;
    if (core) {
        DWORD tableEnd = tableAt + entries * entrySize;  // at most 12 + 256 x 3
        if (tableEnd > infoBytes)
            measure->InfoBytes = tableEnd;
    } else if (tableAt > infoBytes || entries > (infoBytes - tableAt) / entrySize) {
        return FALSE;
    }

    // Uncompressed rows are padded to 4 bytes; the file must hold them all, and a size of 0
    // stands for exactly that many.
    if (compression == BI_RGB || compression == BI_BITFIELDS) {
        ULONGLONG stride = ((ULONGLONG)width * bitCount + ROW_ALIGNMENT_BITS - 1) / ROW_ALIGNMENT_BITS *
                           (ROW_ALIGNMENT_BITS / BITS_PER_BYTE);
        ULONGLONG rows = height < 0 ? (ULONGLONG)(-(LONGLONG)height) : (ULONGLONG)height;
        if (rows > LARGEST_PIECE / stride)
            return FALSE;
        DWORD needed = (DWORD)(stride * rows);
        if (sizeImage == 0)
            sizeImage = needed;
        if (sizeImage < needed)
            return FALSE;
    }
    if (sizeImage > LARGEST_PIECE)
        return FALSE;
    measure->Width = width;
    measure->Height = height;
    measure->PixelBytes = sizeImage;
    return TRUE;
}

// Grows the first piece, header and colour table, to `bytes` and one more, the growth zero-filled;
// 0, or the message of the failure. The block is left unlocked while it may move.
static UINT GrowInfoPiece(BitmapPieces *pieces, DWORD bytes)
{
    GlobalUnlock(pieces->InfoBlock);
    pieces->Info = NULL;
    HGLOBAL grown = GlobalReAlloc(pieces->InfoBlock, (SIZE_T)bytes + 1, GMEM_MOVEABLE | GMEM_ZEROINIT);
    if (grown == NULL)
        return IDS_NO_MEMORY_S;
    pieces->InfoBlock = grown;
    pieces->Info = (BYTE *)GlobalLock(grown);
    if (pieces->Info == NULL)
        return IDS_NO_LOCK_S;
    pieces->InfoBytes = bytes;
    return 0;
}

// The three reads into the two pieces; 0, or the message of the failure. A piece that the file
// is too short to hold is found by the file's size, before its block is asked for, so that no
// file can make the loader take more memory than the file itself holds.
static UINT ReadBitmapPieces(BitmapSource *source, BitmapPieces *pieces)
{
    int fileSize = source->Size;
    if (fileSize < 0)
        return IDS_CANNOT_READ_S;
    BYTE fileHeader[FILE_HEADER_SIZE];
    if (!ReadWhole(source, fileHeader, FILE_HEADER_SIZE))
        return IDS_CANNOT_READ_S;
    DWORD offBits = ReadDword(fileHeader + OFF_BITS_AT);
    if (offBits < FILE_HEADER_SIZE + CORE_HEADER_SIZE || offBits - FILE_HEADER_SIZE > LARGEST_PIECE)
        return IDS_NO_BITMAP_S;
    if (offBits > (DWORD)fileSize)
        return IDS_CANNOT_READ_S;

    pieces->InfoBytes = offBits - FILE_HEADER_SIZE;
    UINT failure = AllocatePiece(pieces->InfoBytes, &pieces->InfoBlock, &pieces->Info);
    if (failure != 0)
        return failure;
    if (!ReadWhole(source, pieces->Info, pieces->InfoBytes))
        return IDS_CANNOT_READ_S;
    DibMeasure measure;
    if (!MeasurePixels(pieces->Info, pieces->InfoBytes, &measure))
        return IDS_NO_BITMAP_S;
    if (measure.PixelBytes > (DWORD)fileSize - offBits)
        return IDS_CANNOT_READ_S;
    if (measure.InfoBytes > pieces->InfoBytes) {
        failure = GrowInfoPiece(pieces, measure.InfoBytes);
        if (failure != 0)
            return failure;
    }
    pieces->Width = measure.Width;
    pieces->Height = measure.Height;
    pieces->BitsBytes = measure.PixelBytes;

    failure = AllocatePiece(pieces->BitsBytes, &pieces->BitsBlock, &pieces->Bits);
    if (failure != 0)
        return failure;
    if (!ReadWhole(source, pieces->Bits, pieces->BitsBytes))
        return IDS_CANNOT_READ_S;
    return 0;
}

static void ReleasePiece(HGLOBAL block, BYTE *memory)
{
    if (memory != NULL)
        GlobalUnlock(block);
    if (block != NULL)
        GlobalFree(block);
}

// Reads the bitmap file that `source` gives into a device-dependent bitmap for `dc`, as
// LoadBitmapFile tells; `path` names it in the messages.
static HBITMAP LoadBitmapFrom(BitmapSource *source, HINSTANCE instance, const char *caption, HWND owner,
                              const char *path, HDC dc, LONG *width, LONG *height)
{
    BitmapPieces pieces;
    memset(&pieces, 0, sizeof pieces);
    UINT failure = ReadBitmapPieces(source, &pieces);
    // Whatever the pieces made of it, an entry that does not check out is a read failure.
    if (failure != IDS_NO_MEMORY_S && failure != IDS_NO_LOCK_S && !ReadToEnd(source))
        failure = IDS_CANNOT_READ_S;

    HBITMAP bitmap = NULL;
    if (failure == 0) {
        if (width != NULL)
            *width = pieces.Width;
        if (height != NULL)
            *height = pieces.Height;
        const BITMAPINFO *info = (const BITMAPINFO *)pieces.Info;
        bitmap = CreateDIBitmap(dc, &info->bmiHeader, CBM_INIT, pieces.Bits, info, DIB_RGB_COLORS);
        if (bitmap == NULL)
            failure = IDS_NO_BITMAP_S;
    }
    ReleasePiece(pieces.BitsBlock, pieces.Bits);
    ReleasePiece(pieces.InfoBlock, pieces.Info);

    switch (failure) {
    case 0:
        break;
    case IDS_NO_MEMORY_S:
    case IDS_NO_LOCK_S:
        ShowMessageFormatted(instance, caption, owner, failure, GET_BITMAP_CONTEXT, MB_ICONERROR);
        break;
    case IDS_NO_BITMAP_S:
        ShowMessageFormatted(instance, caption, owner, failure, path, MB_ICONINFORMATION);
        break;
    default:
        ShowMessageFormatted(instance, caption, owner, failure, path, MB_ICONERROR);
        break;
    }
    return bitmap;
}

HBITMAP LoadBitmapFile(HINSTANCE instance, const char *caption, HWND owner, const char *path, HDC dc,
                       LONG *width, LONG *height)
{
    if (path[0] == '\0')
        return NULL;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                              NULL);
    if (file == INVALID_HANDLE_VALUE) {
        ShowMessageFormatted(instance, caption, owner, IDS_CANNOT_OPEN_S, path, MB_ICONERROR);
        return NULL;
    }
    BitmapSource source = { file, NULL, MeasureFileSize(file) };
    HBITMAP bitmap = LoadBitmapFrom(&source, instance, caption, owner, path, dc, width, height);
    CloseHandle(file);
    return bitmap;
}

// The payload's entry of BitmapName, as LoadBitmapFile reads a file; BitmapPath names it.
static HBITMAP LoadBitmapEntry(HWND owner, HDC dc)
{
    PayloadEntry entry;
    if (FindPayloadEntry(&State.OwnPayload, State.BitmapName, &entry) != 0) {
        ShowMessageFormatted(State.Instance, State.ClassName, owner, IDS_CANNOT_OPEN_S, State.BitmapPath,
                             MB_ICONERROR);
        return NULL;
    }
    PayloadStream stream;
    if (OpenPayloadEntry(&State.OwnPayload, &entry, &stream) != PAYLOAD_OPENED) {
        ShowMessageFormatted(State.Instance, State.ClassName, owner, IDS_NO_MEMORY_S, GET_BITMAP_CONTEXT,
                             MB_ICONERROR);
        return NULL;
    }
    BitmapSource source = { NULL, &stream, (int)entry.InstalledSize };
    HBITMAP bitmap = LoadBitmapFrom(&source, State.Instance, State.ClassName, owner, State.BitmapPath, dc, NULL,
                                    NULL);
    ClosePayloadEntry(&stream);
    return bitmap;
}

// BitmapPath: the installer's directory and BitmapName, or, with a payload, the installer's own path,
// a backslash and BitmapName. FALSE when the two do not fit; the path then holds as much as fits,
// for the message only.
static BOOL FormBitmapPath(void)
{
    char module[PATH_CAPACITY];
    DWORD moduleLength = GetModuleFileNameA(NULL, module, PATH_CAPACITY);
    // A cut module name may have lost a directory; older systems leave it unterminated.
    module[PATH_CAPACITY - 1] = '\0';
    int driveLength, fileNameOffset, dotOffset;
    SplitPath(module, &driveLength, &fileNameOffset, &dotOffset);

    int nameLength = (int)strlen(State.BitmapName);
    int length = CopyChars(State.BitmapPath, VALUE_CAPACITY, module, fileNameOffset);
    if (State.OwnPayload.File != NULL) {
        length = CopyString(State.BitmapPath, VALUE_CAPACITY, module);
        length = AppendString(State.BitmapPath, VALUE_CAPACITY, length, ENTRY_SEPARATOR);
        fileNameOffset = (int)moduleLength + 1;
    }
    length = AppendChars(State.BitmapPath, VALUE_CAPACITY, length, State.BitmapName, nameLength);
    return moduleLength != 0 && moduleLength < PATH_CAPACITY && length == fileNameOffset + nameLength;
}

HBITMAP LoadBackgroundBitmap(HWND owner, HDC dc)
{
    if (State.BitmapName[0] == '\0')
        return NULL;
    BOOL whole = FormBitmapPath();
    // An entry is found by its name: its path only shows it.
    if (State.OwnPayload.File != NULL)
        return LoadBitmapEntry(owner, dc);
    if (!whole) {
        // A cut path could name another file: it is never opened.
        ShowMessageFormatted(State.Instance, State.ClassName, owner, IDS_CANNOT_OPEN_S, State.BitmapPath,
                             MB_ICONERROR);
        return NULL;
    }
    return LoadBitmapFile(State.Instance, State.ClassName, owner, State.BitmapPath, dc, NULL, NULL);
}

LRESULT BackgroundCreate(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (State.BitmapName[0] != '\0') {
        HDC dc = GetDC(window);
        State.BackgroundBitmap = LoadBackgroundBitmap(window, dc);
        ReleaseDC(window, dc);
    }
    return DefWindowProcA(window, WM_CREATE, wParam, lParam);
}

LRESULT BackgroundSize(HWND window, WPARAM wParam, LPARAM lParam)
{
    State.ClientWidth = LOWORD(lParam);
    State.ClientHeight = HIWORD(lParam);
    return DefWindowProcA(window, WM_SIZE, wParam, lParam);
}

LRESULT BackgroundErase(HWND window, WPARAM wParam, LPARAM lParam)
{
    // The tiles cover the whole client area: erasing first would only flicker.
    if (State.BackgroundBitmap != NULL)
        return 0;
    return DefWindowProcA(window, WM_ERASEBKGND, wParam, lParam);
}

// The next tile's position, or `end` once the next one would start at or past it.
static int NextTile(int at, int step, int end)
{
    return step >= end - at ? end : at + step;
}

LRESULT BackgroundPaint(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (State.BackgroundBitmap == NULL)
        return DefWindowProcA(window, WM_PAINT, wParam, lParam);

    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ former = SelectObject(memory, State.BackgroundBitmap);
    BITMAP size;
    memset(&size, 0, sizeof size);
    GetObjectA(State.BackgroundBitmap, sizeof size, &size);
    // A tile without width or height would never advance; such a bitmap paints nothing.
    if (size.bmWidth > 0 && size.bmHeight > 0) {
        for (int x = 0; x < State.ClientWidth; x = NextTile(x, size.bmWidth, State.ClientWidth)) {
            for (int y = 0; y < State.ClientHeight; y = NextTile(y, size.bmHeight, State.ClientHeight))
                BitBlt(dc, x, y, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
        }
    }
    SelectObject(memory, former);
    DeleteDC(memory);
    EndPaint(window, &paint);
    return 0;
}

void DeleteBackground(void)
{
    if (State.BackgroundBitmap != NULL) {
        DeleteObject(State.BackgroundBitmap);
        State.BackgroundBitmap = NULL;
    }
}
