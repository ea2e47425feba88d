// The packer: reads the folder's script with the installer's own reader, finds each file it names
// as Windows would, refuses what the installer could not carry, and writes setup.exe with the
// payload after its image, streaming every file through fixed buffers.
#include <windows.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/CopyEngine.h"
#include "core/InstallState.h"
#include "core/Payload.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"
#include "tools/Folders.h"
#include "tools/Packer.h"

namespace {

const char INSTALLER_NAME[] = "setup.exe";
const char WINDOWS_DESTINATION_MARK = '%';
const uint64_t FILETIME_UNIX_EPOCH = 116444736000000000ull;  // 1970-01-01 in 100 ns since 1601
const uint64_t FILETIME_TICKS_PER_SECOND = 10000000ull;
const uint64_t PACKED_FILE_LIMIT = 0xFFFFFFFFull;  // the certificate table's offset is 32 bits

enum {
    STREAM_BUFFER = 64 * 1024,
    NAME_BUFFER = 64,
};

struct Entry {
    std::string Name;  // as the installer asks for it
    std::string Host;  // the file in the folder
    std::string Where;  // the script line that names it, for messages
    uint64_t Size = 0;
    FILETIME WriteTime = {};
    // Once written:
    uint32_t Offset = 0;
    uint32_t Packed = 0;
    uint32_t Crc = 0;
    int Method = PAYLOAD_STORED;
};

std::string ResourceString(UINT id)
{
    char text[NAME_BUFFER];
    LoadStringA(NULL, id, text, NAME_BUFFER);
    return text;
}

// The host path of a script's name below `folder`, its parts separated by '\' or '/'; empty when
// some part is not there.
std::string ResolveName(const std::string &folder, const std::string &name)
{
    std::string path = folder;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = name.size();
        std::string part = name.substr(start, end - start);
        if (!part.empty()) {
            std::string found = FindInFolder(path, part);
            if (found.empty())
                return "";
            path += "/" + found;
        }
        start = end + 1;
    }
    return path;
}

FILETIME ToFileTime(const struct timespec &time)
{
    int64_t ticks = (int64_t)time.tv_sec * (int64_t)FILETIME_TICKS_PER_SECOND + time.tv_nsec / 100 +
                    (int64_t)FILETIME_UNIX_EPOCH;
    uint64_t value = ticks < 0 ? 0 : (uint64_t)ticks;
    return FILETIME{ (DWORD)value, (DWORD)(value >> 32) };
}

void PutLong(unsigned char *at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        at[i] = (unsigned char)(value >> (8 * i));
}

bool WriteAll(int fd, const void *bytes, size_t count)
{
    const char *at = (const char *)bytes;
    while (count > 0) {
        ssize_t put = write(fd, at, count);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        at += put;
        count -= (size_t)put;
    }
    return true;
}

