// A publisher's dry run: a whole installation of a distribution folder on the stand-in, with a user
// who accepts every default, recorded step by step, and the script format's silent pitfalls.
#pragma once

#include <string>
#include <vector>

enum {
    DRY_RUN_CLEAN = 0,     // the clean report and no warning
    DRY_RUN_WARNINGS = 1,  // the installation runs, but something in the distribution deserves a look
    DRY_RUN_FAILS = 2,     // the script cannot be read or the installation would install nothing
};

// One field of a step: shown as text, and in JSON as a string or, for a number or a truth value
// (true, false), as is.
struct StepField {
    std::string Name;
    std::string Value;  // UTF-8
    bool Number = false;
};

// One thing the installer would do or show, in the order it would happen.
struct DryRunStep {
    std::string Kind;  // box, directory-dialog, file-types-dialog, copy, not-copied, directory, shortcut,
                       // registry, configuration; a box or dialog has the field shown,
                       // false when a silent run answers it unseen
    std::vector<StepField> Fields;
    std::string Field(const std::string &name) const;
};

struct DryRunWarning {
    int Line;          // line of the script, counted from 1
    std::string Code;  // prefix-key, ignored-key, duplicate-key, value-cut, path-cut, missing-source,
                       // missing-target, missing-icon, missing-program, bad-suffix, ...
    std::string Text;  // UTF-8
};

struct DryRunOptions {
    std::string Folder;      // the distribution folder on the host, or a packed setup.exe
    std::string ScriptFile;  // host path of the script; empty: the installer's own naming rule (a
                             // packed setup.exe carries its own)
    std::string Language = "en";
    // The installer's switches the run is given: /S, /NOASSOCIATE, /ALLUSERS, /D=Directory.
    bool Silent = false;
    bool NoAssociate = false;
    bool AllUsers = false;
    std::string Directory;  // empty: no /D=
};

// The default machine the dry run installs on.
struct DryRunMachine {
    std::string InstallerFolder = "D:\\";
    std::string WindowsDirectory = "C:\\Windows";
    std::string ProgramFiles = "C:\\Program Files";
    std::string Profile = "C:\\Users\\User";
    std::string Programs = "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
    std::string Desktop = "C:\\Users\\User\\Desktop";
    // The all-users folders, where /S and /ALLUSERS put the group and the desktop shortcut.
    std::string CommonPrograms = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    std::string CommonDesktop = "C:\\Users\\Public\\Desktop";
};

enum {
    INSTALLER_EXIT_UNKNOWN = -1,  // the run stopped on the stand-in before the installer ended
};

struct DryRunResult {
    int ExitCode = DRY_RUN_FAILS;
    std::string Installer;  // the installer's file name the script belongs to
    std::string Switches;   // the installer's command line the run mirrors, e.g. "/S /D=C:\\Apps"
    std::string Script;     // the script's Windows path on the machine
    std::string Language;
    DryRunMachine Machine;
    std::vector<DryRunStep> Steps;
    std::vector<DryRunWarning> Warnings;
    std::string Report;   // done, failed, abandoned, or none when the run stopped before its end
    std::string Failure;  // why the exit code is 2 (UTF-8), empty otherwise
    int InstallerExitCode = INSTALLER_EXIT_UNKNOWN;  // what setup.exe with these switches would exit with
};

// Runs the dry run in a sandbox of its own under `sandbox` (a host folder, emptied first and
// removed afterwards). Never writes into the distribution folder. A packed setup.exe is shown to
// the run alone, as D:\ and its own name, and installs from its payload.
DryRunResult RunDryRun(const DryRunOptions &options, const std::string &sandbox);

// The section and key names the installer loads from its resources.
struct ScriptNames {
    std::string Install, Files, Group, Registration;
    std::string Application, Bitmap, Caption, Directory, Suffixes;
};
// What a [Files] entry names, as the reader takes it: for matching the run's copies to lines.
struct FilesEntry {
    int Line;
    std::string Label, Destination, Source;
    bool WindowsDirectory;
};
struct GroupEntry {
    int Line;
    std::string Name, Target, Description, IconFile, IconIndex;
};
struct ScriptFacts {
    std::vector<FilesEntry> Files;
    std::vector<GroupEntry> Group;
    int BitmapLine = 0;       // the last line that sets Bitmap, 0 when none
    int ApplicationLine = 0;  // the last line that sets Application
    int FilesLine = 0;        // the [Files] header, which lists everything the run installs
};
// The script's pitfalls: every line of `script` that the reader would take otherwise than a
// publisher reads it, sorted by line; what the reader makes of [Files] and [Group] into `facts`.
std::vector<DryRunWarning> FindScriptPitfalls(const std::string &script, const ScriptNames &names,
                                              ScriptFacts *facts);

// Text from the installer's code page (1252) as UTF-8.
std::string AnsiToUtf8(const std::string &ansi);

// The result as the text a publisher reads, and as one JSON document.
std::string FormatText(const DryRunResult &result);
std::string FormatJson(const DryRunResult &result);
