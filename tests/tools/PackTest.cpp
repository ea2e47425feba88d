// The one-file setup.exe: the packer refuses what the installer could not carry, every entry reads
// back through the installer's reader as it was in the folder (signed too), and a cut or altered
// file is refused at the directory or fails at the entry that was altered, with nothing left held.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "PeImage.h"
#include "SimFixture.h"
#include "core/Payload.h"
#include "tools/Packer.h"

namespace {

const char DIST[] = "C:\\DIST";
const char PACKED[] = "C:\\OUT\\Quillet-setup (1).exe";
const char SIGNED[] = "C:\\OUT\\signed.exe";

using pe::CERTIFICATE_ENTRY_AT;
using pe::GetLong;
using pe::IMAGE_SIZE;
using pe::MinimalImage;
using pe::PutLong;

// Bytes that deflate cannot make smaller.
std::string Noise(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    for (char &c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = (char)(seed >> 23);
    }
    return bytes;
}

// Text of many chunks, which deflate makes much smaller.
std::string Text(size_t lines)
{
    std::string text;
    for (size_t i = 0; i < lines; i++)
        text += "Line " + std::to_string(i) + " of the licence: the editor comes with no warranty.\r\n";
    return text;
}

const char SCRIPT[] =
    "[Install]\r\n"
    "Application=Quillet\r\n"
    "Bitmap=setup.bmp\r\n"
    "[Files]\r\n"
    "; label=destination;source\r\n"
    "Editor=Quillet.exe\r\n"
    "Help=help\\Quillet.hlp;Quillet.hlp\r\n"
    "Licence=licence.txt\r\n"
    "Nothing=empty.txt\r\n"
    "Again=copy\\QUILLET.EXE;quillet.exe\r\n"
    "Uninstaller=%Unquil.exe\r\n";

struct Expected {
    std::string Name;     // as the installer asks for it
    std::string File;     // as it lies in the folder
    int Method;
};

// Every entry, in payload order: the script, the bitmap, [Files] once each (the folder's names
// differ in letter case from the script's, as Windows allows).
const std::vector<Expected> ENTRIES = {
    { "setup.inf", "setup.inf", PAYLOAD_DEFLATED },  { "setup.bmp", "SETUP.BMP", PAYLOAD_DEFLATED },
    { "Quillet.exe", "Quillet.exe", PAYLOAD_STORED }, { "Quillet.hlp", "quillet.HLP", PAYLOAD_STORED },
    { "licence.txt", "licence.txt", PAYLOAD_DEFLATED }, { "empty.txt", "empty.txt", PAYLOAD_STORED },
    { "Unquil.exe", "Unquil.exe", PAYLOAD_STORED },
};

const FILETIME EDITOR_TIME = { 0xA1F02800, 0x01DC62B8 };

// Reads an entry whole, 8192 bytes a call; false when a read fails (its error in *error).
bool ReadEntry(const Payload &payload, const PayloadEntry &entry, std::string *bytes, DWORD *error)
{
    PayloadStream stream;
    if (OpenPayloadEntry(&payload, &entry, &stream) != PAYLOAD_OPENED) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    char buffer[PAYLOAD_READ_LIMIT];
    DWORD read = 0;
    bool ok;
    bytes->clear();
    while ((ok = ReadPayloadEntry(&stream, buffer, sizeof buffer, &read)) && read > 0) {
        bytes->append(buffer, read);
        // Short only at the end: the copy engine takes a short chunk for the last one.
        EXPECT_TRUE(read == sizeof buffer || bytes->size() == entry.InstalledSize) << entry.Name;
    }
    *error = ok ? 0 : GetLastError();
    // Once failed, it stays failed.
    if (!ok)
        EXPECT_FALSE(ReadPayloadEntry(&stream, buffer, sizeof buffer, &read));
    ClosePayloadEntry(&stream);
    return ok;
}

class PackTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        sim::PutFile("C:\\DIST\\setup.exe", MinimalImage());
        sim::PutFile("C:\\DIST\\setup.inf", SCRIPT);
        sim::PutFile("C:\\DIST\\SETUP.BMP", "BM" + std::string(3000, '\x40'));
        sim::PutFile("C:\\DIST\\Quillet.exe", Noise(3 * PAYLOAD_READ_LIMIT + 5, 1));
        sim::PutFileTimes("C:\\DIST\\Quillet.exe", EDITOR_TIME, EDITOR_TIME, EDITOR_TIME);
        sim::PutFile("C:\\DIST\\quillet.HLP", "Help of the editor, which helps.");
        sim::PutFile("C:\\DIST\\licence.txt", Text(4000));
        sim::PutFile("C:\\DIST\\empty.txt", "");
        sim::PutFile("C:\\DIST\\Unquil.exe", Noise(2 * PAYLOAD_READ_LIMIT, 2));
        sim::PutFile("C:\\OUT\\.keep", "");
    }

    PackOutcome Pack(const char *out = PACKED) { return PackDistribution(sim::HostPath(DIST), sim::HostPath(out)); }

    // The packed file, changed, as the file the reader opens.
    void Alter(const std::function<void(std::string &)> &change)
    {
        std::string bytes = *sim::GetFile(PACKED);
        change(bytes);
        sim::PutFile(PACKED, bytes);
    }

    // Reads every entry of `path` and compares it with the folder's file.
    void ExpectEveryEntry(const char *path)
    {
        Payload payload;
        ASSERT_EQ(OpenPayload(path, &payload), PAYLOAD_OPENED);
        EXPECT_EQ(payload.EntryCount, (int)ENTRIES.size());
        for (size_t i = 0; i < ENTRIES.size(); i++) {
            SCOPED_TRACE(ENTRIES[i].Name);
            PayloadEntry byIndex, byName;
            ASSERT_EQ(GetPayloadEntry(&payload, (int)i, &byIndex), 0);
            EXPECT_STREQ(byIndex.Name, ENTRIES[i].Name.c_str());
            EXPECT_EQ(byIndex.Method, ENTRIES[i].Method);
            // Found as the file system finds a name: letter case aside.
            std::string upper = ENTRIES[i].Name;
            for (char &c : upper)
                c = (char)toupper((unsigned char)c);
            ASSERT_EQ(FindPayloadEntry(&payload, upper.c_str(), &byName), 0);
            EXPECT_EQ(byName.PackedOffset, byIndex.PackedOffset);
            std::string folderFile = *sim::GetFile(std::string(DIST) + "\\" + ENTRIES[i].File);
            FILETIME creation, access, written;
            ASSERT_TRUE(sim::GetFileTimes(std::string(DIST) + "\\" + ENTRIES[i].File, &creation, &access, &written));
            EXPECT_EQ(byName.InstalledSize, folderFile.size());
            EXPECT_EQ(byName.WriteTime.dwLowDateTime, written.dwLowDateTime);
            EXPECT_EQ(byName.WriteTime.dwHighDateTime, written.dwHighDateTime);
            std::string bytes;
            DWORD error = 0;
            EXPECT_TRUE(ReadEntry(payload, byName, &bytes, &error)) << error;
            EXPECT_TRUE(bytes == folderFile);
        }
        PayloadEntry none;
        EXPECT_EQ(FindPayloadEntry(&payload, "copy\\QUILLET.EXE", &none), -1);
        ClosePayload(&payload);
        ExpectNothingHeld();
    }
};

