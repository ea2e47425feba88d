// Any bytes as the payload after a setup.exe's image, read by the installer's payload reader: the
// directory checked, then every entry found by its name and read whole through the inflater. The
// reader never writes beyond the buffer it is given nor more than an entry holds, a read that
// succeeds to the end gives the entry's size, and no file, block or inflater memory stays held.
// The input's first byte chooses how the file is made: bit 0 seals the directory with its right
// checksum (so that the fuzzer reaches the entries), bit 1 signs the file (a certificate table
// after the payload, padded to 8 bytes, as signing tools leave it).
#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <string>

#include "FuzzWorld.h"
#include "core/Payload.h"
#include "tests/support/PeImage.h"

namespace {

const char FILE_PATH[] = "C:\\DIST\\setup.exe";
const uint8_t SEAL = 1, SIGN = 2;
const size_t SIGNATURE_ALIGNMENT = 8;
const size_t TABLE_SIZE = 16;
const size_t SENTINEL_SIZE = 64;
const unsigned char SENTINEL = 0xA5;
// Enough to reach every path; more would only slow the run (deflate grows data a thousandfold).
const int ENTRY_LIMIT = 64;
const uint64_t OUTPUT_LIMIT = 64ull << 20;

std::string MakeFile(uint8_t flags, const uint8_t *payload, size_t size)
{
    std::string file = pe::MinimalImage() + std::string((const char *)payload, size);
    size_t at = pe::IMAGE_SIZE;
    if ((flags & SEAL) && size >= PAYLOAD_HEADER_SIZE) {
        uint32_t directory = pe::GetLong(file, at + PAYLOAD_DIRECTORY_SIZE_AT);
        if (directory <= size - PAYLOAD_HEADER_SIZE) {
            uLong checksum = crc32(0L, (const Bytef *)file.data() + at, PAYLOAD_CHECKSUM_AT);
            checksum = crc32(checksum, (const Bytef *)file.data() + at + PAYLOAD_HEADER_SIZE, directory);
            pe::PutLong(file, at + PAYLOAD_CHECKSUM_AT, (uint32_t)checksum);
        }
    }
    if (flags & SIGN) {
        file.append((SIGNATURE_ALIGNMENT - file.size() % SIGNATURE_ALIGNMENT) % SIGNATURE_ALIGNMENT, '\0');
        pe::PutLong(file, pe::CERTIFICATE_ENTRY_AT, (uint32_t)file.size());
        pe::PutLong(file, pe::CERTIFICATE_ENTRY_AT + 4, TABLE_SIZE);
        file.append(TABLE_SIZE, 'S');
    }
    return file;
}

void ReadWhole(const Payload &payload, const PayloadEntry &entry, uint64_t *output)
{
    PayloadStream stream;
    if (OpenPayloadEntry(&payload, &entry, &stream) != PAYLOAD_OPENED)
        return;
    static unsigned char buffer[PAYLOAD_READ_LIMIT + SENTINEL_SIZE];
    memset(buffer + PAYLOAD_READ_LIMIT, SENTINEL, SENTINEL_SIZE);
    uint64_t total = 0;
    DWORD read = 0;
    BOOL ok;
    // The copy engine asks for a chunk and takes a short one for the last.
    while ((ok = ReadPayloadEntry(&stream, buffer, PAYLOAD_READ_LIMIT, &read)) && read == PAYLOAD_READ_LIMIT &&
           *output + total < OUTPUT_LIMIT)
        total += read;
    if (ok)
        total += read;
    for (size_t i = 0; i < SENTINEL_SIZE; i++)
        Require(buffer[PAYLOAD_READ_LIMIT + i] == SENTINEL, "a read wrote past its buffer");
    Require(total <= entry.InstalledSize, "an entry gave more bytes than it holds");
    if (ok && read < PAYLOAD_READ_LIMIT)
        Require(total == entry.InstalledSize, "an entry ended short of its size without a failure");
    ClosePayloadEntry(&stream);
    *output += total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    ResetSandbox("payload");
    std::string file = MakeFile(data[0], data + 1, size - 1);
    sim::PutFile(FILE_PATH, file);

    Payload payload;
    int result = OpenPayload(FILE_PATH, &payload);
    Require(result == PAYLOAD_OPENED || result == PAYLOAD_NONE || result == PAYLOAD_DAMAGED,
            "an unknown result, or no memory where nothing failed");
    if (result == PAYLOAD_OPENED) {
        Require(payload.Start == pe::IMAGE_SIZE && payload.Start + payload.Size <= file.size(),
                "a payload outside the file");
        uint64_t output = 0;
        for (int i = 0; i < payload.EntryCount && i < ENTRY_LIMIT; i++) {
            PayloadEntry entry, found;
            Require(GetPayloadEntry(&payload, i, &entry) == 0, "an entry of the directory cannot be had");
            Require(IsPayloadName(entry.Name, (int)strlen(entry.Name)), "a name the directory check let through");
            Require(FindPayloadEntry(&payload, entry.Name, &found) == 0, "an entry not found by its own name");
            Require(payload.Start + entry.PackedOffset + entry.PackedSize <= payload.Start + payload.Size,
                    "an entry's data outside the payload");
            ReadWhole(payload, found, &output);
        }
    } else {
        Require(payload.File == NULL && payload.DirectoryHandle == NULL, "a refused payload left held");
    }
    ClosePayload(&payload);

    Require(sim::OpenFileHandles() == 0, "a file was left open");
    Require(sim::LiveGlobalBlocks() == 0, "the directory's block was left allocated");
    Require(sim::LiveHeapBlocks() == 0, "the inflater's memory was left allocated");
    for (const sim::JournalEntry &entry : sim::Journal())
        Require(entry.kind != sim::JournalEntry::FileOpened || !(entry.type & GENERIC_WRITE), "a file opened to write");
    return 0;
}