// Reads up to `count` bytes, fewer only at the file's end; -1 on an error.
ssize_t ReadSome(int fd, void *bytes, size_t count)
{
    size_t done = 0;
    while (done < count) {
        ssize_t got = read(fd, (char *)bytes + done, count - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += (size_t)got;
    }
    return (ssize_t)done;
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

class Packer {
public:
    Packer(const std::string &folder, const std::string &out) : folder_(folder), out_(out) {}
    PackOutcome Run();

private:
    void Refuse(const std::string &what, const std::string &reason)
    {
        outcome_.Refusals.push_back(what + ": " + reason);
    }
    bool CheckInstaller();
    bool ReadScript();
    void AddEntry(const std::string &name, const std::string &where);
    bool WriteFile();
    bool WriteEntry(int out, Entry &entry, uint64_t at);
    bool StoreEntry(int out, Entry &entry, uint64_t at);
    void WriteDirectory(int out);

    std::string folder_, out_;
    PackOutcome outcome_;
    std::string installer_;  // host path
    uint64_t imageEnd_ = 0;
    std::string script_;     // its text, NUL-terminated by std::string
    std::vector<Entry> entries_;
    std::vector<unsigned char> input_, output_;
};

// setup.exe must be a PE image with nothing after it: neither a payload nor a signature, which
// packing would break (pack first, then sign).
bool Packer::CheckInstaller()
{
    std::string name = FindInFolder(folder_, INSTALLER_NAME);
    installer_ = folder_ + "/" + (name.empty() ? INSTALLER_NAME : name);
    int fd = open(installer_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Refuse(installer_, "missing: the folder has no setup.exe");
        return false;
    }
    struct stat info;
    unsigned char headers[PAYLOAD_HEADERS_READ];
    ssize_t count = fstat(fd, &info) == 0 ? ReadSome(fd, headers, sizeof headers) : -1;
    ImageLayout layout;
    bool image = count > 0 && S_ISREG(info.st_mode) && ReadImageLayout(headers, (DWORD)count, &layout) == 0;
    unsigned char after[PAYLOAD_SIGNATURE_SIZE] = {};
    ssize_t afterCount = image ? pread(fd, after, sizeof after, layout.ImageEnd) : 0;
    close(fd);
    if (!image) {
        Refuse(installer_, "not a Windows program (no PE headers)");
        return false;
    }
    if (layout.CertificateOffset != 0 || layout.CertificateSize != 0) {
        Refuse(installer_, "already signed: pack the unsigned setup.exe, then sign the packed file");
        return false;
    }
    if ((uint64_t)info.st_size < layout.ImageEnd) {
        Refuse(installer_, "cut short: its sections end after its last byte");
        return false;
    }
    if ((uint64_t)info.st_size > layout.ImageEnd) {
        bool payload =
            afterCount == PAYLOAD_SIGNATURE_SIZE && memcmp(after, PAYLOAD_SIGNATURE, PAYLOAD_SIGNATURE_SIZE) == 0;
        Refuse(installer_, payload ? "already carries a payload: pack the setup.exe the build made"
                                   : "carries data after its image, where the payload goes");
        return false;
    }
    imageEnd_ = layout.ImageEnd;
    return true;
}

// Adds the file the script names `name` at `where`, once, after checking that the installer could
// carry it: a name inside the folder, an existing file, a size an entry can hold.
void Packer::AddEntry(const std::string &name, const std::string &where)
{
    for (const Entry &entry : entries_) {
        if (SamePathPrefix(entry.Name.c_str(), name.c_str(), PAYLOAD_NAME_CAPACITY))
            return;
    }
    std::string what = Quoted(name) + " (" + where + ")";
    if (name.empty()) {
        Refuse(what, "names no file");
        return;
    }
    if (std::any_of(name.begin(), name.end(), [](char c) { return (unsigned char)c < ' '; })) {
        Refuse(what, "holds a control character, which no file name can");
        return;
    }
    if (!IsPayloadName(name.c_str(), (int)name.size())) {
        Refuse(what, "leads out of the folder (\"..\", a drive, or a leading \\)");
        return;
    }
    Entry entry;
    entry.Name = name;
    entry.Where = where;
    entry.Host = ResolveName(folder_, name);
    struct stat info;
    if (entry.Host.empty() || stat(entry.Host.c_str(), &info) != 0) {
        Refuse(what, "missing from " + folder_);
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        Refuse(what, "not a file: " + entry.Host);
        return;
    }
    if ((uint64_t)info.st_size > PAYLOAD_ENTRY_SIZE_LIMIT) {
        Refuse(what, std::to_string((uint64_t)info.st_size) + " bytes, over the " +
                         std::to_string((unsigned)PAYLOAD_ENTRY_SIZE_LIMIT) + " (2 GiB - 1) a file may have");
        return;
    }
    entry.Size = (uint64_t)info.st_size;
    entry.WriteTime = ToFileTime(info.st_mtim);
    entries_.push_back(entry);
}

// The script, the bitmap its [Install] section names and the sources of its [Files] section, read
// as the installer reads them: the same sections, keys, value capacity and source split.
bool Packer::ReadScript()
{
    AddEntry(PAYLOAD_SCRIPT_NAME, "the script");
    if (entries_.empty())
        return false;
    const std::string path = entries_[0].Host;
    const std::string scriptName = path.substr(folder_.size() + 1);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<char> bytes(entries_[0].Size);
    bool read = fd >= 0 && ReadSome(fd, bytes.data(), bytes.size()) == (ssize_t)bytes.size();
    if (fd >= 0)
        close(fd);
    if (!read) {
        Refuse(path, "cannot be read");
        return false;
    }
    // The installer's text ends at its first NUL, as a string's does.
    script_.assign(bytes.data(), bytes.size());
    script_ = std::string(script_.c_str());

    auto lineOf = [this, &scriptName](int cursor) {
        return scriptName + ", line " + std::to_string(1 + std::count(script_.begin(), script_.begin() + cursor, '\n'));
    };
    const char *text = script_.c_str();
    int cursor = 0;
    std::string install = ResourceString(IDS_INSTALL_SECTION);
    if (FindScriptSection(NULL, NULL, NULL, install.c_str(), FALSE, text, &cursor) != 0) {
        Refuse(path, "no [" + install + "] section: the installer would stop at once");
        return false;
    }
    std::string bitmapKey = ResourceString(IDS_BITMAP_KEY);
    char bitmap[VALUE_CAPACITY] = "";
    int bitmapLine = 0;
    ScriptLine line;
    for (int length; (length = ParseScriptLine(text + cursor, &line)) != 0; cursor += length) {
        // Every line is tried by the key's first bytes, and the last one wins, as at start-up.
        if (KeyMatches(text + cursor, bitmapKey.c_str(), (int)bitmapKey.size()) == 0) {
            CopyChars(bitmap, VALUE_CAPACITY, line.ValueStart, line.ValueLength);
            bitmapLine = cursor;
        }
    }
    if (bitmap[0] != '\0')
        AddEntry(bitmap, lineOf(bitmapLine));

    std::string files = ResourceString(IDS_FILES_SECTION);
    if (FindScriptSection(NULL, NULL, NULL, files.c_str(), FALSE, text, &cursor) != 0) {
        Refuse(path, "no [" + files + "] section: the installer would stop at once");
        return false;
    }
    for (int length; (length = ParseScriptLine(text + cursor, &line)) != 0; cursor += length) {
        if (line.KeyLength == 0 && line.ValueLength == 0)
            continue;
        const char *value = line.ValueStart;
        int count = line.ValueLength;
        if (count > 0 && value[0] == WINDOWS_DESTINATION_MARK) {
            value++;
            count--;
        }
        char entryValue[VALUE_CAPACITY];
        CopyChars(entryValue, VALUE_CAPACITY, value, count);
        AddEntry(SplitEntryValue(entryValue), lineOf(cursor));
    }
    return true;
}

// Deflates the entry at payload offset `at`; falls back to storing it when deflate does not make
// it smaller. Returns false after a refusal.
bool Packer::WriteEntry(int out, Entry &entry, uint64_t at)
{
    int in = open(entry.Host.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        Refuse(entry.Host, std::string("cannot be opened: ") + strerror(errno));
        return false;
    }
    z_stream deflater = {};
    if (deflateInit2(&deflater, PAYLOAD_DEFLATE_LEVEL, Z_DEFLATED, PAYLOAD_WINDOW_BITS, PAYLOAD_MEMORY_LEVEL,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        close(in);
        Refuse(entry.Host, "no memory to deflate it");
        return false;
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t read = 0, packed = 0;
    bool failed = lseek(out, (off_t)(imageEnd_ + at), SEEK_SET) < 0, larger = false, ended = false;
    while (!ended && !failed && !larger) {
        ssize_t got = ReadSome(in, input_.data(), input_.size());
        if (got < 0) {
            failed = true;
            break;
        }
        read += (uint64_t)got;
        crc = crc32(crc, input_.data(), (uInt)got);
        int flush = (size_t)got < input_.size() ? Z_FINISH : Z_NO_FLUSH;
        deflater.next_in = input_.data();
        deflater.avail_in = (uInt)got;
        do {
            deflater.next_out = output_.data();
            deflater.avail_out = (uInt)output_.size();
            int result = deflate(&deflater, flush);
            size_t produced = output_.size() - deflater.avail_out;
            packed += produced;
            if (packed >= entry.Size) {
                larger = true;  // stored it is; the rest need not be deflated
                break;
            }
            if (!WriteAll(out, output_.data(), produced))
                failed = true;
            ended = result == Z_STREAM_END;
        } while (!failed && !ended && deflater.avail_out == 0);
    }
    deflateEnd(&deflater);
    close(in);
    if (failed) {
        Refuse(entry.Host, std::string("cannot be read, or the packed file written: ") + strerror(errno));
        return false;
    }
    if (larger)
        return StoreEntry(out, entry, at);
    if (read != entry.Size) {
        Refuse(entry.Host, "changed while it was packed");
        return false;
    }
    entry.Method = PAYLOAD_DEFLATED;
    entry.Packed = (uint32_t)packed;
    entry.Crc = (uint32_t)crc;
    return true;
}

// Copies the entry as it is to payload offset `at`.
bool Packer::StoreEntry(int out, Entry &entry, uint64_t at)
{
    int in = open(entry.Host.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0 || lseek(out, (off_t)(imageEnd_ + at), SEEK_SET) < 0) {
        if (in >= 0)
            close(in);
        Refuse(entry.Host, std::string("cannot be opened again: ") + strerror(errno));
        return false;
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t copied = 0;
    ssize_t got;
    while ((got = ReadSome(in, input_.data(), input_.size())) > 0) {
        crc = crc32(crc, input_.data(), (uInt)got);
        copied += (uint64_t)got;
        if (copied > entry.Size || !WriteAll(out, input_.data(), (size_t)got))
            break;
    }
    close(in);
    if (got < 0 || copied != entry.Size) {
        Refuse(entry.Host, got < 0 ? std::string("cannot be read: ") + strerror(errno) : "changed while it was packed");
        return false;
    }
    entry.Method = PAYLOAD_STORED;
    entry.Packed = (uint32_t)entry.Size;
    entry.Crc = (uint32_t)crc;
    return true;
}

// The header and the directory, at the payload's start, checksum last.
void Packer::WriteDirectory(int out)
{
    std::vector<unsigned char> bytes(PAYLOAD_HEADER_SIZE);
    for (const Entry &entry : entries_) {
        unsigned char record[PAYLOAD_RECORD_FIXED_SIZE];
        PutLong(record + PAYLOAD_RECORD_INSTALLED_AT, (uint32_t)entry.Size);
        PutLong(record + PAYLOAD_RECORD_TIME_AT, entry.WriteTime.dwLowDateTime);
        PutLong(record + PAYLOAD_RECORD_TIME_AT + 4, entry.WriteTime.dwHighDateTime);
        PutLong(record + PAYLOAD_RECORD_OFFSET_AT, entry.Offset);
        PutLong(record + PAYLOAD_RECORD_PACKED_AT, entry.Packed);
        PutLong(record + PAYLOAD_RECORD_CRC_AT, entry.Crc);
        record[PAYLOAD_RECORD_METHOD_AT] = (unsigned char)entry.Method;
        record[PAYLOAD_RECORD_NAME_LENGTH_AT] = (unsigned char)entry.Name.size();
        bytes.insert(bytes.end(), record, record + sizeof record);
        bytes.insert(bytes.end(), entry.Name.begin(), entry.Name.end());
    }
    uint32_t directorySize = (uint32_t)(bytes.size() - PAYLOAD_HEADER_SIZE);
    const Entry &last = entries_.back();
    memcpy(bytes.data(), PAYLOAD_SIGNATURE, PAYLOAD_SIGNATURE_SIZE);
    PutLong(&bytes[PAYLOAD_VERSION_AT], PAYLOAD_VERSION);
    PutLong(&bytes[PAYLOAD_COUNT_AT], (uint32_t)entries_.size());
    PutLong(&bytes[PAYLOAD_DIRECTORY_SIZE_AT], directorySize);
    PutLong(&bytes[PAYLOAD_SIZE_AT], last.Offset + last.Packed);
    uLong checksum = crc32(0L, bytes.data(), PAYLOAD_CHECKSUM_AT);
    checksum = crc32(checksum, bytes.data() + PAYLOAD_HEADER_SIZE, directorySize);
    PutLong(&bytes[PAYLOAD_CHECKSUM_AT], (uint32_t)checksum);
    if (pwrite(out, bytes.data(), bytes.size(), (off_t)imageEnd_) != (ssize_t)bytes.size())
        Refuse(out_, std::string("cannot be written: ") + strerror(errno));
}

bool Packer::WriteFile()
{
    uint64_t directorySize = 0, largest = 0;
    for (const Entry &entry : entries_) {
        directorySize += PAYLOAD_RECORD_FIXED_SIZE + entry.Name.size();
        largest += entry.Size;
    }
    // Stored, every entry would take its own size: the most the payload can take.
    if (directorySize > PAYLOAD_DIRECTORY_LIMIT ||
        imageEnd_ + PAYLOAD_HEADER_SIZE + directorySize + largest > PACKED_FILE_LIMIT) {
        Refuse(out_, "the files would make it larger than 4 GiB - 1 bytes, which no signature can cover");
        return false;
    }
    int in = open(installer_.c_str(), O_RDONLY | O_CLOEXEC);
    int out = in < 0 ? -1 : open(out_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    bool ok = in >= 0 && out >= 0;
    ssize_t got = 0;
    while (ok && (got = ReadSome(in, input_.data(), input_.size())) > 0)
        ok = WriteAll(out, input_.data(), (size_t)got);
    if (!ok || got < 0) {
        bool reading = in < 0 || got < 0;
        Refuse(reading ? installer_ : out_, std::string(reading ? "cannot be read: " : "cannot be written: ") +
                                                strerror(errno));
    } else {
        uint64_t at = PAYLOAD_HEADER_SIZE + directorySize;
        for (Entry &entry : entries_) {
            entry.Offset = (uint32_t)at;
            if (!WriteEntry(out, entry, at))
                break;
            at += entry.Packed;
        }
        if (outcome_.Refusals.empty())
            WriteDirectory(out);
        // A stored entry may follow a longer deflate attempt: the file ends with the payload.
        if (outcome_.Refusals.empty() && ftruncate(out, (off_t)(imageEnd_ + at)) != 0)
            Refuse(out_, std::string("cannot be written: ") + strerror(errno));
        if (outcome_.Refusals.empty() && fsync(out) != 0)
            Refuse(out_, std::string("cannot be written to the disk: ") + strerror(errno));
    }
    if (in >= 0)
        close(in);
    if (out >= 0 && close(out) != 0 && outcome_.Refusals.empty())
        Refuse(out_, std::string("cannot be written: ") + strerror(errno));
    return outcome_.Refusals.empty();
}

PackOutcome Packer::Run()
{
    input_.resize(STREAM_BUFFER);
    output_.resize(STREAM_BUFFER);
    bool installer = CheckInstaller();
    // Every reason is told at once, so that one run shows all there is to mend.
    if (!ReadScript() || !installer || !outcome_.Refusals.empty() || !WriteFile())
        return outcome_;
    uint64_t installed = 0, packed = 0;
    for (const Entry &entry : entries_) {
        installed += entry.Size;
        packed += entry.Packed;
        outcome_.Lines.push_back(entry.Name + ": " + std::to_string(entry.Size) + " -> " +
                                 std::to_string(entry.Packed) + " bytes, " +
                                 (entry.Method == PAYLOAD_DEFLATED ? "deflated" : "stored"));
    }
    const Entry &last = entries_.back();
    outcome_.Lines.push_back(std::to_string(entries_.size()) + " entries, " + std::to_string(installed) +
                             " bytes installed, " + std::to_string(packed) + " bytes packed; " +
                             std::to_string(imageEnd_) + " bytes of setup.exe, then a payload of " +
                             std::to_string(last.Offset + last.Packed) + " bytes");
    outcome_.ExitCode = PACK_DONE;
    return outcome_;
}

}  // namespace

PackOutcome PackDistribution(const std::string &folder, const std::string &out)
{
    return Packer(folder, out).Run();
}

PackOutcome CheckPackedFile(const char *path)
{
    PackOutcome outcome;
    Payload payload;
    int result = OpenPayload(path, &payload);
    if (result != PAYLOAD_OPENED) {
        outcome.Refusals.push_back(std::string(path) + ": " +
                                   (result == PAYLOAD_NONE      ? "carries no payload"
                                    : result == PAYLOAD_DAMAGED ? "its payload is damaged (cut short or altered)"
                                                                : "no memory for its directory"));
        return outcome;
    }
    std::vector<unsigned char> buffer(PAYLOAD_READ_LIMIT);
    for (int i = 0; i < payload.EntryCount; i++) {
        PayloadEntry entry;
        GetPayloadEntry(&payload, i, &entry);
        PayloadStream stream;
        if (OpenPayloadEntry(&payload, &entry, &stream) != PAYLOAD_OPENED) {
            outcome.Refusals.push_back(std::string(entry.Name) + ": no memory to inflate it");
            continue;
        }
        uint64_t total = 0;
        DWORD read = 0;
        BOOL ok;
        while ((ok = ReadPayloadEntry(&stream, buffer.data(), PAYLOAD_READ_LIMIT, &read)) && read > 0)
            total += read;
        DWORD error = GetLastError();
        ClosePayloadEntry(&stream);
        if (!ok || total != entry.InstalledSize)
            outcome.Refusals.push_back(std::string(entry.Name) + ": cannot be read back (error " +
                                       std::to_string(error) + ")");
        else
            outcome.Lines.push_back(std::string(entry.Name) + ": " + std::to_string(entry.InstalledSize) +
                                    " bytes, checksum right");
    }
    ClosePayload(&payload);
    outcome.ExitCode = outcome.Refusals.empty() ? PACK_DONE : PACK_REFUSED;
    return outcome;
}
