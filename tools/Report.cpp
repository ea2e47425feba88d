// The dry run as a publisher reads it, and as one JSON document for a publisher's CI.
#include <stdio.h>

#include "tools/DryRun.h"

namespace {

const char *ExitMeaning(int code)
{
    switch (code) {
    case DRY_RUN_CLEAN: return "clean";
    case DRY_RUN_WARNINGS: return "warnings";
    default: return "fails";
    }
}

std::string Quote(const std::string &text)
{
    return "\"" + text + "\"";
}

// One line per step: what happens, then its fields.
std::string DescribeStep(const DryRunStep &step)
{
    const std::string &kind = step.Kind;
    auto f = [&step](const char *name) { return step.Field(name); };
    // A silent run answers without showing anything, and has no more to tell than its log.
    bool unseen = f("shown") == "false";
    if (kind == "box")
        return "box        " + Quote(f("caption")) +
               (unseen ? " (not shown)" : " (" + f("icon") + ", " + f("buttons") + ")") + ": " + Quote(f("text")) +
               " -> " + f("answer");
    if (kind == "directory-dialog" && unseen)
        return "directory  not shown, takes " + Quote(f("directory")) + " -> " + f("answer");
    if (kind == "directory-dialog")
        return "directory  " + Quote(f("prompt")) + " proposes " + Quote(f("directory")) + "; " + Quote(f("size")) +
               " -> " + f("answer");
    if (kind == "file-types-dialog")
        return "file types " + Quote(f("suffixes")) + (unseen ? " (not shown)" : "") + " -> " + f("answer");
    if (kind == "copy")
        return "copy       " + f("source") + " -> " + f("destination") + " (" + f("size") + " bytes)";
    if (kind == "not-copied")
        return "not copied " + f("source") + (f("destination").empty() ? "" : " -> " + f("destination")) + ": " +
               f("reason");
    if (kind == "directory")
        return "mkdir      " + f("path") + (f("error").empty() ? "" : ": fails, " + f("error"));
    if (kind == "shortcut")
        return "shortcut   " + f("file") + ": target " + Quote(f("target")) + ", description " +
               Quote(f("description")) + ", icon " + Quote(f("icon")) + "," + f("index") + ", show " + f("show");
    if (kind == "registry")
        return "registry   " + f("key") + " [" + f("name") + "] = " + Quote(f("value")) +
               (f("error").empty() ? "" : ": fails, " + f("error"));
    if (kind == "configuration")
        return "config     " + f("path") + ": " + f("result");
    return kind;
}

// How the installer would be started for what the record shows.
std::string InstallerCommand(const DryRunResult &result)
{
    return result.Installer + (result.Switches.empty() ? "" : " " + result.Switches);
}

std::string JsonString(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escape[8];
                snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += (char)c;
            }
        }
    }
    return out + "\"";
}

}  // namespace

std::string FormatText(const DryRunResult &result)
{
    const DryRunMachine &machine = result.Machine;
    std::string out = "Dry run of " + result.Script + " (installer " + InstallerCommand(result) + ", language " +
                      result.Language + ")\n";
    out += "machine: installer folder " + machine.InstallerFolder + ", Windows " + machine.WindowsDirectory +
           ", program files " + machine.ProgramFiles + ",\n         Programs " + machine.Programs + ", Desktop " +
           machine.Desktop + ",\n         all users' Programs " + machine.CommonPrograms + ", Desktop " +
           machine.CommonDesktop + "\n\n";
    for (const DryRunStep &step : result.Steps)
        out += DescribeStep(step) + "\n";
    out += "\nreport: " + result.Report + "\n";
    if (result.Warnings.empty()) {
        out += "warnings: none\n";
    } else {
        out += "warnings: " + std::to_string(result.Warnings.size()) + "\n";
        for (const DryRunWarning &warning : result.Warnings)
            out += "  line " + std::to_string(warning.Line) + ": " + warning.Text + " [" + warning.Code + "]\n";
    }
    if (!result.Failure.empty())
        out += "fails: " + result.Failure + "\n";
    // What the run predicts for the installer's caller, beside the dry run's own verdict.
    std::string predicted = result.InstallerExitCode == INSTALLER_EXIT_UNKNOWN
                                ? std::string(": exit code unknown")
                                : " exits with " + std::to_string(result.InstallerExitCode);
    out += "result: " + std::string(ExitMeaning(result.ExitCode)) + " (exit " + std::to_string(result.ExitCode) +
           "); " + InstallerCommand(result) + predicted + "\n";
    return out;
}

std::string FormatJson(const DryRunResult &result)
{
    const DryRunMachine &machine = result.Machine;
    std::string out = "{\n";
    out += "  \"script\": " + JsonString(result.Script) + ",\n";
    out += "  \"installer\": " + JsonString(result.Installer) + ",\n";
    out += "  \"switches\": " + JsonString(result.Switches) + ",\n";
    out += "  \"language\": " + JsonString(result.Language) + ",\n";
    out += "  \"machine\": {\"installer_folder\": " + JsonString(machine.InstallerFolder) +
           ", \"windows\": " + JsonString(machine.WindowsDirectory) +
           ", \"program_files\": " + JsonString(machine.ProgramFiles) + ", \"profile\": " + JsonString(machine.Profile) +
           ", \"programs\": " + JsonString(machine.Programs) + ", \"desktop\": " + JsonString(machine.Desktop) +
           ", \"common_programs\": " + JsonString(machine.CommonPrograms) +
           ", \"common_desktop\": " + JsonString(machine.CommonDesktop) + "},\n";
    out += "  \"steps\": [";
    for (size_t i = 0; i < result.Steps.size(); i++) {
        const DryRunStep &step = result.Steps[i];
        out += std::string(i == 0 ? "\n" : ",\n") + "    {\"kind\": " + JsonString(step.Kind);
        for (const StepField &field : step.Fields)
            out += ", " + JsonString(field.Name) + ": " + (field.Number ? field.Value : JsonString(field.Value));
        out += "}";
    }
    out += "\n  ],\n  \"warnings\": [";
    for (size_t i = 0; i < result.Warnings.size(); i++) {
        const DryRunWarning &warning = result.Warnings[i];
        out += std::string(i == 0 ? "\n" : ",\n") + "    {\"line\": " + std::to_string(warning.Line) +
               ", \"code\": " + JsonString(warning.Code) + ", \"text\": " + JsonString(warning.Text) + "}";
    }
    out += "\n  ],\n";
    out += "  \"report\": " + JsonString(result.Report) + ",\n";
    out += "  \"failure\": " + (result.Failure.empty() ? std::string("null") : JsonString(result.Failure)) + ",\n";
    out += "  \"exit\": " + std::to_string(result.ExitCode) + ",\n";
    out += "  \"installer_exit\": " +
           (result.InstallerExitCode == INSTALLER_EXIT_UNKNOWN ? std::string("null")
                                                               : std::to_string(result.InstallerExitCode)) +
           "\n}\n";
    return out;
}
