// The dry run itself: the distribution folder mapped read-only as the installer's own directory on a
// default machine of the stand-in, the installer's real entry point run to its end with a user who
// accepts every default, and its journal turned into the steps a publisher reads.
#include <windows.h>

#include <dirent.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "SimControl.h"
#include "core/CopyEngine.h"
#include "core/InstallState.h"
#include "core/RunFrame.h"
#include "resources/resource.h"
#include "system/Leftovers.h"
#include "tools/DryRun.h"
#include "tools/Folders.h"
#include "ui/Background.h"

namespace {

const char SHELL_FOLDERS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char VERSION_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char DEFAULT_INSTALLER[] = "setup.exe";
const char SCRIPT_EXTENSION[] = ".inf";
const char CONFIGURATION_FILE[] = "Quillet.cfg";
const char DIRECTORY_TEMPLATE[] = "DIRECTORY";
const char COPY_TEMPLATE[] = "COPY";
const char REGISTRATION_TEMPLATE[] = "REGISTRATION";
// The log a silent run is told to write, on a drive of its own, out of the machine's sight.
const char LOG_FILE[] = "L:\\check-distribution.log";
const char SILENT_SWITCH[] = "/S";
const char NO_ASSOCIATE_SWITCH[] = "/NOASSOCIATE";
const char ALL_USERS_SWITCH[] = "/ALLUSERS";
const char LOG_SWITCH[] = "/LOG=";
const char DIRECTORY_SWITCH[] = "/D=";
// The lines of the installer's log that the record is read from, after the time of day and its blank.
const char LOG_LINE_END[] = "\r\n";
const char LOG_TIME_END = ' ';
const char LOG_BOX_NOT_SHOWN[] = "Message not shown (silent run): ";
const char LOG_TARGET_DIRECTORY[] = "Target directory: ";
const char LOG_FILE_TYPES[] = "File types: ";
const char LOG_DIRECTORY_CREATED[] = "Directory created: ";
const char LOG_FILE_COPIED[] = "File copied: ";
const char LOG_REGISTRY_WRITTEN[] = "Registry value written: ";
const char LOG_SHORTCUT_CREATED[] = "Shortcut created: ";
const char LOG_FILE_DELETED[] = "File deleted: ";
const char LOG_ANSWER[] = " -> ";
const char LOG_QUOTE = '"';
const char LOG_CAPTION_END[] = "\": \"";  // between the quoted caption and the quoted text
// How the installer names an entry of its payload: below its own path.
const char ENTRY_SEPARATOR[] = "\\";

enum {
    NAME_BUFFER = 32,
    TEXT_BUFFER = 512,
    PATH_LIMIT = 259,   // characters a 260-byte path keeps
    VALUE_LIMIT = 127,  // characters a 128-byte field keeps
    DRIVE_ROOT_LENGTH = 3,  // "C:\"
};

bool EndsWith(const std::string &text, const std::string &ending)
{
    return text.size() >= ending.size() && Lower(text.substr(text.size() - ending.size())) == Lower(ending);
}

std::string Stem(const std::string &name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string RealPath(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

bool ReadHostFile(const std::string &path, std::string *bytes)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream content;
    content << file.rdbuf();
    *bytes = content.str();
    return true;
}

std::string ErrorText(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND: return "file not found";
    case ERROR_PATH_NOT_FOUND: return "path not found";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_SHARING_VIOLATION: return "sharing violation";
    case ERROR_INVALID_NAME: return "invalid name";
    case ERROR_FILENAME_EXCED_RANGE: return "name too long";
    case ERROR_DISK_FULL: return "disk full";
    case ERROR_ALREADY_EXISTS: return "already exists";
    default: return "error " + std::to_string(error);
    }
}

std::string ButtonsOf(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return "OK, Cancel";
    case MB_YESNO: return "Yes, No";
    case MB_YESNOCANCEL: return "Yes, No, Cancel";
    default: return "OK";
    }
}

std::string IconOf(UINT type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONWARNING: return "warning";
    case MB_ICONINFORMATION: return "information";
    default: return "none";
    }
}

// The path a command starts: the quoted text at its start, or everything up to its first blank.
std::string ProgramOf(const std::string &command)
{
    if (!command.empty() && command[0] == '"')
        return command.substr(1, command.find('"', 1) == std::string::npos ? std::string::npos
                                                                            : command.find('"', 1) - 1);
    return command.substr(0, command.find(' '));
}

// The file of an icon location "path,index".
std::string IconFileOf(const std::string &location)
{
    size_t comma = location.rfind(',');
    if (comma == std::string::npos)
        return location;
    std::string index = location.substr(comma + 1);
    size_t digits = index.find_first_not_of("-+");
    bool number = digits != std::string::npos && index.find_first_not_of("0123456789", digits) == std::string::npos;
    return number ? location.substr(0, comma) : location;
}

bool StartsWith(const std::string &text, const char *start)
{
    return text.compare(0, strlen(start), start) == 0;
}

std::string AnswerOf(int answer)
{
    switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return std::to_string(answer);
    }
}

LANGID LanguageOf(const std::string &code)
{
    return code == "fr" ? 1036 : code == "it" ? 1040 : 1033;
}

std::string ResourceString(UINT id)
{
    char text[TEXT_BUFFER];
    LoadStringA(sim::Instance(), id, text, TEXT_BUFFER);
    return text;
}

