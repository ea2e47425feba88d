// The publisher's dry run: the sample distribution installs cleanly, each pitfall of the script
// format is told once at its line, a distribution that would install nothing fails, and the
// installer's switches give the record and the exit code of setup.exe run with them.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "PeImage.h"
#include "tools/DryRun.h"
#include "tools/Packer.h"

namespace {

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// The sample script, split into lines so that a case can change one of them.
std::vector<std::string> SampleLines()
{
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(std::string(SAMPLES_DIR) + "/setup.inf"));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string Join(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + "\r\n";
    return text;
}

class DryRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *temporary = getenv("TMPDIR");
        root_ = std::string(temporary != nullptr && *temporary ? temporary : "/tmp") + "/dry-run-test-XXXXXX";
        ASSERT_NE(mkdtemp(&root_[0]), nullptr);
        folder_ = root_ + "/dist";
        mkdir(folder_.c_str(), 0777);
        for (const char *name : { "setup.inf", "setup.bmp", "readme.txt", "Quillet.hlp" })
            WriteFile(folder_ + "/" + name, ReadFile(std::string(SAMPLES_DIR) + "/" + name));
        WriteFile(folder_ + "/Quillet.exe", std::string(40000, 'Q'));
        WriteFile(folder_ + "/Unquil.exe", std::string(12345, 'U'));
    }
    void TearDown() override { EXPECT_EQ(system(("rm -rf '" + root_ + "'").c_str()), 0); }

    DryRunResult Run(DryRunOptions options = DryRunOptions())
    {
        options.Folder = folder_;
        std::string sandbox = root_ + "/sandbox";
        mkdir(sandbox.c_str(), 0777);
        return RunDryRun(options, sandbox);
    }

    std::string Listing() const
    {
        std::string listing;
        if (DIR *dir = opendir(folder_.c_str())) {
            while (dirent *entry = readdir(dir)) {
                if (entry->d_name[0] == '.')
                    continue;
                struct stat info;
                stat((folder_ + "/" + entry->d_name).c_str(), &info);
                listing += std::string(entry->d_name) + " " + std::to_string(info.st_size) + " " +
                           std::to_string(info.st_mtime) + "\n";
            }
            closedir(dir);
        }
        return listing;
    }

    std::string root_, folder_;
};

std::vector<std::string> StepsOf(const DryRunResult &result, const std::string &kind, const std::string &field)
{
    std::vector<std::string> values;
    for (const DryRunStep &step : result.Steps) {
        if (step.Kind == kind)
            values.push_back(step.Field(field));
    }
    return values;
}


// The kinds of step in the order a user meets them, each run of one kind once; directories,
// registry values and shortcuts, which the user does not meet, left out.
std::vector<std::string> MeetingOrder(const DryRunResult &result)
{
    std::vector<std::string> order;
    for (const DryRunStep &step : result.Steps) {
        if (step.Kind != "directory" && step.Kind != "registry" && step.Kind != "shortcut" &&
            (order.empty() || order.back() != step.Kind))
            order.push_back(step.Kind);
    }
    return order;
}

TEST_F(DryRunTest, SampleInstallsCleanlyAndLeavesTheFolderAlone)
{
    std::string before = Listing();
    DryRunResult result = Run();
    EXPECT_EQ(result.ExitCode, DRY_RUN_CLEAN) << FormatText(result);
    EXPECT_EQ(result.Report, "done");
    EXPECT_TRUE(result.Warnings.empty());
    EXPECT_EQ(Listing(), before);

    EXPECT_EQ(StepsOf(result, "copy", "destination"),
              (std::vector<std::string>{ "C:\\Program Files\\Quillet\\Quillet.exe",
                                         "C:\\Program Files\\Quillet\\help\\Quillet.hlp",
                                         "C:\\Program Files\\Quillet\\readme.txt", "C:\\Windows\\Unquil.exe" }));
    EXPECT_EQ(StepsOf(result, "copy", "size")[0], "40000");
    EXPECT_EQ(StepsOf(result, "shortcut", "file").size(), 3u);
    EXPECT_EQ(StepsOf(result, "registry", "key").size(), 15u);
    EXPECT_EQ(StepsOf(result, "configuration", "result"), (std::vector<std::string>{ "deleted" }));

    // In the order a user meets them: directory, copies, question, file types, report.
    EXPECT_EQ(MeetingOrder(result), (std::vector<std::string>{ "directory-dialog", "copy", "box", "file-types-dialog", "box",
                                                "configuration" }));
    EXPECT_EQ(StepsOf(result, "directory-dialog", "size")[0], "This installation requires 52 Kb.");
}

