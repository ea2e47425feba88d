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
    if (kind == "box")
        return "box        " + Quote(f("caption")) + " (" + f("icon") + ", " + f("buttons") + "): " + Quote(f("text")) +
               " -> " + f("answer");
    if (kind == "directory-dialog")
        return "directory  " + Quote(f("prompt")) + " proposes " + Quote(f("directory")) + "; " + Quote(f("size")) +
               " -> " + f("answer");
    if (kind == "file-types-dialog")
        return "file types " + Quote(f("suffixes")) + " -> " + f("answer");
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
    std::string out = "Dry run of " + result.Script + " (installer " + result.Installer + ", language " +
                      result.Language + ")\n";
    out += "machine: installer folder " + machine.InstallerFolder + ", Windows " + machine.WindowsDirectory +
           ", program files " + machine.ProgramFiles + ",\n         Programs " + machine.Programs + ", Desktop " +
           machine.Desktop + "\n\n";
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
    out += "result: " + std::string(ExitMeaning(result.ExitCode)) + " (exit " + std::to_string(result.ExitCode) + ")\n";
    return out;
}

std::string FormatJson(const DryRunResult &result)
{
    const DryRunMachine &machine = result.Machine;
    std::string out = "{\n";
    out += "  \"script\": " + JsonString(result.Script) + ",\n";
    out += "  \"installer\": " + JsonString(result.Installer) + ",\n";
    out += "  \"language\": " + JsonString(result.Language) + ",\n";
    out += "  \"machine\": {\"installer_folder\": " + JsonString(machine.InstallerFolder) +
           ", \"windows\": " + JsonString(machine.WindowsDirectory) +
           ", \"program_files\": " + JsonString(machine.ProgramFiles) + ", \"profile\": " + JsonString(machine.Profile) +
           ", \"programs\": " + JsonString(machine.Programs) + ", \"desktop\": " + JsonString(machine.Desktop) + "},\n";
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
    out += "  \"exit\": " + std::to_string(result.ExitCode) + "\n}\n";
    return out;
}