std::string FormattedString(UINT id, const std::string &argument)
{
    char text[TEXT_BUFFER];
    wsprintfA(text, ResourceString(id).c_str(), argument.c_str());
    return text;
}

// Something the dry run's user saw in a dialog, placed before journal entry `At`.
struct Note {
    size_t At;
    DryRunStep Step;
};

DryRunStep MakeStep(const std::string &kind, std::vector<StepField> fields)
{
    DryRunStep step;
    step.Kind = kind;
    step.Fields = std::move(fields);
    return step;
}

StepField Text(const std::string &name, const std::string &ansi)
{
    return { name, AnsiToUtf8(ansi), false };
}

StepField Number(const std::string &name, uint64_t value)
{
    return { name, std::to_string(value), true };
}

StepField Flag(const std::string &name, bool value)
{
    return { name, value ? "true" : "false", true };
}

class DryRun {
public:
    DryRun(const DryRunOptions &options, const std::string &sandbox) : options_(options), sandbox_(sandbox) {}
    DryRunResult Run();

private:
    void LocateScript();
    bool ReadPackedScript();
    void BeginEntry(size_t index, const std::string &source, DWORD error, int64_t size);
    void LayOutMachine();
    void RunInstaller();
    void ReadInstallerLog(const std::vector<sim::JournalEntry> &journal);
    void ReadJournal(const std::vector<sim::JournalEntry> &journal);
    void FlushEntry();
    void CheckBitmap();
    void CheckPaths();
    void CheckReferences();
    void CheckReference(int line, const char *code, const std::string &what, const std::string &path);
    // Each pitfall once a line; an entry without '=' has already been told to name no file.
    void Warn(int line, const std::string &code, const std::string &text)
    {
        for (const DryRunWarning &warning : result_.Warnings) {
            if (warning.Line == line && (warning.Code == code || (warning.Code == "no-equals" && code == "missing-source")))
                return;
        }
        result_.Warnings.push_back({ line, code, text });
    }

    const DryRunOptions &options_;
    std::string sandbox_;
    DryRunResult result_;
    std::string scriptHost_;
    std::string scriptBytes_;
    bool scriptReadable_ = false;
    // A packed setup.exe: its entries' names (in lower case) and sizes, and where in the journal
    // each [Files] line was taken, by the script offset of that line: no source file is opened.
    bool packed_ = false;
    std::map<std::string, uint64_t> entries_;
    struct Taken {
        size_t At;
        int Offset;
    };
    std::vector<Taken> taken_;
    ScriptFacts facts_;
    std::vector<Note> notes_;
    std::vector<std::string> boxes_;  // the texts of every message, shown or not, in order
    std::string failure_;
    // The journal entries from the first [Files] entry to the end of the copy, as the
    // sequencer's messages tell them: a silent run has no copy dialog to tell them by.
    size_t copyStart_ = SIZE_MAX;
    size_t copyEnd_ = SIZE_MAX;

    // The [Files] entry being copied during the walk of the journal. The installer first opens the
    // destination itself to see that it can be replaced (absent is fine), then writes the copy into
    // a file of its own beside it, which it moves into the destination's place once complete.
    struct Copy {
        bool Active = false;
        size_t Index = 0;
        std::string Source, Destination, Written;
        DWORD DestinationError = 0;
        DWORD ReplaceError = 0;
        uint64_t WrittenBytes = 0;
        int64_t SourceSize = -1;  // known beforehand for an entry; a file's is read when written
        bool Complete = false;
    } copy_;
    size_t copies_ = 0;
    size_t copied_ = 0;
};

// The script and the entries of a packed setup.exe, read through the installer's own reader as the
// run will read them. False when it carries no payload that checks out, or no script.
bool DryRun::ReadPackedScript()
{
    Payload payload;
    std::string path = result_.Machine.InstallerFolder + result_.Installer;
    if (OpenPayload(path.c_str(), &payload) != PAYLOAD_OPENED)
        return false;
    for (int i = 0; i < payload.EntryCount; i++) {
        PayloadEntry entry;
        GetPayloadEntry(&payload, i, &entry);
        entries_.emplace(Lower(entry.Name), entry.InstalledSize);
    }
    PayloadEntry script;
    PayloadStream stream;
    bool read = FindPayloadEntry(&payload, PAYLOAD_SCRIPT_NAME, &script) == 0 &&
                OpenPayloadEntry(&payload, &script, &stream) == PAYLOAD_OPENED;
    if (read) {
        char buffer[PAYLOAD_READ_LIMIT];
        DWORD count = 0;
        while ((read = ReadPayloadEntry(&stream, buffer, PAYLOAD_READ_LIMIT, &count)) && count > 0)
            scriptBytes_.append(buffer, count);
        ClosePayloadEntry(&stream);
    }
    ClosePayload(&payload);
    return read;
}

