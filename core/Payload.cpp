// The payload of a one-file setup.exe: the script, the backdrop and the sources, appended by the
// packer after the PE image, found from the PE headers and read back from the running program.
//
// The payload starts where the image ends (the end of the last section's raw data) and is:
//   header     28 bytes: signature "QPAYLOAD", version 1, entry count, directory size, payload size
//              (header, directory and data), then the CRC-32 of the 24 bytes before it and of the
//              whole directory;
//   directory  one record an entry: installed size, write time (FILETIME, low then high), offset of
//              its packed data from the payload's first byte, packed size, CRC-32 of the installed
//              bytes, method (0 stored, 8 raw deflate), name length (1 to 127), the name;
//   data       the entries' packed bytes, in directory order.
// What follows the payload (a signing tool's padding and certificate table) is never read. Example:
// a setup.exe whose image ends at 0x1BA00, carrying setup.inf (417 bytes, deflated to 247) and
// setup.bmp (246 bytes, stored), both written 2026-12-01 12:00 UTC (FILETIME 0x01DD818B7DAE6000):
//   0x1BA00  51 50 41 59 4C 4F 41 44                         signature "QPAYLOAD"
//   0x1BA08  01 00 00 00  02 00 00 00  46 00 00 00  4F 02 00 00   version 1, 2 entries, directory 70,
//            xx xx xx xx                                     payload 591 bytes; the checksum
//   0x1BA1C  A1 01 00 00  00 60 AE 7D 8B 81 DD 01  62 00 00 00  F7 00 00 00  xx xx xx xx  08  09
//            "setup.inf"                                     417 bytes at 0x62, 247 packed, deflated
//   0x1BA3F  F6 00 00 00  00 60 AE 7D 8B 81 DD 01  59 01 00 00  F6 00 00 00  xx xx xx xx  00  09
//            "setup.bmp"                                     246 bytes at 0x159, stored
//   0x1BA62  247 bytes of deflate data; 0x1BB59  the bitmap's 246 bytes; the payload ends at 0x1BC4F.
// Signing pads the file to a multiple of 8 and appends the table, which the certificate-table
// entry of the PE headers names: the payload lies before it, so the signature covers it.
#include "core/Payload.h"

#include <string.h>

#include "script/TextHelpers.h"

const char PAYLOAD_SIGNATURE[PAYLOAD_SIGNATURE_SIZE + 1] = "QPAYLOAD";
const char PAYLOAD_SCRIPT_NAME[] = "setup.inf";

enum {
    // PE headers.
    DOS_SIGNATURE = 0x5A4D,       // "MZ"
    PE_SIGNATURE = 0x00004550,    // "PE\0\0"
    DOS_NEW_HEADER_AT = 0x3C,
    FILE_HEADER_SIZE = 24,        // the PE signature and the COFF file header
    SECTION_COUNT_AT = 6,         // from the PE signature's first byte
    OPTIONAL_SIZE_AT = 20,
    OPTIONAL_MAGIC_PE32 = 0x10B,
    OPTIONAL_MAGIC_PE32_PLUS = 0x20B,
    HEADERS_SIZE_AT = 60,         // SizeOfHeaders, in both kinds of optional header
    PE32_DIRECTORY_COUNT_AT = 92,
    PE32_PLUS_DIRECTORY_COUNT_AT = 108,
    DIRECTORY_ENTRY_SIZE = 8,
    CERTIFICATE_DIRECTORY = 4,    // IMAGE_DIRECTORY_ENTRY_SECURITY: a file offset, not an address
    SECTION_HEADER_SIZE = 40,
    SECTION_RAW_SIZE_AT = 16,
    SECTION_RAW_OFFSET_AT = 20,
    MAXIMUM_SECTIONS = 96,
    FIRST_NAME_CHARACTER = 0x20,
    // The shortest record: a name of one byte.
    SHORTEST_RECORD = PAYLOAD_RECORD_FIXED_SIZE + 1,
};

static const char DRIVE_MARK = ':';
static const char PARENT_NAME[] = "..";

