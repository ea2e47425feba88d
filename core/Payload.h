// The payload a one-file setup.exe carries after its PE image: its format, found from the PE headers
// and checked whole before use, and its entries read back chunk by chunk.
#pragma once

#include <windows.h>
#include <zlib.h>

enum {
    // Format. Every number is little-endian; offsets of entries count from the payload's first byte.
    PAYLOAD_SIGNATURE_SIZE = 8,
    PAYLOAD_VERSION = 1,
    PAYLOAD_HEADER_SIZE = 28,
    PAYLOAD_VERSION_AT = 8,
    PAYLOAD_COUNT_AT = 12,
    PAYLOAD_DIRECTORY_SIZE_AT = 16,
    PAYLOAD_SIZE_AT = 20,
    PAYLOAD_CHECKSUM_AT = 24,  // CRC-32 of the header's bytes before it and of the whole directory
    PAYLOAD_RECORD_INSTALLED_AT = 0,
    PAYLOAD_RECORD_TIME_AT = 4,  // FILETIME, low then high part
    PAYLOAD_RECORD_OFFSET_AT = 12,
    PAYLOAD_RECORD_PACKED_AT = 16,
    PAYLOAD_RECORD_CRC_AT = 20,
    PAYLOAD_RECORD_METHOD_AT = 24,
    PAYLOAD_RECORD_NAME_LENGTH_AT = 25,
    PAYLOAD_RECORD_FIXED_SIZE = 26,  // the name's bytes follow, without a NUL
    PAYLOAD_STORED = 0,
    PAYLOAD_DEFLATED = 8,
    // An entry's name is a source name of the script, which the installer holds in 128 bytes.
    PAYLOAD_NAME_CAPACITY = 128,
    PAYLOAD_DIRECTORY_LIMIT = 1 << 20,
    PAYLOAD_ENTRY_SIZE_LIMIT = 0x7FFFFFFF,  // 2 GiB - 1: a size the installer counts in an int
    // Raw deflate (no zlib wrapper: the entry's CRC-32 checks it), one level, so one zlib version
    // packs a folder to the same bytes every time.
    PAYLOAD_WINDOW_BITS = -15,
    PAYLOAD_DEFLATE_LEVEL = 6,
    PAYLOAD_MEMORY_LEVEL = 8,
    // The most a read delivers: the copy engine's chunk.
    PAYLOAD_READ_LIMIT = 8192,
    PAYLOAD_INPUT_CAPACITY = 8192,
    // The PE headers are looked for in the file's first bytes.
    PAYLOAD_HEADERS_READ = 4096,
};

// The signature that opens a payload.
extern const char PAYLOAD_SIGNATURE[PAYLOAD_SIGNATURE_SIZE + 1];
// The entry that holds the script, whatever the installer is called when it runs.
extern const char PAYLOAD_SCRIPT_NAME[];

// What OpenPayload and OpenPayloadEntry find.
enum {
    PAYLOAD_OPENED = 0,
    PAYLOAD_NONE = 1,       // the file carries no payload, or cannot be opened: the folder beside it is read
    PAYLOAD_DAMAGED = 2,    // a payload that is cut short, altered, or cannot be read whole: nothing may be used
    PAYLOAD_NO_MEMORY = 3,  // a block for the directory or the inflater's state could not be had
};

// Where a PE file's parts lie, from its headers.
struct ImageLayout {
    DWORD ImageEnd;            // the end of the last section's raw data (at least the headers' end)
    DWORD CertificateOffset;   // the certificate table's file offset; 0 and 0 when the file is not signed
    DWORD CertificateSize;
};

struct Payload {
    HANDLE File;           // null when nothing is open
    DWORD Start;           // file offset of the payload's first byte
    DWORD Size;            // bytes from there to the end of the last entry's data
    int EntryCount;
    HGLOBAL DirectoryHandle;
    const BYTE *Directory;  // the checked directory, locked while the payload is open
    DWORD DirectorySize;
};

// One entry of the directory, as checked.
struct PayloadEntry {
    char Name[PAYLOAD_NAME_CAPACITY];  // NUL-terminated
    DWORD InstalledSize;
    FILETIME WriteTime;
    DWORD PackedOffset;  // from the payload's first byte
    DWORD PackedSize;
    DWORD Crc;           // CRC-32 of the installed bytes
    int Method;          // PAYLOAD_STORED or PAYLOAD_DEFLATED
};

// One entry being read. It points into itself while open: it stays where it was opened.
struct PayloadStream {
    HANDLE File;          // the payload's, not owned
    DWORD NextOffset;     // file offset of the next packed byte to read
    DWORD PackedLeft;
    DWORD InstalledLeft;
    DWORD ExpectedCrc;
    DWORD Crc;
    int Method;
    int Inflating;        // Inflater holds zlib state to end
    int Ended;            // its end reached and checked: reads give 0 bytes
    int Failed;           // a read failed: every later read fails too
    z_stream Inflater;
    BYTE Input[PAYLOAD_INPUT_CAPACITY];
};

// Reads a PE file's layout from its first `count` bytes. Returns 0, or -1 when they do not hold a PE
// image's headers (an image ending beyond 4 GiB included).
int ReadImageLayout(const BYTE *headers, DWORD count, ImageLayout *layout);
// Whether `length` bytes can name an entry: a name inside the installer's folder (not empty, no
// drive or other ':', no leading '\' or '/', no ".." between separators) and no control character,
// which no file name holds (a NUL would cut it short).
int IsPayloadName(const char *name, int length);

// Opens the payload that the file at `path` carries after its image and checks its directory: the
// checksum, every entry's data within the payload and the payload within the file (before the
// signature when it is signed), every name inside. Returns PAYLOAD_OPENED with *payload open (the
// file held, shared for reading, and the directory's block), or another result with nothing held
// and *payload cleared.
int OpenPayload(const char *path, Payload *payload);
// Gives back the file and the directory; a cleared or closed payload is left as it is.
void ClosePayload(Payload *payload);
// Entry `index` (0 to EntryCount - 1) into *entry. Returns 0, or -1 for an index outside.
int GetPayloadEntry(const Payload *payload, int index, PayloadEntry *entry);
// The first entry named `name`, letter case aside as the file system takes names. Returns 0, or -1
// when none is (*entry then left as it was).
int FindPayloadEntry(const Payload *payload, const char *name, PayloadEntry *entry);

// Starts reading `entry`. Returns PAYLOAD_OPENED, or PAYLOAD_NO_MEMORY (the stream then holds nothing).
int OpenPayloadEntry(const Payload *payload, const PayloadEntry *entry, PayloadStream *stream);
// Puts the next installed bytes into `buffer`, as ReadFile does: min(capacity, PAYLOAD_READ_LIMIT)
// of them, fewer only at the entry's end, 0 once it has ended. The read that reaches the end checks
// the entry whole (its size, its CRC-32, its packed data used up exactly). Returns TRUE, or FALSE with
// *read 0 and the last error set (ERROR_CRC for altered data, ERROR_HANDLE_EOF for a cut file,
// ERROR_NOT_ENOUGH_MEMORY, or the file's read error); after a failure every read fails.
BOOL ReadPayloadEntry(PayloadStream *stream, void *buffer, DWORD capacity, DWORD *read);
// Gives back what the stream holds; closing a closed stream does nothing.
void ClosePayloadEntry(PayloadStream *stream);