TEST_F(PackTest, EveryEntryReadsBackAsTheFolderHasIt)
{
    PackOutcome outcome = Pack();
    ASSERT_EQ(outcome.ExitCode, PACK_DONE) << (outcome.Refusals.empty() ? "" : outcome.Refusals[0]);
    ASSERT_EQ(outcome.Lines.size(), ENTRIES.size() + 1);
    EXPECT_NE(outcome.Lines.back().find("7 entries"), std::string::npos) << outcome.Lines.back();
    ExpectEveryEntry(PACKED);
    FILETIME creation, access, written;
    ASSERT_TRUE(sim::GetFileTimes("C:\\DIST\\Quillet.exe", &creation, &access, &written));
    EXPECT_EQ(written.dwHighDateTime, EDITOR_TIME.dwHighDateTime);

    // The image is kept byte for byte, and the same folder packs to the same bytes.
    std::string first = *sim::GetFile(PACKED);
    EXPECT_EQ(first.substr(0, IMAGE_SIZE), MinimalImage());
    // A second later, so that a time of packing in the file would show.
    sleep(1);
    ASSERT_EQ(Pack("C:\\OUT\\again.exe").ExitCode, PACK_DONE);
    EXPECT_TRUE(*sim::GetFile("C:\\OUT\\again.exe") == first);
}