TEST_F(DryRunTest, LanguageChoosesTheInstallersTexts)
{
    DryRunOptions options;
    options.Language = "fr";
    DryRunResult result = Run(options);
    ASSERT_FALSE(StepsOf(result, "directory-dialog", "prompt").empty());
    EXPECT_NE(StepsOf(result, "directory-dialog", "prompt")[0], "Install Quillet to directory:");
    EXPECT_EQ(result.ExitCode, DRY_RUN_CLEAN);
}

// Each pitfall alone in the sample script: its warning, once, at its line, and no other.
TEST_F(DryRunTest, EachPitfallIsToldOnceAtItsLine)
{
    const std::string longName(120, 'q');
    struct Case {
        const char *Code;
        int Line;
        std::function<void(std::vector<std::string> &)> Change;
        std::function<void(const std::string &)> Files;
    } cases[] = {
        { "prefix-key", 4, [](auto &l) { l[3] = "Captions=Quillet installation"; } },
        { "prefix-key", 2, [](auto &l) { l[1] = "[Installation]"; } },
        { "ignored-key", 5, [](auto &l) { l[4] = " Directory=C:\\Quillet"; } },
        { "ignored-key", 4, [](auto &l) { l[3] = "caption=Quillet installation"; } },
        { "ignored-key", 6, [](auto &l) { l.insert(l.begin() + 5, "Colour=blue"); } },
        { "duplicate-key", 6, [](auto &l) { l.insert(l.begin() + 5, "Caption=Another"); } },
        { "value-cut", 4, [](auto &l) { l[3] = "Caption=" + std::string(200, 'c'); } },
        { "path-cut", 3, [&](auto &l) { l[2] = "Application=" + longName; } },
        { "missing-source", 11, [](auto &l) { l[10] = "Help=help\\Quillet.hlp;Missing.hlp"; } },
        { "no-equals", 11, [](auto &l) { l.insert(l.begin() + 10, "Quillet.exe"); } },
        { "group-cut", 17, [](auto &l) { l.insert(l.begin() + 16, ""); } },
        { "group-entry", 16, [](auto &l) { l[15] = "Quillet.lnk=Quillet.exe,Text editor"; } },
        { "escaping-destination", 11, [](auto &l) { l[10] = "Help=..\\..\\Quillet.hlp;Quillet.hlp"; } },
        { "not-cp1252", 4, [](auto &l) { l[3] = "Caption=Installation de Quillet \xC3\xA9"; } },
        { "cr-line-ends", 4, [](auto &l) { l[3] = "Caption=Quillet installation\rColour=blue"; } },
        { "bitmap-refused", 6, [](auto &) {},
          [](const std::string &folder) { WriteFile(folder + "/setup.bmp", "BM short"); } },
        // The desktop's copy of the shortcut names the same file: still one warning.
        { "missing-target", 16, [](auto &l) { l[15] = "Quillet.lnk=Quill.exe,Text editor,%Quillet.exe,0"; } },
        { "missing-icon", 16, [](auto &l) { l[15] = "Quillet.lnk=Quillet.exe,Text editor,%Quillet.ico,0"; } },
        // Found beside the installer during the run, but no file of the installed machine.
        { "missing-icon", 17, [](auto &l) { l[16] = "Read me.lnk=readme.txt,Read me first,setup.bmp,0"; } },
        // The uninstall entry's command names an uninstaller that nothing installs.
        { "missing-program", 8, [](auto &l) { l.erase(l.begin() + 12); } },
        { "bad-suffix", 20, [](auto &l) { l[19] = "Suffixes=.txt log ini"; } },
        { "bad-suffix", 20, [](auto &l) { l[19] = "Suffixes=txt l*g ini"; } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.Code) + " at line " + std::to_string(c.Line));
        std::vector<std::string> lines = SampleLines();
        c.Change(lines);
        TearDown();
        SetUp();
        WriteFile(folder_ + "/setup.inf", Join(lines));
        if (c.Files)
            c.Files(folder_);
        DryRunResult result = Run();
        EXPECT_EQ(result.ExitCode, DRY_RUN_WARNINGS) << FormatText(result);
        ASSERT_EQ(result.Warnings.size(), 1u) << FormatText(result);
        EXPECT_EQ(result.Warnings[0].Code, c.Code);
        EXPECT_EQ(result.Warnings[0].Line, c.Line);
    }
}

