// The publisher's dry run: the sample distribution installs cleanly, each pitfall of the script
// format is told once at its line, and a distribution that would install nothing fails.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "tools/DryRun.h"

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

    DryRunResult Run(const std::string &language = "en")
    {
        DryRunOptions options;
        options.Folder = folder_;
        options.Language = language;
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
    EXPECT_EQ(StepsOf(result, "registry", "key").size(), 14u);
    EXPECT_EQ(StepsOf(result, "configuration", "result"), (std::vector<std::string>{ "deleted" }));

    // In the order a user meets them: directory, copies, question, file types, report.
    std::vector<std::string> order;
    for (const DryRunStep &step : result.Steps) {
        if (step.Kind != "directory" && step.Kind != "registry" && step.Kind != "shortcut" &&
            (order.empty() || order.back() != step.Kind))
            order.push_back(step.Kind);
    }
    EXPECT_EQ(order, (std::vector<std::string>{ "directory-dialog", "copy", "box", "file-types-dialog", "box",
                                                "configuration" }));
    EXPECT_EQ(StepsOf(result, "directory-dialog", "size")[0], "This installation requires 52 Kb.");
}

TEST_F(DryRunTest, LanguageChoosesTheInstallersTexts)
{
    DryRunResult result = Run("fr");
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
        { "escaping-destination", 12, [](auto &l) { l[11] = "Read me=..\\..\\readme.txt;readme.txt"; } },
        { "not-cp1252", 4, [](auto &l) { l[3] = "Caption=Installation de Quillet \xC3\xA9"; } },
        { "cr-line-ends", 4, [](auto &l) { l[3] = "Caption=Quillet installation\rColour=blue"; } },
        { "bitmap-refused", 6, [](auto &) {},
          [](const std::string &folder) { WriteFile(folder + "/setup.bmp", "BM short"); } },
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

}  // namespace