// The script by the installer's naming rule: the installer's name with ".inf" for its extension, or
// the script a packed setup.exe carries.
void DryRun::LocateScript()
{
    const std::string &folder = options_.Folder;
    result_.Installer = DEFAULT_INSTALLER;
    if (packed_) {
        result_.Installer = folder.substr(folder.rfind('/') + 1);
        sim::MapPath(result_.Machine.InstallerFolder + result_.Installer, RealPath(folder));
        result_.Script = result_.Machine.InstallerFolder + result_.Installer + ENTRY_SEPARATOR + PAYLOAD_SCRIPT_NAME;
        scriptReadable_ = ReadPackedScript();
        return;
    }
    if (!options_.ScriptFile.empty()) {
        scriptHost_ = options_.ScriptFile;
        std::string name = scriptHost_.substr(scriptHost_.rfind('/') + 1);
        std::string parent = scriptHost_.find('/') == std::string::npos
                                 ? "."
                                 : scriptHost_.substr(0, scriptHost_.rfind('/'));
        if (RealPath(parent) == RealPath(folder) && EndsWith(name, SCRIPT_EXTENSION) &&
            name.substr(name.size() - 4) == SCRIPT_EXTENSION) {
            std::string installer = FindInFolder(folder, Stem(name) + ".exe");
            result_.Installer = installer.empty() ? Stem(name) + ".exe" : installer;
        } else {
            // A script kept elsewhere is shown to the installer in the place of its own.
            sim::MapPath(result_.Machine.InstallerFolder + Stem(result_.Installer) + SCRIPT_EXTENSION,
                         RealPath(scriptHost_));
        }
    } else {
        std::vector<std::string> installers;
        for (const std::string &entry : FolderEntries(folder)) {
            if (EndsWith(entry, ".exe") && !FindInFolder(folder, Stem(entry) + SCRIPT_EXTENSION).empty())
                installers.push_back(entry);
        }
        for (const std::string &installer : installers) {
            if (Lower(installer) == DEFAULT_INSTALLER || installers.size() == 1)
                result_.Installer = installer;
        }
        std::string script = FindInFolder(folder, Stem(result_.Installer) + SCRIPT_EXTENSION);
        scriptHost_ = folder + "/" + (script.empty() ? Stem(result_.Installer) + SCRIPT_EXTENSION : script);
    }
    result_.Script = result_.Machine.InstallerFolder + Stem(result_.Installer) + SCRIPT_EXTENSION;
    scriptReadable_ = ReadHostFile(scriptHost_, &scriptBytes_);
}

void DryRun::LayOutMachine()
{
    const DryRunMachine &machine = result_.Machine;
    sim::SetLanguage(LanguageOf(options_.Language));
    sim::SetModulePath(machine.InstallerFolder + result_.Installer);
    sim::SetCurrentDirectory(machine.InstallerFolder);
    sim::SetWindowsDirectory(machine.WindowsDirectory);
    // The folders a Windows machine has, each with the hidden file it keeps there.
    for (const std::string &folder :
         { machine.ProgramFiles, machine.Programs, machine.Desktop, machine.CommonPrograms, machine.CommonDesktop })
        sim::PutFile(folder + "\\desktop.ini", "");
    // The editor's settings from an earlier installation, which a clean one removes.
    sim::PutFile(machine.WindowsDirectory + "\\" + CONFIGURATION_FILE, "[Quillet]\r\n");
    sim::RegPutString(HKEY_LOCAL_MACHINE, VERSION_KEY, "ProgramFilesDir", machine.ProgramFiles);
    sim::RegPutString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Programs", machine.Programs);
    sim::RegPutString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Desktop", machine.Desktop);
    sim::RegPutString(HKEY_LOCAL_MACHINE, SHELL_FOLDERS, "Common Programs", machine.CommonPrograms);
    sim::RegPutString(HKEY_LOCAL_MACHINE, SHELL_FOLDERS, "Common Desktop", machine.CommonDesktop);
}