TEST_F(DryRunTest, NothingToInstallFailsAndSaysWhy)
{
    std::vector<std::string> lines = SampleLines();
    struct Case {
        const char *Name;
        std::function<void()> Change;
        const char *Why;
    } cases[] = {
        { "no [Files]", [&] { WriteFile(folder_ + "/setup.inf", Join({ lines.begin(), lines.begin() + 6 })); },
          "Section [Files] does not exist !" },
        { "every source missing",
          [&] {
              for (const char *name : { "Quillet.exe", "Quillet.hlp", "readme.txt", "Unquil.exe" })
                  unlink((folder_ + "/" + name).c_str());
          },
          "no file of [Files] would be copied" },
        { "no script", [&] { unlink((folder_ + "/setup.inf").c_str()); }, "Cannot open \"D:\\setup.inf\" !" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        TearDown();
        SetUp();
        c.Change();
        DryRunResult result = Run();
        EXPECT_EQ(result.ExitCode, DRY_RUN_FAILS) << FormatText(result);
        EXPECT_NE(result.Failure.find(c.Why), std::string::npos) << result.Failure;
    }
}

// --script names a file beside the caller as well as anywhere else: the installer reads it in
// place of its own.
TEST_F(DryRunTest, AScriptNamedRelativeToTheCallerIsTheOneInstalled)
{
    char caller[PATH_MAX];
    ASSERT_NE(getcwd(caller, sizeof caller), nullptr);
    std::vector<std::string> lines = SampleLines();
    lines[3] = "Caption=Elsewhere";
    WriteFile(root_ + "/elsewhere.inf", Join(lines));
    ASSERT_EQ(chdir(root_.c_str()), 0);
    DryRunOptions options;
    options.ScriptFile = "elsewhere.inf";
    DryRunResult result = Run(options);
    ASSERT_EQ(chdir(caller), 0);
    EXPECT_EQ(result.ExitCode, DRY_RUN_CLEAN) << FormatText(result);
    EXPECT_EQ(StepsOf(result, "box", "caption")[0], "Elsewhere");
}

std::vector<std::pair<int, std::string>> WarningsOf(const DryRunResult &result)
{
    std::vector<std::pair<int, std::string>> warnings;
    for (const DryRunWarning &warning : result.Warnings)
        warnings.push_back({ warning.Line, warning.Code });
    return warnings;
}

// The editor installed under another name than the one the installer registers and the shortcut
// starts: every value and shortcut that names it is told, at the line that would have to change,
// and only those the switches have the run write.
TEST_F(DryRunTest, WhatPointsAtAFileNeverInstalledIsTold)
{
    std::vector<std::string> lines = SampleLines();
    lines[9] = "Editor=Quill.exe;Quillet.exe";
    WriteFile(folder_ + "/setup.inf", Join(lines));
    DryRunResult result = Run();
    EXPECT_EQ(WarningsOf(result), (std::vector<std::pair<int, std::string>>{
                                      { 8, "missing-program" },  // App Paths
                                      { 8, "missing-icon" },     // the uninstall entry's icon
                                      { 8, "missing-icon" },     // the text file type's icon
                                      { 8, "missing-program" },  // its open command
                                      { 8, "missing-program" },  // its print command
                                      { 16, "missing-target" },
                                      { 16, "missing-icon" } }))
        << FormatText(result);

    DryRunOptions options;
    options.Silent = true;
    options.NoAssociate = true;
    result = Run(options);
    EXPECT_EQ(WarningsOf(result), (std::vector<std::pair<int, std::string>>{
                                      { 8, "missing-program" }, { 8, "missing-icon" }, { 16, "missing-target" },
                                      { 16, "missing-icon" } }))
        << FormatText(result);
}

// --silent records what setup.exe /S does: nothing shown, every default taken, the all-users
// folders, the directory of /D=, and the messages it would have shown, in their place.
TEST_F(DryRunTest, SilentRunRecordsWhatTheSilentInstallerDoes)
{
    const DryRunMachine machine;
    DryRunOptions options;
    options.Silent = true;
    options.Directory = "C:\\Apps\\Quillet Editor";
    DryRunResult result = Run(options);
    EXPECT_EQ(result.ExitCode, DRY_RUN_CLEAN) << FormatText(result);
    EXPECT_EQ(result.Report, "done");
    EXPECT_EQ(result.InstallerExitCode, 0);
    EXPECT_EQ(result.Switches, "/S /D=C:\\Apps\\Quillet Editor");
    EXPECT_EQ(StepsOf(result, "copy", "destination")[0], "C:\\Apps\\Quillet Editor\\Quillet.exe");
    EXPECT_EQ(StepsOf(result, "shortcut", "file"),
              (std::vector<std::string>{ machine.CommonPrograms + "\\Quillet\\Quillet.lnk",
                                         machine.CommonDesktop + "\\Quillet.lnk",
                                         machine.CommonPrograms + "\\Quillet\\Read me.lnk" }));
    EXPECT_EQ(StepsOf(result, "box", "answer"), (std::vector<std::string>{ "Yes", "OK" }));
    EXPECT_EQ(StepsOf(result, "box", "shown"), (std::vector<std::string>{ "false", "false" }));
    EXPECT_EQ(StepsOf(result, "directory-dialog", "directory"),
              (std::vector<std::string>{ "C:\\Apps\\Quillet Editor" }));
    EXPECT_EQ(MeetingOrder(result), (std::vector<std::string>{ "directory-dialog", "copy", "box", "file-types-dialog", "box",
                                                "configuration" }));

    options.NoAssociate = true;
    result = Run(options);
    EXPECT_EQ(StepsOf(result, "box", "answer"), (std::vector<std::string>{ "No", "OK" }));
    for (const std::string &key : StepsOf(result, "registry", "key"))
        EXPECT_EQ(key.find("HKEY_CLASSES_ROOT"), std::string::npos) << key;
}

TEST_F(DryRunTest, PredictsTheInstallersExitCode)
{
    struct Case {
        const char *Name;
        std::function<void(DryRunOptions &)> Change;
        int Installer;
        int DryRun;
        const char *Report;
    } cases[] = {
        { "clean", [](DryRunOptions &) {}, 0, DRY_RUN_CLEAN, "done" },
        { "a source missing", [this](DryRunOptions &) { unlink((folder_ + "/readme.txt").c_str()); }, 1603,
          DRY_RUN_WARNINGS, "failed" },
        { "a source missing, silent",
          [this](DryRunOptions &o) {
              unlink((folder_ + "/readme.txt").c_str());
              o.Silent = true;
          },
          1603, DRY_RUN_WARNINGS, "failed" },
        { "no script", [this](DryRunOptions &) { unlink((folder_ + "/setup.inf").c_str()); }, 1603, DRY_RUN_FAILS,
          "none" },
        { "a directory too long for /D=", [](DryRunOptions &o) { o.Directory = "C:\\" + std::string(200, 'd'); },
          87, DRY_RUN_FAILS, "none" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        TearDown();
        SetUp();
        DryRunOptions options;
        c.Change(options);
        DryRunResult result = Run(options);
        EXPECT_EQ(result.InstallerExitCode, c.Installer) << FormatText(result);
        EXPECT_EQ(result.ExitCode, c.DryRun);
        EXPECT_EQ(result.Report, c.Report);
    }
}

// A packed setup.exe is dry-run from its payload alone and predicts what its folder predicts: the
// same steps, silent or not, but for the sources, which are its entries; a damaged one would stop.
TEST_F(DryRunTest, APackedInstallerPredictsWhatItsFolderPredicts)
{
    WriteFile(folder_ + "/setup.exe", pe::MinimalImage());
    const std::string packed = root_ + "/Quillet-setup (1).exe";
    ASSERT_EQ(PackDistribution(folder_, packed).ExitCode, PACK_DONE);
    const std::string entries = "D:\\Quillet-setup (1).exe\\";
    auto withoutSources = [&](DryRunResult result, bool fromPacked) {
        std::vector<std::string> lines;
        for (DryRunStep &step : result.Steps) {
            for (StepField &field : step.Fields) {
                if (field.Name == "source" && fromPacked) {
                    EXPECT_EQ(field.Value.compare(0, entries.size(), entries), 0) << field.Value;
                    field.Value = "D:\\" + field.Value.substr(entries.size());
                }
            }
        }
        for (const DryRunWarning &warning : result.Warnings)
            lines.push_back(std::to_string(warning.Line) + " " + warning.Code + " " + warning.Text);
        result.Warnings.clear();
        result.Script.clear();
        result.Installer.clear();
        return FormatText(result) + "\n" + ::testing::PrintToString(lines);
    };
    for (bool silent : { false, true }) {
        SCOPED_TRACE(silent ? "silent" : "interactive");
        DryRunOptions options;
        options.Silent = silent;
        DryRunResult fromFolder = Run(options);
        options.Folder = packed;
        mkdir((root_ + "/sandbox").c_str(), 0777);
        DryRunResult fromPacked = RunDryRun(options, root_ + "/sandbox");
        EXPECT_EQ(fromPacked.ExitCode, DRY_RUN_CLEAN) << FormatText(fromPacked);
        EXPECT_EQ(fromPacked.Script, entries + "setup.inf");
        EXPECT_EQ(StepsOf(fromPacked, "copy", "source").size(), 4u);
        EXPECT_EQ(withoutSources(fromPacked, true), withoutSources(fromFolder, false));
    }

    std::string bytes = ReadFile(packed);
    WriteFile(packed, bytes.substr(0, bytes.size() - 10));
    DryRunOptions options;
    options.Folder = packed;
    DryRunResult cut = RunDryRun(options, root_ + "/sandbox");
    EXPECT_EQ(cut.ExitCode, DRY_RUN_FAILS);
    EXPECT_EQ(cut.InstallerExitCode, 1603);
    EXPECT_NE(cut.Failure.find("is damaged"), std::string::npos) << cut.Failure;
}

}  // namespace