TEST_F(PackTest, SignedFileReadsBackAndItsCutTableIsDamage)
{
    ASSERT_EQ(Pack().ExitCode, PACK_DONE);
    std::string keys = sim::HostPath("C:\\KEYS");
    mkdir(keys.c_str(), 0777);
    std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=test"
                       " -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning"
                       " -keyout '" + keys + "/key.pem' -out '" + keys + "/cert.pem' 2>/dev/null";
    std::string sign = "osslsigncode sign -certs '" + keys + "/cert.pem' -key '" + keys + "/key.pem' -h sha256 -in '" +
                       sim::HostPath(PACKED) + "' -out '" + sim::HostPath(SIGNED) + "' >/dev/null";
    ASSERT_EQ(system(make.c_str()), 0) << "openssl makes the throwaway certificate (scripts/install-deps.sh)";
    ASSERT_EQ(system(sign.c_str()), 0) << "osslsigncode signs (scripts/install-deps.sh)";
    std::string signedFile = *sim::GetFile(SIGNED);
    // The signing tool pads the payload to 8 bytes and names its table in the headers.
    ASSERT_NE(GetLong(signedFile, CERTIFICATE_ENTRY_AT), 0u);
    ASSERT_NE(signedFile.size(), sim::GetFile(PACKED)->size());
    ExpectEveryEntry(SIGNED);

    // A download cut inside the signature: the payload is whole, the file is not.
    sim::PutFile(SIGNED, signedFile.substr(0, signedFile.size() - 100));
    Payload payload;
    EXPECT_EQ(OpenPayload(SIGNED, &payload), PAYLOAD_DAMAGED);
    ExpectNothingHeld();
}