void DryRun::RunInstaller()
{
    sim::User user;
    user.onMessageBox = [](const sim::MessageBoxRecord &box) {
        return (box.type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    };
    user.onDialog = [this](HWND dialog, const std::string &name) {
        size_t at = sim::Journal().size();
        if (name == DIRECTORY_TEMPLATE) {
            notes_.push_back({ at, MakeStep("directory-dialog",
                                            { Text("caption", sim::WindowText(dialog)),
                                              Text("prompt", sim::ControlText(dialog, IDC_DIRECTORY_PROMPT)),
                                              Text("directory", sim::ControlText(dialog, IDC_DIRECTORY_EDIT)),
                                              Text("size", sim::ControlText(dialog, IDC_DIRECTORY_SIZE)),
                                              Text("answer", "Install"), Flag("shown", true) }) });
            sim::PressButton(dialog, IDC_DIRECTORY_INSTALL);
        } else if (name == REGISTRATION_TEMPLATE) {
            notes_.push_back({ at, MakeStep("file-types-dialog",
                                            { Text("caption", sim::WindowText(dialog)),
                                              Text("suffixes", sim::ControlText(dialog, IDC_REGISTRATION_SUFFIXES)),
                                              Text("answer", "Yes"), Flag("shown", true) }) });
            sim::PressButton(dialog, IDC_REGISTRATION_YES);
        } else {
            throw sim::SimFailure("an unknown dialog " + name + " waits for the user");
        }
    };
    user.onMessage = [this](const MSG &msg) {
        // The line the step is about to take: where a packed installer's entry begins.
        if (msg.message == WM_COPY_NEXT_FILE && packed_)
            taken_.push_back({ sim::Journal().size(), State.ScriptCursor + State.LastLineLength });
        if (msg.message == WM_COPY_NEXT_FILE && copyStart_ == SIZE_MAX)
            copyStart_ = sim::Journal().size();
        else if ((msg.message == WM_COPY_DONE || msg.message == WM_FINISH) && copyStart_ != SIZE_MAX &&
                 copyEnd_ == SIZE_MAX)
            copyEnd_ = sim::Journal().size();
    };
    sim::SetUser(user);

    // The switches in the order the installer documents them, /D= last as it takes the rest of the
    // line; a silent run also writes its log, which is all it tells of its messages.
    std::string switches;
    auto add = [&switches](const std::string &word) { switches += (switches.empty() ? "" : " ") + word; };
    if (options_.Silent)
        add(SILENT_SWITCH);
    if (options_.NoAssociate)
        add(NO_ASSOCIATE_SWITCH);
    if (options_.AllUsers)
        add(ALL_USERS_SWITCH);
    std::string commandLine = switches;
    if (options_.Silent) {
        sim::PutFile(LOG_FILE, "");
        commandLine += (commandLine.empty() ? "" : " ") + std::string(LOG_SWITCH) + LOG_FILE;
    }
    if (!options_.Directory.empty()) {
        add(DIRECTORY_SWITCH + options_.Directory);
        commandLine += std::string(" ") + DIRECTORY_SWITCH + options_.Directory;
    }
    result_.Switches = switches;
    std::vector<char> arguments(commandLine.begin(), commandLine.end());
    arguments.push_back('\0');
    try {
        result_.InstallerExitCode = WinMain(sim::Instance(), nullptr, arguments.data(), SW_SHOWNORMAL);
    } catch (const sim::ProcessExit &exit) {
        result_.InstallerExitCode = (int)exit.code;
    } catch (const sim::SimFailure &failure) {
        failure_ = std::string("the installer stopped on the stand-in: ") + failure.what();
    }
}

// A silent run shows nothing: what it would have shown, and how it answered, is in its own log, as
// deployment tools read it. Each message, the directory taken and the suffixes confirmed go into
// the record just before the next effect that both the log and the journal hold.
void DryRun::ReadInstallerLog(const std::vector<sim::JournalEntry> &journal)
{
    std::optional<std::string> log = sim::GetFile(LOG_FILE);
    if (!log)
        return;
    struct Effect {
        const char *Line;
        sim::JournalEntry::Kind Kind;
        const char *End;  // what follows the path on the line; "" for the end of the line
    };
    static const Effect EFFECTS[] = {
        { LOG_DIRECTORY_CREATED, sim::JournalEntry::DirectoryCreated, "" },
        // A copy is in its destination once its temporary file is moved there.
        { LOG_FILE_COPIED, sim::JournalEntry::FileMoved, " (" },
        { LOG_REGISTRY_WRITTEN, sim::JournalEntry::RegistryValueSet, " [" },
        { LOG_SHORTCUT_CREATED, sim::JournalEntry::LinkSaved, LOG_ANSWER },
        { LOG_FILE_DELETED, sim::JournalEntry::FileDeleted, "" },
    };
    std::vector<DryRunStep> pending;
    size_t cursor = 0;  // the journal entries before it are those of the lines read so far
    for (size_t at = 0; at < log->size();) {
        size_t end = log->find(LOG_LINE_END, at);
        if (end == std::string::npos)
            end = log->size();
        std::string line = log->substr(at, end - at);
        at = end + strlen(LOG_LINE_END);
        size_t time = line.find(LOG_TIME_END);
        if (time == std::string::npos)
            continue;
        line.erase(0, time + 1);
        size_t answer = line.rfind(LOG_ANSWER);
        if (StartsWith(line, LOG_BOX_NOT_SHOWN) && answer != std::string::npos) {
            // "CAPTION": "TEXT" -> ANSWER
            std::string quoted = line.substr(strlen(LOG_BOX_NOT_SHOWN), answer - strlen(LOG_BOX_NOT_SHOWN));
            size_t split = quoted.find(LOG_CAPTION_END);
            if (split == std::string::npos || quoted[0] != LOG_QUOTE || quoted.back() != LOG_QUOTE)
                continue;
            size_t start = split + strlen(LOG_CAPTION_END);
            std::string text = quoted.substr(start, quoted.size() - 1 - start);
            boxes_.push_back(text);
            pending.push_back(MakeStep("box", { Text("caption", quoted.substr(1, split - 1)), Text("text", text),
                                                Text("answer", line.substr(answer + strlen(LOG_ANSWER))),
                                                Flag("shown", false) }));
        } else if (StartsWith(line, LOG_TARGET_DIRECTORY)) {
            std::string directory = line.substr(strlen(LOG_TARGET_DIRECTORY));
            pending.push_back(MakeStep("directory-dialog", { Text("directory", directory), Text("answer", "Install"),
                                                             Flag("shown", false) }));
        } else if (StartsWith(line, LOG_FILE_TYPES) && answer != std::string::npos) {
            // "LIST" -> ANSWER
            std::string quoted = line.substr(strlen(LOG_FILE_TYPES), answer - strlen(LOG_FILE_TYPES));
            bool enclosed = quoted.size() >= 2 && quoted[0] == LOG_QUOTE && quoted.back() == LOG_QUOTE;
            std::string suffixes = enclosed ? quoted.substr(1, quoted.size() - 2) : quoted;
            std::string confirmed = line.substr(answer + strlen(LOG_ANSWER));
            pending.push_back(MakeStep("file-types-dialog", { Text("suffixes", suffixes), Text("answer", confirmed),
                                                              Flag("shown", false) }));
        }
        for (const Effect &effect : EFFECTS) {
            if (!StartsWith(line, effect.Line))
                continue;
            std::string path = line.substr(strlen(effect.Line));
            if (effect.End[0] != '\0')
                path = path.substr(0, path.find(effect.End));
            for (size_t entry = cursor; entry < journal.size(); entry++) {
                const std::string &named =
                    effect.Kind == sim::JournalEntry::FileMoved ? journal[entry].name : journal[entry].path;
                if (journal[entry].kind != effect.Kind || Lower(named) != Lower(path))
                    continue;
                for (DryRunStep &step : pending)
                    notes_.push_back({ entry, std::move(step) });
                pending.clear();
                cursor = entry + 1;
                break;
            }
        }
    }
    for (DryRunStep &step : pending)
        notes_.push_back({ journal.size(), std::move(step) });
}

// The destination that a file the installer writes is for: itself, or the one it is written beside.
std::string DestinationOf(const std::string &path)
{
    size_t suffix = strlen(TEMPORARY_SUFFIX);
    return EndsWith(path, TEMPORARY_SUFFIX) ? path.substr(0, path.size() - suffix) : path;
}

// The [Files] entry whose copy has ended without its file in the destination's place, as a step
// (a copy that got there is no longer active).
void DryRun::FlushEntry()
{
    if (!copy_.Active)
        return;
    copy_.Active = false;
    const FilesEntry *entry = copy_.Index < facts_.Files.size() ? &facts_.Files[copy_.Index] : nullptr;
    int line = entry != nullptr ? entry->Line : 0;
    std::string reason = copy_.DestinationError != 0 ? "destination cannot be opened (" +
                                                           ErrorText(copy_.DestinationError) + ")"
                         : copy_.ReplaceError != 0 ? "destination cannot be replaced (" +
                                                         ErrorText(copy_.ReplaceError) + ")"
                                                   : "the copy was cut short";
    result_.Steps.push_back(MakeStep("not-copied", { Text("source", copy_.Source),
                                                     Text("destination", copy_.Destination),
                                                     Text("reason", reason) }));
    Warn(line, "copy-fails", "destination \"" + AnsiToUtf8(copy_.Destination) + "\": " + reason);
}

// A [Files] entry's copy begins with its source, opened (`error` 0, `size` known or -1) or not.
void DryRun::BeginEntry(size_t index, const std::string &source, DWORD error, int64_t size)
{
    FlushEntry();
    copy_ = Copy();
    copy_.Index = index;
    copy_.Source = source;
    copy_.SourceSize = size;
    if (error == 0) {
        copy_.Active = true;
        return;
    }
    const FilesEntry *line = index < facts_.Files.size() ? &facts_.Files[index] : nullptr;
    result_.Steps.push_back(MakeStep("not-copied", { Text("source", source),
                                                     Text("reason", "source cannot be opened (" +
                                                                        ErrorText(error) + ")") }));
    std::string named = line != nullptr ? line->Source : source;
    Warn(line != nullptr ? line->Line : 0, "missing-source",
         named.empty() ? "the entry names no source file: it counts as a failed copy"
                       : "source \"" + AnsiToUtf8(named) + "\" cannot be opened (" + ErrorText(error) +
                             "): the user is warned and the file is not copied");
}

void DryRun::ReadJournal(const std::vector<sim::JournalEntry> &journal)
{
    std::set<std::string> linkFiles;
    for (const sim::LinkRecord &link : sim::Links())
        linkFiles.insert(Lower(link.file));
    size_t links = 0;
    size_t nextNote = 0;
    size_t nextTaken = 0;
    bool copying = false;
    for (size_t at = 0; at <= journal.size(); at++) {
        for (; nextNote < notes_.size() && notes_[nextNote].At == at; nextNote++)
            result_.Steps.push_back(notes_[nextNote].Step);
        if (at == copyEnd_)
            FlushEntry();
        copying = (copying || at == copyStart_) && at != copyEnd_;
        // A packed installer opens no source file: its entry begins where its line is taken.
        for (; nextTaken < taken_.size() && taken_[nextTaken].At == at; nextTaken++) {
            const std::string text = scriptBytes_.substr(0, taken_[nextTaken].Offset);
            int line = 1 + (int)std::count(text.begin(), text.end(), '\n');
            for (size_t index = 0; index < facts_.Files.size(); index++) {
                if (facts_.Files[index].Line != line)
                    continue;
                const std::string &name = facts_.Files[index].Source;
                auto entry = entries_.find(Lower(name));
                BeginEntry(index, result_.Machine.InstallerFolder + result_.Installer + ENTRY_SEPARATOR + name,
                           entry == entries_.end() ? ERROR_FILE_NOT_FOUND : 0,
                           entry == entries_.end() ? -1 : (int64_t)entry->second);
            }
        }
        if (at == journal.size())
            break;
        const sim::JournalEntry &entry = journal[at];
        switch (entry.kind) {
        case sim::JournalEntry::DialogShown:
            copying = copying || entry.path == COPY_TEMPLATE;
            break;
        case sim::JournalEntry::DialogClosed:
            if (entry.path == COPY_TEMPLATE) {
                FlushEntry();
                copying = false;
            }
            break;
        case sim::JournalEntry::FileOpened:
            if (!copying || linkFiles.count(Lower(entry.path)))
                break;
            if (!(entry.type & GENERIC_WRITE)) {
                // Each entry opens its source once, in the order of [Files].
                if (!packed_)
                    BeginEntry(copies_++, entry.path, entry.error, -1);
            } else if (copy_.Active) {
                // The first file opened for writing is the destination, or, where there is none to
                // look at first, the file beside it; the last one that opened is where the copy goes.
                if (copy_.Destination.empty())
                    copy_.Destination = DestinationOf(entry.path);
                if (entry.error == 0)
                    copy_.Written = entry.path;
                if (entry.error != ERROR_FILE_NOT_FOUND)
                    copy_.DestinationError = entry.error;
            }
            break;
        case sim::JournalEntry::FileClosed:
            if (copying && copy_.Active && entry.path == copy_.Written) {
                struct stat info;
                uint64_t size = copy_.SourceSize >= 0 ? (uint64_t)copy_.SourceSize
                                : stat(sim::HostPath(copy_.Source).c_str(), &info) == 0 ? (uint64_t)info.st_size
                                                                                        : 0;
                copy_.WrittenBytes = entry.bytes;
                copy_.Complete = entry.bytes == size;
            }
            break;
        case sim::JournalEntry::FileMoved:
            if (copying && copy_.Active && entry.path == copy_.Written) {
                if (entry.error == 0 && copy_.Complete) {
                    result_.Steps.push_back(MakeStep("copy", { Text("source", copy_.Source),
                                                               Text("destination", entry.name),
                                                               Number("size", copy_.WrittenBytes) }));
                    copied_++;
                    copy_.Active = false;
                } else {
                    copy_.ReplaceError = entry.error;
                }
            }
            break;
        case sim::JournalEntry::DirectoryCreated:
            if (entry.error == 0)
                result_.Steps.push_back(MakeStep("directory", { Text("path", entry.path) }));
            else if (entry.error != ERROR_ALREADY_EXISTS)
                result_.Steps.push_back(
                    MakeStep("directory", { Text("path", entry.path), Text("error", ErrorText(entry.error)) }));
            break;
        case sim::JournalEntry::RegistryValueSet: {
            std::string value = entry.data;
            if (!value.empty() && value.back() == '\0')
                value.pop_back();
            std::string type = entry.type == REG_SZ ? "REG_SZ" : std::to_string(entry.type);
            if (entry.type == REG_DWORD && entry.data.size() == sizeof(DWORD)) {
                DWORD number;
                memcpy(&number, entry.data.data(), sizeof number);
                type = "REG_DWORD";
                value = "dword:" + std::to_string(number);
            }
            std::vector<StepField> fields = { Text("key", entry.path),
                                              Text("name", entry.name.empty() ? "@" : entry.name),
                                              Text("type", type), Text("value", value) };
            if (entry.error != 0)
                fields.push_back(Text("error", ErrorText(entry.error)));
            result_.Steps.push_back(MakeStep("registry", fields));
            break;
        }
        case sim::JournalEntry::LinkSaved: {
            const sim::LinkRecord &link = sim::Links()[links++];
            result_.Steps.push_back(MakeStep("shortcut", { Text("file", link.file), Text("target", link.target),
                                                           Text("description", link.description),
                                                           Text("icon", link.iconFile),
                                                           Number("index", (uint64_t)(int64_t)link.iconIndex),
                                                           Number("show", (uint64_t)link.showCommand) }));
            break;
        }
        case sim::JournalEntry::MessageBoxShown:
            result_.Steps.push_back(MakeStep("box", { Text("caption", entry.path), Text("text", entry.data),
                                                      Text("icon", IconOf(entry.type)),
                                                      Text("buttons", ButtonsOf(entry.type)),
                                                      Text("answer", AnswerOf(entry.answer)), Flag("shown", true) }));
            break;
        case sim::JournalEntry::FileDeleted:
            if (EndsWith(entry.path, std::string("\\") + CONFIGURATION_FILE))
                result_.Steps.push_back(MakeStep("configuration", { Text("path", entry.path),
                                                                    Text("result", entry.error == 0
                                                                                       ? "deleted"
                                                                                       : "not deleted (" +
                                                                                             ErrorText(entry.error) +
                                                                                             ")") }));
            break;
        // What only the uninstaller does: an installation never removes anything.
        case sim::JournalEntry::DirectoryRemoved:
        case sim::JournalEntry::RegistryValueDeleted:
        case sim::JournalEntry::RegistryKeyDeleted:
            break;
        }
    }
    FlushEntry();
}

// The backdrop's bitmap through the installer's own loader, apart from the run.
void DryRun::CheckBitmap()
{
    if (State.BitmapName[0] == '\0' || facts_.BitmapLine == 0)
        return;
    std::string refused;
    sim::User user;
    user.onMessageBox = [&refused](const sim::MessageBoxRecord &box) {
        refused = box.text;
        return IDOK;
    };
    sim::SetUser(user);
    // The loader's message is wanted even after a silent run, which would keep it from the screen.
    int silent = ::Run.Silent;
    ::Run.Silent = FALSE;
    // The run gave back its payload at its end; the loader reads the backdrop from it again.
    if (packed_)
        OpenPayload((result_.Machine.InstallerFolder + result_.Installer).c_str(), &State.OwnPayload);
    HDC dc = CreateCompatibleDC(NULL);
    HBITMAP bitmap = LoadBackgroundBitmap(NULL, dc);
    if (bitmap != NULL)
        DeleteObject(bitmap);
    DeleteDC(dc);
    ClosePayload(&State.OwnPayload);
    ::Run.Silent = silent;
    if (bitmap == NULL)
        Warn(facts_.BitmapLine, "bitmap-refused",
             "the bitmap loader refuses " + AnsiToUtf8(State.BitmapName) +
                 (refused.empty() ? std::string() : ": \"" + AnsiToUtf8(refused) + "\""));
}

// Paths the installer composes in fixed buffers, cut on this machine.
void DryRun::CheckPaths()
{
    const DryRunMachine &machine = result_.Machine;
    std::string application = State.ApplicationName;
    if (facts_.ApplicationLine != 0) {
        if (machine.ProgramFiles.size() + 1 + application.size() > VALUE_LIMIT)
            Warn(facts_.ApplicationLine, "path-cut",
                 "the proposed directory " + machine.ProgramFiles + "\\" + AnsiToUtf8(application) +
                     " is cut at 127 characters");
        if (machine.Programs.size() + 1 + application.size() > VALUE_LIMIT)
            Warn(facts_.ApplicationLine, "path-cut", "the program group's folder is cut at 127 characters");
    }
    std::string target = State.TargetDirectory;
    for (const FilesEntry &entry : facts_.Files) {
        size_t base = entry.WindowsDirectory ? machine.WindowsDirectory.size() : target.size();
        if (base + 1 + entry.Destination.size() > PATH_LIMIT)
            Warn(entry.Line, "path-cut", "the destination's path is cut at 259 characters");
        // A packed installer's source path only names its entry.
        if (!packed_ && machine.InstallerFolder.size() + entry.Source.size() > PATH_LIMIT)
            Warn(entry.Line, "path-cut", "the source's path is cut at 259 characters");
    }
    std::string group = State.GroupFolder;
    for (const GroupEntry &entry : facts_.Group) {
        bool cut = target.size() + 1 + entry.Target.size() > PATH_LIMIT ||
                   group.size() + 1 + entry.Name.size() > PATH_LIMIT ||
                   machine.Desktop.size() + 1 + entry.Name.size() > PATH_LIMIT ||
                   (!entry.IconFile.empty() && entry.IconFile[0] == '%' &&
                    target.size() + entry.IconFile.size() > PATH_LIMIT);
        if (cut)
            Warn(entry.Line, "path-cut", "a path of this shortcut is cut at 259 characters");
    }
}

// What the installation leaves pointing at a file: each shortcut's target and icon, and the
// registry values that name a program or an icon. A file the run does not install and the machine
// does not hold makes a shortcut that starts nothing, an icon left blank, a command that fails.
void DryRun::CheckReferences()
{
    // Shortcuts in the order of [Group]; the first entry's also on the desktop.
    size_t entry = 0;
    for (const sim::LinkRecord &link : sim::Links()) {
        std::string name = link.file.substr(link.file.rfind('\\') + 1);
        size_t found = entry;
        while (found < facts_.Group.size() && Lower(facts_.Group[found].Name) != Lower(name))
            found++;
        if (found == facts_.Group.size())
            continue;
        entry = found;
        std::string shortcut = "shortcut \"" + name + "\"";
        CheckReference(facts_.Group[entry].Line, "missing-target", shortcut + " starts", link.target);
        if (!link.iconFile.empty())
            CheckReference(facts_.Group[entry].Line, "missing-icon", shortcut + " takes its icon from", link.iconFile);
    }
    // Nothing in the script names the files of these values but [Files], which would have to
    // install them.
    for (const sim::JournalEntry &value : sim::Journal()) {
        if (value.kind != sim::JournalEntry::RegistryValueSet || value.error != 0 || value.type != REG_SZ)
            continue;
        std::string key = Lower(value.path), name = Lower(value.name);
        std::string text = value.data.substr(0, value.data.find('\0'));
        std::string what = value.path + " [" + (value.name.empty() ? "@" : value.name) + "] names";
        if (key.find("\\app paths\\") != std::string::npos && name.empty())
            CheckReference(facts_.FilesLine, "missing-program", what, text);
        else if ((EndsWith(key, "\\command") && name.empty()) || name == "uninstallstring")
            CheckReference(facts_.FilesLine, "missing-program", what, ProgramOf(text));
        else if ((EndsWith(key, "\\defaulticon") && name.empty()) || name == "displayicon")
            CheckReference(facts_.FilesLine, "missing-icon", what, IconFileOf(text));
    }
}

// One file named by the installation: a warning unless it is a full path to something the run
// installed or the machine held. The installer's own folder does not count: it is the medium the
// installation came from.
void DryRun::CheckReference(int line, const char *code, const std::string &what, const std::string &path)
{
    const std::string &medium = result_.Machine.InstallerFolder;
    bool full = path.size() >= DRIVE_ROOT_LENGTH && isalpha((unsigned char)path[0]) && path[1] == ':' &&
                path[2] == '\\';
    std::string named = AnsiToUtf8(what) + " \"" + AnsiToUtf8(path) + "\"";
    std::string text;
    struct stat info;
    if (!full)
        text = named + ", which is no full path: it names no file of the installation";
    else if (Lower(path.substr(0, medium.size())) == Lower(medium))
        text = named + ", on the medium the installer runs from, which is gone afterwards";
    else if (stat(sim::HostPath(path).c_str(), &info) != 0)
        text = named + ", which the run does not install and the default machine does not hold";
    else
        return;
    for (const DryRunWarning &warning : result_.Warnings) {
        if (warning.Line == line && warning.Code == code && warning.Text == text)
            return;
    }
    result_.Warnings.push_back({ line, code, text });
}

DryRunResult DryRun::Run()
{
    result_.Language = options_.Language;
    sim::Reset(sandbox_);
    struct stat info;
    packed_ = stat(options_.Folder.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    // A packed setup.exe reads only itself: nothing beside it is shown to the run.
    if (!packed_)
        sim::MapPath(result_.Machine.InstallerFolder, RealPath(options_.Folder));
    LocateScript();
    LayOutMachine();

    ScriptNames names;
    names.Install = ResourceString(IDS_INSTALL_SECTION);
    names.Files = ResourceString(IDS_FILES_SECTION);
    names.Group = ResourceString(IDS_GROUP_SECTION);
    names.Registration = ResourceString(IDS_REGISTRATION_SECTION);
    names.Application = ResourceString(IDS_APPLICATION_KEY);
    names.Bitmap = ResourceString(IDS_BITMAP_KEY);
    names.Caption = ResourceString(IDS_CAPTION_KEY);
    names.Directory = ResourceString(IDS_DIRECTORY_KEY);
    names.Suffixes = ResourceString(IDS_SUFFIXES_KEY);
    if (scriptReadable_)
        result_.Warnings = FindScriptPitfalls(scriptBytes_, names, &facts_);

    RunInstaller();
    std::vector<sim::JournalEntry> journal = sim::Journal();
    if (options_.Silent) {
        ReadInstallerLog(journal);
    } else {
        for (const sim::MessageBoxRecord &box : sim::MessageBoxes())
            boxes_.push_back(box.text);
    }
    ReadJournal(journal);

    std::string application = State.ApplicationName;
    std::string last = boxes_.empty() ? std::string() : boxes_.back();
    result_.Report = last == FormattedString(IDS_REPORT_DONE_S, application)        ? "done"
                     : last == FormattedString(IDS_REPORT_FAILED_S, application)    ? "failed"
                     : last == FormattedString(IDS_REPORT_ABANDONED_S, application) ? "abandoned"
                                                                                    : "none";
    bool deleted = std::any_of(result_.Steps.begin(), result_.Steps.end(),
                               [](const DryRunStep &step) { return step.Kind == "configuration"; });
    if (!deleted && result_.Report != "none")
        result_.Steps.push_back(MakeStep("configuration",
                                         { Text("path", result_.Machine.WindowsDirectory + "\\" + CONFIGURATION_FILE),
                                           Text("result", "kept") }));

    if (failure_.empty() && result_.Report != "none") {
        CheckBitmap();
        CheckPaths();
        CheckReferences();
    }
    std::stable_sort(result_.Warnings.begin(), result_.Warnings.end(),
                     [](const DryRunWarning &a, const DryRunWarning &b) { return a.Line < b.Line; });

    // Why nothing would be installed, in the installer's own words where it gave them.
    if (!failure_.empty()) {
        result_.Failure = failure_;
    } else if (result_.InstallerExitCode == ERROR_INVALID_PARAMETER) {
        result_.Failure = "the installer refuses the switches " + AnsiToUtf8(result_.Switches) +
                          ": it lists the ones it takes and ends";
    } else if (result_.Report == "none") {
        result_.Failure = last.empty() ? "the installer ends without a report"
                                       : "the installer stops at start-up: \"" + AnsiToUtf8(last) + "\"";
    } else if (copied_ == 0) {
        result_.Failure = facts_.Files.empty() ? "[" + names.Files + "] lists no file"
                                               : "no file of [" + names.Files + "] would be copied";
    }
    if (!result_.Failure.empty())
        result_.ExitCode = DRY_RUN_FAILS;
    else if (!result_.Warnings.empty() || result_.Report != "done")
        result_.ExitCode = DRY_RUN_WARNINGS;
    else
        result_.ExitCode = DRY_RUN_CLEAN;
    if (result_.ExitCode == DRY_RUN_WARNINGS && result_.Warnings.empty())
        Warn(0, "report", "the installation ends with \"" + AnsiToUtf8(last) + "\"");

    sim::SetUser(sim::User());
    sim::Reset(sandbox_);
    rmdir((sandbox_ + "/C/WINDOWS").c_str());
    rmdir((sandbox_ + "/C/DIST").c_str());
    rmdir((sandbox_ + "/C").c_str());
    return result_;
}

}  // namespace

std::string DryRunStep::Field(const std::string &name) const
{
    for (const StepField &field : Fields) {
        if (field.Name == name)
            return field.Value;
    }
    return "";
}

std::string AnsiToUtf8(const std::string &ansi)
{
    // Code page 1252 between 0x80 and 0x9F; the bytes it leaves undefined pass as U+FFFD.
    static const unsigned short HIGH[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
    };
    std::string utf8;
    for (unsigned char c : ansi) {
        unsigned code = c >= 0x80 && c < 0xA0 ? HIGH[c - 0x80] : c;
        if (code < 0x80) {
            utf8 += (char)code;
        } else if (code < 0x800) {
            utf8 += (char)(0xC0 | (code >> 6));
            utf8 += (char)(0x80 | (code & 0x3F));
        } else {
            utf8 += (char)(0xE0 | (code >> 12));
            utf8 += (char)(0x80 | ((code >> 6) & 0x3F));
            utf8 += (char)(0x80 | (code & 0x3F));
        }
    }
    return utf8;
}

DryRunResult RunDryRun(const DryRunOptions &options, const std::string &sandbox)
{
    return DryRun(options, sandbox).Run();
}