static DWORD ReadWord(const BYTE *at)
{
    return (DWORD)at[0] | (DWORD)at[1] << 8;
}

static DWORD ReadLong(const BYTE *at)
{
    return (DWORD)at[0] | (DWORD)at[1] << 8 | (DWORD)at[2] << 16 | (DWORD)at[3] << 24;
}

int ReadImageLayout(const BYTE *headers, DWORD count, ImageLayout *layout)
{
    if (count < DOS_NEW_HEADER_AT + 4 || ReadWord(headers) != DOS_SIGNATURE)
        return -1;
    DWORD peAt = ReadLong(headers + DOS_NEW_HEADER_AT);
    if (peAt > count || count - peAt < FILE_HEADER_SIZE || ReadLong(headers + peAt) != PE_SIGNATURE)
        return -1;
    DWORD sections = ReadWord(headers + peAt + SECTION_COUNT_AT);
    DWORD optionalSize = ReadWord(headers + peAt + OPTIONAL_SIZE_AT);
    DWORD optionalAt = peAt + FILE_HEADER_SIZE;
    DWORD tableAt = optionalAt + optionalSize;
    // Every size below is at most 16 bits times a small constant: no sum here can wrap.
    if (sections == 0 || sections > MAXIMUM_SECTIONS || tableAt > count ||
        count - tableAt < sections * SECTION_HEADER_SIZE || optionalSize < HEADERS_SIZE_AT + 4)
        return -1;
    const BYTE *optional = headers + optionalAt;
    DWORD directoriesAt;
    switch (ReadWord(optional)) {
    case OPTIONAL_MAGIC_PE32: directoriesAt = PE32_DIRECTORY_COUNT_AT; break;
    case OPTIONAL_MAGIC_PE32_PLUS: directoriesAt = PE32_PLUS_DIRECTORY_COUNT_AT; break;
    default: return -1;
    }
    layout->CertificateOffset = 0;
    layout->CertificateSize = 0;
    if (optionalSize >= directoriesAt + 4) {
        DWORD directories = ReadLong(optional + directoriesAt);
        DWORD entryAt = directoriesAt + 4 + CERTIFICATE_DIRECTORY * DIRECTORY_ENTRY_SIZE;
        if (directories > CERTIFICATE_DIRECTORY && optionalSize >= entryAt + DIRECTORY_ENTRY_SIZE) {
            layout->CertificateOffset = ReadLong(optional + entryAt);
            layout->CertificateSize = ReadLong(optional + entryAt + 4);
        }
    }
    ULONGLONG end = ReadLong(optional + HEADERS_SIZE_AT);
    for (DWORD i = 0; i < sections; i++) {
        const BYTE *section = headers + tableAt + i * SECTION_HEADER_SIZE;
        DWORD rawSize = ReadLong(section + SECTION_RAW_SIZE_AT);
        ULONGLONG rawEnd = (ULONGLONG)ReadLong(section + SECTION_RAW_OFFSET_AT) + rawSize;
        if (rawSize != 0 && rawEnd > end)
            end = rawEnd;
    }
    if (end > 0xFFFFFFFFull)
        return -1;
    layout->ImageEnd = (DWORD)end;
    return 0;
}

int IsPayloadName(const char *name, int length)
{
    if (length <= 0 || name[0] == '\\' || name[0] == '/')
        return 0;
    int component = 0;
    for (int i = 0; i <= length; i++) {
        if (i < length && (name[i] == DRIVE_MARK || (unsigned char)name[i] < FIRST_NAME_CHARACTER))
            return 0;
        if (i == length || name[i] == '\\' || name[i] == '/') {
            if (i - component == 2 && memcmp(name + component, PARENT_NAME, 2) == 0)
                return 0;
            component = i + 1;
        }
    }
    return 1;
}