TEST_F(PackTest, RefusesWhatTheInstallerCouldNotCarry)
{
    struct Row {
        std::string name;
        std::function<void()> arrange;
        std::string file, reason;  // in the refusal
    };
    auto script = [](const std::string &from, const std::string &to) {
        std::string text = SCRIPT;
        text.replace(text.find(from), from.size(), to);
        sim::PutFile("C:\\DIST\\setup.inf", text);
    };
    const std::vector<Row> rows = {
        { "missing source", [&] { script("licence.txt", "LICENSE.txt"); }, "\"LICENSE.txt\" (setup.inf, line 8)",
          "missing" },
        { "missing bitmap", [&] { script("setup.bmp", "backdrop.bmp"); }, "\"backdrop.bmp\" (setup.inf, line 3)",
          "missing" },
        { "missing script", [] { DeleteFileA("C:\\DIST\\setup.inf"); }, "\"setup.inf\" (the script)", "missing" },
        { "parent", [&] { script("quillet.exe", "..\\Quillet.exe"); }, "\"..\\Quillet.exe\" (setup.inf, line 10)",
          "leads out of the folder" },
        { "parent inside", [&] { script("quillet.exe", "copy/../../Quillet.exe"); }, "\"copy/../../Quillet.exe\"",
          "leads out of the folder" },
        { "drive", [&] { script("quillet.exe", "C:Quillet.exe"); }, "\"C:Quillet.exe\"", "leads out of the folder" },
        { "leading backslash", [&] { script("quillet.exe", "\\Quillet.exe"); }, "\"\\Quillet.exe\"",
          "leads out of the folder" },
        { "over 2 GiB - 1",
          [] {
              sim::PutFile("C:\\DIST\\licence.txt", "");
              ASSERT_EQ(truncate(sim::HostPath("C:\\DIST\\licence.txt").c_str(), 0x80000000LL), 0);
          },
          "\"licence.txt\"", "2147483648 bytes, over the 2147483647" },
        { "installer already packed",
          [] { sim::PutFile("C:\\DIST\\setup.exe", MinimalImage() + PAYLOAD_SIGNATURE + std::string(40, '\0')); },
          "setup.exe", "already carries a payload" },
        { "installer already signed",
          [] {
              std::string image = MinimalImage();
              PutLong(image, CERTIFICATE_ENTRY_AT, IMAGE_SIZE);
              PutLong(image, CERTIFICATE_ENTRY_AT + 4, 8);
              sim::PutFile("C:\\DIST\\setup.exe", image + std::string(8, '\0'));
          },
          "setup.exe", "already signed" },
        { "installer missing", [] { DeleteFileA("C:\\DIST\\setup.exe"); }, "setup.exe", "missing" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();  // a fresh folder for each row
        row.arrange();
        PackOutcome outcome = Pack();
        EXPECT_EQ(outcome.ExitCode, PACK_REFUSED);
        ASSERT_EQ(outcome.Refusals.size(), 1u);
        EXPECT_NE(outcome.Refusals[0].find(row.file), std::string::npos) << outcome.Refusals[0];
        EXPECT_NE(outcome.Refusals[0].find(row.reason), std::string::npos) << outcome.Refusals[0];
        EXPECT_FALSE(sim::GetFile(PACKED).has_value());
    }
}

// Offsets of the packed test file: the image ends at IMAGE_SIZE, where the payload begins.
size_t DirectoryAt()
{
    return IMAGE_SIZE + PAYLOAD_HEADER_SIZE;
}

// The record of entry `index` in `bytes`.
size_t RecordAt(const std::string &bytes, int index)
{
    size_t at = DirectoryAt();
    for (int i = 0; i < index; i++)
        at += PAYLOAD_RECORD_FIXED_SIZE + (unsigned char)bytes[at + PAYLOAD_RECORD_NAME_LENGTH_AT];
    return at;
}

// The directory's checksum made right again after a change, as a faulty packer would write it.
void Reseal(std::string &bytes)
{
    uint32_t directorySize = GetLong(bytes, IMAGE_SIZE + PAYLOAD_DIRECTORY_SIZE_AT);
    uLong checksum = crc32(0L, (const Bytef *)bytes.data() + IMAGE_SIZE, PAYLOAD_CHECKSUM_AT);
    checksum = crc32(checksum, (const Bytef *)bytes.data() + DirectoryAt(), directorySize);
    PutLong(bytes, IMAGE_SIZE + PAYLOAD_CHECKSUM_AT, (uint32_t)checksum);
}

TEST_F(PackTest, DamageIsFoundWhereItLies)
{
    const int EDITOR = 2, LICENCE = 4;  // stored, deflated
    struct Row {
        std::string name;
        std::function<void(std::string &)> change;
        int opened;          // what OpenPayload finds
        int failing = -1;    // the one entry whose reading fails (ERROR_CRC), -1 none
    };
    auto entryData = [](const std::string &bytes, int index) {
        size_t record = RecordAt(bytes, index);
        return IMAGE_SIZE + GetLong(bytes, record + PAYLOAD_RECORD_OFFSET_AT);
    };
    const std::vector<Row> rows = {
        { "cut in the last entry", [](std::string &b) { b.resize(b.size() - 1); }, PAYLOAD_DAMAGED },
        { "cut in the header", [](std::string &b) { b.resize(IMAGE_SIZE + 12); }, PAYLOAD_DAMAGED },
        { "cut in the signature", [](std::string &b) { b.resize(IMAGE_SIZE + 3); }, PAYLOAD_DAMAGED },
        { "cut at the image's end: a plain setup.exe", [](std::string &b) { b.resize(IMAGE_SIZE); }, PAYLOAD_NONE },
        { "another program's data after the image", [](std::string &b) { b[IMAGE_SIZE] = 'X'; }, PAYLOAD_NONE },
        { "a name's byte", [](std::string &b) { b[RecordAt(b, 1) + PAYLOAD_RECORD_FIXED_SIZE] ^= 1; },
          PAYLOAD_DAMAGED },
        { "the entry count", [](std::string &b) { b[IMAGE_SIZE + PAYLOAD_COUNT_AT] ^= 1; }, PAYLOAD_DAMAGED },
        { "a newer version", [](std::string &b) { b[IMAGE_SIZE + PAYLOAD_VERSION_AT] = 2; }, PAYLOAD_DAMAGED },
        { "resealed: data beyond the payload",
          [](std::string &b) {
              PutLong(b, RecordAt(b, LICENCE) + PAYLOAD_RECORD_PACKED_AT, (uint32_t)b.size());
              Reseal(b);
          },
          PAYLOAD_DAMAGED },
        { "resealed: a name leading out",
          [](std::string &b) {
              b.replace(RecordAt(b, 1) + PAYLOAD_RECORD_FIXED_SIZE, 3, "..\\");
              Reseal(b);
          },
          PAYLOAD_DAMAGED },
        { "resealed: stored with a packed size of its own",
          [](std::string &b) {
              size_t record = RecordAt(b, EDITOR);
              PutLong(b, record + PAYLOAD_RECORD_PACKED_AT, GetLong(b, record + PAYLOAD_RECORD_PACKED_AT) - 1);
              Reseal(b);
          },
          PAYLOAD_DAMAGED },
        { "resealed: a size larger than the deflate data gives",
          [](std::string &b) {
              size_t record = RecordAt(b, LICENCE);
              PutLong(b, record + PAYLOAD_RECORD_INSTALLED_AT, GetLong(b, record + PAYLOAD_RECORD_INSTALLED_AT) + 1);
              Reseal(b);
          },
          PAYLOAD_OPENED, LICENCE },
        { "resealed: a size smaller than the deflate data gives",
          [](std::string &b) {
              size_t record = RecordAt(b, LICENCE);
              PutLong(b, record + PAYLOAD_RECORD_INSTALLED_AT, GetLong(b, record + PAYLOAD_RECORD_INSTALLED_AT) - 1);
              Reseal(b);
          },
          PAYLOAD_OPENED, LICENCE },
        { "a byte inside deflated data", [&](std::string &b) { b[entryData(b, LICENCE) + 200] ^= 0x10; },
          PAYLOAD_OPENED, LICENCE },
        { "a byte inside stored data", [&](std::string &b) { b[entryData(b, EDITOR) + 9000] ^= 0x10; },
          PAYLOAD_OPENED, EDITOR },
    };
    ASSERT_EQ(Pack().ExitCode, PACK_DONE);
    std::string packed = *sim::GetFile(PACKED);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sim::PutFile(PACKED, packed);
        Alter(row.change);
        Payload payload;
        ASSERT_EQ(OpenPayload(PACKED, &payload), row.opened);
        for (int i = 0; i < payload.EntryCount; i++) {
            PayloadEntry entry;
            GetPayloadEntry(&payload, i, &entry);
            std::string bytes;
            DWORD error = 0;
            bool read = ReadEntry(payload, entry, &bytes, &error);
            EXPECT_EQ(read, i != row.failing) << entry.Name;
            if (i == row.failing)
                EXPECT_EQ(error, (DWORD)ERROR_CRC);
        }
        ClosePayload(&payload);
        ExpectNothingHeld();
    }
}