// Reads `count` bytes at file offset `offset`. Returns TRUE when all of them came; a file that ends
// before sets ERROR_HANDLE_EOF.
static BOOL ReadAt(HANDLE file, DWORD offset, void *buffer, DWORD count)
{
    // With a high part the offset counts as unsigned: past 2 GiB it must not turn negative.
    LONG high = 0;
    if (SetFilePointer(file, (LONG)offset, &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        return FALSE;
    DWORD done = 0;
    while (done < count) {
        DWORD got = 0;
        if (!ReadFile(file, (BYTE *)buffer + done, count - done, &got, NULL))
            return FALSE;
        if (got == 0) {
            SetLastError(ERROR_HANDLE_EOF);
            return FALSE;
        }
        done += got;
    }
    return TRUE;
}

// Finds the payload's header after the image and checks it against the file; fills Start, Size,
// EntryCount and DirectorySize, and `header`. A file that cannot be measured or whose headers cannot
// be read is not known to carry one: only what follows our signature can be damaged.
static int FindPayload(HANDLE file, Payload *payload, BYTE *header)
{
    DWORD high = 0;
    DWORD fileSize = GetFileSize(file, &high);
    if (fileSize == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return PAYLOAD_NONE;
    // Offsets are 32-bit, as the certificate table's is: what lies beyond 4 GiB is never ours.
    if (high != 0)
        fileSize = 0xFFFFFFFF;
    BYTE headers[PAYLOAD_HEADERS_READ];
    DWORD count = fileSize < PAYLOAD_HEADERS_READ ? fileSize : (DWORD)PAYLOAD_HEADERS_READ;
    ImageLayout layout;
    if (!ReadAt(file, 0, headers, count) || ReadImageLayout(headers, count, &layout) != 0)
        return PAYLOAD_NONE;

    // A signed file: what follows the certificate table's start is the signature's, never ours.
    int signedFile = layout.CertificateOffset != 0 || layout.CertificateSize != 0;
    DWORD limit = fileSize;
    if (signedFile && layout.CertificateOffset < limit)
        limit = layout.CertificateOffset;
    if (limit <= layout.ImageEnd)
        return PAYLOAD_NONE;
    DWORD available = limit - layout.ImageEnd;
    if (available > PAYLOAD_HEADER_SIZE)
        available = PAYLOAD_HEADER_SIZE;
    if (!ReadAt(file, layout.ImageEnd, header, available))
        return PAYLOAD_NONE;
    // Zeros of a signing tool's padding, or anything else that is not our signature.
    DWORD compared = available < PAYLOAD_SIGNATURE_SIZE ? available : (DWORD)PAYLOAD_SIGNATURE_SIZE;
    if (memcmp(header, PAYLOAD_SIGNATURE, compared) != 0)
        return PAYLOAD_NONE;

    // From here the file carries a payload: whatever does not check out is damage.
    if (available < PAYLOAD_HEADER_SIZE || ReadLong(header + PAYLOAD_VERSION_AT) != PAYLOAD_VERSION)
        return PAYLOAD_DAMAGED;
    // A signature table that the file does not hold whole: the download was cut inside it.
    if (signedFile && (ULONGLONG)layout.CertificateOffset + layout.CertificateSize > fileSize)
        return PAYLOAD_DAMAGED;
    DWORD entries = ReadLong(header + PAYLOAD_COUNT_AT);
    DWORD directorySize = ReadLong(header + PAYLOAD_DIRECTORY_SIZE_AT);
    DWORD size = ReadLong(header + PAYLOAD_SIZE_AT);
    if (directorySize > PAYLOAD_DIRECTORY_LIMIT || entries > directorySize / SHORTEST_RECORD ||
        size < PAYLOAD_HEADER_SIZE + directorySize || size > limit - layout.ImageEnd)
        return PAYLOAD_DAMAGED;
    payload->Start = layout.ImageEnd;
    payload->Size = size;
    payload->EntryCount = (int)entries;
    payload->DirectorySize = directorySize;
    return PAYLOAD_OPENED;
}

// The record at `at` of a checked directory into *entry; returns the next record's offset.
static DWORD ReadRecord(const Payload *payload, DWORD at, PayloadEntry *entry)
{
    const BYTE *record = payload->Directory + at;
    int nameLength = record[PAYLOAD_RECORD_NAME_LENGTH_AT];
    CopyChars(entry->Name, PAYLOAD_NAME_CAPACITY, (const char *)record + PAYLOAD_RECORD_FIXED_SIZE, nameLength);
    entry->InstalledSize = ReadLong(record + PAYLOAD_RECORD_INSTALLED_AT);
    entry->WriteTime.dwLowDateTime = ReadLong(record + PAYLOAD_RECORD_TIME_AT);
    entry->WriteTime.dwHighDateTime = ReadLong(record + PAYLOAD_RECORD_TIME_AT + 4);
    entry->PackedOffset = ReadLong(record + PAYLOAD_RECORD_OFFSET_AT);
    entry->PackedSize = ReadLong(record + PAYLOAD_RECORD_PACKED_AT);
    entry->Crc = ReadLong(record + PAYLOAD_RECORD_CRC_AT);
    entry->Method = record[PAYLOAD_RECORD_METHOD_AT];
    return at + PAYLOAD_RECORD_FIXED_SIZE + nameLength;
}

// Every record whole within the directory, with a name that stays inside, a known method, a size
// the installer can count, and its data after the directory, after the entry before it and within
// the payload. Returns PAYLOAD_OPENED or PAYLOAD_DAMAGED.
static int CheckDirectory(const Payload *payload)
{
    DWORD at = 0;
    DWORD dataEnd = PAYLOAD_HEADER_SIZE + payload->DirectorySize;
    for (int i = 0; i < payload->EntryCount; i++) {
        const BYTE *record = payload->Directory + at;
        if (payload->DirectorySize - at < PAYLOAD_RECORD_FIXED_SIZE)
            return PAYLOAD_DAMAGED;
        int nameLength = record[PAYLOAD_RECORD_NAME_LENGTH_AT];
        if (nameLength >= PAYLOAD_NAME_CAPACITY ||
            payload->DirectorySize - at - PAYLOAD_RECORD_FIXED_SIZE < (DWORD)nameLength ||
            !IsPayloadName((const char *)record + PAYLOAD_RECORD_FIXED_SIZE, nameLength))
            return PAYLOAD_DAMAGED;
        PayloadEntry entry;
        at = ReadRecord(payload, at, &entry);
        int known = entry.Method == PAYLOAD_STORED ? entry.PackedSize == entry.InstalledSize
                                                   : entry.Method == PAYLOAD_DEFLATED;
        if (!known || entry.InstalledSize > PAYLOAD_ENTRY_SIZE_LIMIT || entry.PackedOffset < dataEnd ||
            entry.PackedOffset > payload->Size || entry.PackedSize > payload->Size - entry.PackedOffset)
            return PAYLOAD_DAMAGED;
        dataEnd = entry.PackedOffset + entry.PackedSize;
    }
    return at == payload->DirectorySize ? PAYLOAD_OPENED : PAYLOAD_DAMAGED;
}

// Reads the directory into a block of its own and checks it. Returns PAYLOAD_OPENED with the block
// in the payload (also when it fails otherwise: the caller gives it back).
static int LoadDirectory(Payload *payload, const BYTE *header)
{
    // One byte at least: a block of none is no block.
    payload->DirectoryHandle = GlobalAlloc(GMEM_MOVEABLE, payload->DirectorySize + 1);
    if (payload->DirectoryHandle == NULL)
        return PAYLOAD_NO_MEMORY;
    BYTE *directory = (BYTE *)GlobalLock(payload->DirectoryHandle);
    if (directory == NULL)
        return PAYLOAD_NO_MEMORY;
    payload->Directory = directory;
    if (!ReadAt(payload->File, payload->Start + PAYLOAD_HEADER_SIZE, directory, payload->DirectorySize))
        return PAYLOAD_DAMAGED;
    uLong checksum = crc32(0L, header, PAYLOAD_CHECKSUM_AT);
    checksum = crc32(checksum, directory, payload->DirectorySize);
    if (checksum != ReadLong(header + PAYLOAD_CHECKSUM_AT))
        return PAYLOAD_DAMAGED;
    return CheckDirectory(payload);
}

int OpenPayload(const char *path, Payload *payload)
{
    memset(payload, 0, sizeof *payload);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return PAYLOAD_NONE;
    payload->File = file;
    BYTE header[PAYLOAD_HEADER_SIZE];
    int result = FindPayload(file, payload, header);
    if (result == PAYLOAD_OPENED)
        result = LoadDirectory(payload, header);
    if (result != PAYLOAD_OPENED)
        ClosePayload(payload);
    return result;
}

void ClosePayload(Payload *payload)
{
    if (payload->DirectoryHandle != NULL) {
        if (payload->Directory != NULL)
            GlobalUnlock(payload->DirectoryHandle);
        GlobalFree(payload->DirectoryHandle);
    }
    if (payload->File != NULL)
        CloseHandle(payload->File);
    memset(payload, 0, sizeof *payload);
}

int GetPayloadEntry(const Payload *payload, int index, PayloadEntry *entry)
{
    if (index < 0 || index >= payload->EntryCount)
        return -1;
    DWORD at = 0;
    for (int i = 0; i < index; i++)
        at += PAYLOAD_RECORD_FIXED_SIZE + payload->Directory[at + PAYLOAD_RECORD_NAME_LENGTH_AT];
    ReadRecord(payload, at, entry);
    return 0;
}

int FindPayloadEntry(const Payload *payload, const char *name, PayloadEntry *entry)
{
    DWORD at = 0;
    for (int i = 0; i < payload->EntryCount; i++) {
        PayloadEntry candidate;
        at = ReadRecord(payload, at, &candidate);
        // Both end within the capacity: a longer name differs at the stored name's NUL.
        if (SamePathPrefix(candidate.Name, name, PAYLOAD_NAME_CAPACITY)) {
            *entry = candidate;
            return 0;
        }
    }
    return -1;
}

// zlib's memory comes from the process heap, like the rest of the program's.
static voidpf AllocateInflaterMemory(voidpf, uInt items, uInt size)
{
    if (size != 0 && items > 0xFFFFFFFFu / size)
        return Z_NULL;
    return HeapAlloc(GetProcessHeap(), 0, (SIZE_T)items * size);
}

static void FreeInflaterMemory(voidpf, voidpf address)
{
    HeapFree(GetProcessHeap(), 0, address);
}

int OpenPayloadEntry(const Payload *payload, const PayloadEntry *entry, PayloadStream *stream)
{
    memset(stream, 0, sizeof *stream);
    stream->File = payload->File;
    stream->NextOffset = payload->Start + entry->PackedOffset;
    stream->PackedLeft = entry->PackedSize;
    stream->InstalledLeft = entry->InstalledSize;
    stream->ExpectedCrc = entry->Crc;
    stream->Crc = crc32(0L, Z_NULL, 0);
    stream->Method = entry->Method;
    if (entry->Method != PAYLOAD_DEFLATED)
        return PAYLOAD_OPENED;
    stream->Inflater.zalloc = AllocateInflaterMemory;
    stream->Inflater.zfree = FreeInflaterMemory;
    stream->Inflater.opaque = Z_NULL;
    if (inflateInit2(&stream->Inflater, PAYLOAD_WINDOW_BITS) != Z_OK) {
        memset(stream, 0, sizeof *stream);
        return PAYLOAD_NO_MEMORY;
    }
    stream->Inflating = 1;
    return PAYLOAD_OPENED;
}

// A read fails, now and every time after: the stream tells why through the last error.
static BOOL FailStream(PayloadStream *stream, DWORD error, DWORD *read)
{
    stream->Failed = 1;
    *read = 0;
    SetLastError(error);
    return FALSE;
}

// Takes the next packed bytes into Input once inflate has used up what it had. Returns TRUE, or
// FALSE with the last error set.
static BOOL RefillInput(PayloadStream *stream)
{
    if (stream->Inflater.avail_in != 0 || stream->PackedLeft == 0)
        return TRUE;
    DWORD count = stream->PackedLeft < PAYLOAD_INPUT_CAPACITY ? stream->PackedLeft : (DWORD)PAYLOAD_INPUT_CAPACITY;
    if (!ReadAt(stream->File, stream->NextOffset, stream->Input, count))
        return FALSE;
    stream->NextOffset += count;
    stream->PackedLeft -= count;
    stream->Inflater.next_in = stream->Input;
    stream->Inflater.avail_in = count;
    return TRUE;
}

// Inflates until `count` bytes are in `buffer` or the deflate data ends. Returns zlib's last result,
// or Z_ERRNO when the file could not be read (the last error tells why).
static int Inflate(PayloadStream *stream, BYTE *buffer, DWORD count)
{
    stream->Inflater.next_out = buffer;
    stream->Inflater.avail_out = count;
    int result = Z_OK;
    while (stream->Inflater.avail_out > 0 && result == Z_OK) {
        if (!RefillInput(stream))
            return Z_ERRNO;
        result = inflate(&stream->Inflater, Z_NO_FLUSH);
    }
    return result;
}

// The entry's end: its deflate data ends here, with no byte more, its packed bytes all used, and
// its checksum right. Returns 0, or the error a read reports.
static DWORD CheckEnd(PayloadStream *stream, int lastResult)
{
    if (stream->Method == PAYLOAD_DEFLATED && lastResult != Z_STREAM_END) {
        // The installed bytes are all out; one more would be one too many.
        BYTE beyond;
        int result = Inflate(stream, &beyond, sizeof beyond);
        if (result == Z_ERRNO)
            return GetLastError();
        if (result != Z_STREAM_END || stream->Inflater.avail_out == 0)
            return result == Z_MEM_ERROR ? ERROR_NOT_ENOUGH_MEMORY : ERROR_CRC;
    }
    if (stream->PackedLeft != 0 || (stream->Method == PAYLOAD_DEFLATED && stream->Inflater.avail_in != 0))
        return ERROR_CRC;
    return stream->Crc == stream->ExpectedCrc ? 0 : ERROR_CRC;
}

BOOL ReadPayloadEntry(PayloadStream *stream, void *buffer, DWORD capacity, DWORD *read)
{
    if (stream->Failed)
        return FailStream(stream, ERROR_CRC, read);
    *read = 0;
    if (stream->Ended)
        return TRUE;
    DWORD count = capacity < PAYLOAD_READ_LIMIT ? capacity : (DWORD)PAYLOAD_READ_LIMIT;
    if (count > stream->InstalledLeft)
        count = stream->InstalledLeft;
    int result = Z_OK;
    if (stream->Method == PAYLOAD_STORED) {
        if (!ReadAt(stream->File, stream->NextOffset, buffer, count))
            return FailStream(stream, GetLastError(), read);
        stream->NextOffset += count;
        stream->PackedLeft -= count;
    } else if (count > 0) {
        result = Inflate(stream, (BYTE *)buffer, count);
        if (result == Z_ERRNO)
            return FailStream(stream, GetLastError(), read);
        if (result == Z_MEM_ERROR)
            return FailStream(stream, ERROR_NOT_ENOUGH_MEMORY, read);
        // Data that ends before the size the directory gives, or is not deflate data.
        if (stream->Inflater.avail_out != 0 || (result != Z_OK && result != Z_STREAM_END))
            return FailStream(stream, ERROR_CRC, read);
    }
    stream->Crc = crc32(stream->Crc, (const Bytef *)buffer, count);
    stream->InstalledLeft -= count;
    if (stream->InstalledLeft == 0) {
        DWORD error = CheckEnd(stream, result);
        if (error != 0)
            return FailStream(stream, error, read);
        stream->Ended = 1;
    }
    *read = count;
    return TRUE;
}

void ClosePayloadEntry(PayloadStream *stream)
{
    if (stream->Inflating)
        inflateEnd(&stream->Inflater);
    memset(stream, 0, sizeof *stream);
}