// The reader's failure rows: a fault of the system at each place it calls, what the caller gets,
// and nothing held afterwards.
TEST_F(PackTest, SystemFailuresLeaveNothingHeld)
{
    struct Row {
        std::string name;
        std::function<void()> arrange;
        int opened;
        int entryOpened = PAYLOAD_OPENED;
        DWORD readError = 0;  // of the licence's reading; 0: it reads whole
    };
    const std::vector<Row> rows = {
        { "the file cannot be opened", [] { sim::FailOpen("Quillet-setup"); }, PAYLOAD_NONE },
        { "the headers cannot be read", [] { sim::FailRead("Quillet-setup", 0); }, PAYLOAD_NONE },
        { "the directory cannot be read",
          [] { sim::FailRead("Quillet-setup", PAYLOAD_HEADERS_READ + PAYLOAD_HEADER_SIZE); }, PAYLOAD_DAMAGED },
        { "the directory reads short",
          [] { sim::FailRead("Quillet-setup", PAYLOAD_HEADERS_READ + PAYLOAD_HEADER_SIZE + 10, 0); },
          PAYLOAD_DAMAGED },
        { "no block for the directory", [] { sim::FailGlobalAlloc(1); }, PAYLOAD_NO_MEMORY },
        { "no lock of the block", [] { sim::FailGlobalLock(1); }, PAYLOAD_NO_MEMORY },
        { "no memory for the inflater", [] { sim::FailHeapAlloc(1); }, PAYLOAD_OPENED, PAYLOAD_NO_MEMORY },
        { "no memory for the inflater's window", [] { sim::FailHeapAlloc(2); }, PAYLOAD_OPENED, PAYLOAD_OPENED,
          ERROR_NOT_ENOUGH_MEMORY },
        { "the entry's data cannot be read",
          [] {
              // Halfway through the licence's packed data, after the headers and the directory.
              Payload payload;
              PayloadEntry entry;
              ASSERT_EQ(OpenPayload(PACKED, &payload), PAYLOAD_OPENED);
              ASSERT_EQ(FindPayloadEntry(&payload, "licence.txt", &entry), 0);
              ASSERT_GT(entry.PackedSize, (DWORD)PAYLOAD_INPUT_CAPACITY);
              sim::FailRead("Quillet-setup", PAYLOAD_HEADERS_READ + PAYLOAD_HEADER_SIZE + payload.DirectorySize +
                                                 entry.PackedSize / 2);
              ClosePayload(&payload);
          },
          PAYLOAD_OPENED, PAYLOAD_OPENED, ERROR_CANTREAD },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();  // a fresh world: the faults of one row end with it
        ASSERT_EQ(Pack().ExitCode, PACK_DONE);
        row.arrange();
        Payload payload;
        EXPECT_EQ(OpenPayload(PACKED, &payload), row.opened);
        if (row.opened == PAYLOAD_OPENED) {
            PayloadEntry entry;
            ASSERT_EQ(FindPayloadEntry(&payload, "licence.txt", &entry), 0);
            ASSERT_EQ(entry.Method, PAYLOAD_DEFLATED);
            PayloadStream stream;
            EXPECT_EQ(OpenPayloadEntry(&payload, &entry, &stream), row.entryOpened);
            if (row.entryOpened == PAYLOAD_OPENED) {
                char buffer[PAYLOAD_READ_LIMIT];
                DWORD read = 0, total = 0;
                BOOL ok;
                while ((ok = ReadPayloadEntry(&stream, buffer, sizeof buffer, &read)) && read > 0)
                    total += read;
                EXPECT_EQ(ok ? 0 : GetLastError(), row.readError);
                EXPECT_EQ(total == entry.InstalledSize, row.readError == 0);
            }
            ClosePayloadEntry(&stream);
        }
        ClosePayload(&payload);
        ExpectNothingHeld();
    }
}

}  // namespace
