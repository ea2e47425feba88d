#include "SimFixture.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

void SimTest::SetUp()
{
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name) {
        if (c == '/')
            c = '_';
    }
    const char *temp = getenv("TMPDIR");
    sim::Reset(std::string(temp != nullptr ? temp : "/tmp") + "/quillet-sim-" + std::to_string(getpid()) + "-" + name);
}

void SimTest::TearDown()
{
    std::string sandbox = sim::Sandbox();
    sim::Reset(sandbox);
    rmdir((sandbox + "/C/WINDOWS").c_str());
    rmdir((sandbox + "/C/DIST").c_str());
    rmdir((sandbox + "/C").c_str());
    rmdir(sandbox.c_str());
}

sim::User SimTest::AnswerAll(int answer)
{
    sim::User user;
    user.onMessageBox = [answer](const sim::MessageBoxRecord &) { return answer; };
    return user;
}

static void ListFiles(const std::string &host, const std::string &relative, std::vector<std::string> *files)
{
    DIR *dir = opendir(host.c_str());
    if (dir == nullptr)
        return;
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info;
        std::string path = host + "/" + name;
        if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            ListFiles(path, relative + name + "\\", files);
        else
            files->push_back(relative + name);
    }
    closedir(dir);
}

std::vector<std::string> FilesBelow(const std::string &windowsFolder)
{
    std::vector<std::string> files;
    ListFiles(sim::HostPath(windowsFolder), "", &files);
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> BoxTexts()
{
    std::vector<std::string> texts;
    for (const auto &box : sim::MessageBoxes())
        texts.push_back(box.text);
    return texts;
}

namespace {

const char TEST_WINDOW_CLASS[] = "QuilletTestWindow";

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

HWND MakeTestWindow(DWORD style, int x, int y, int width, int height)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = TestWindowProc;
    windowClass.hInstance = sim::Instance();
    windowClass.lpszClassName = TEST_WINDOW_CLASS;
    RegisterClassA(&windowClass);  // fails harmlessly once the class exists
    return CreateWindowExA(0, TEST_WINDOW_CLASS, "", style, x, y, width, height, NULL, NULL, sim::Instance(), NULL);
}

std::string ResourceText(UINT id, const std::string &argument)
{
    char format[512], text[1024];
    LoadStringA(sim::Instance(), id, format, sizeof format);
    wsprintfA(text, format, argument.c_str());
    return text;
}

void ExpectNothingHeld()
{
    EXPECT_EQ(sim::OpenFileHandles(), 0);
    EXPECT_EQ(sim::OpenRegistryKeys(), 0);
    EXPECT_EQ(sim::LiveGlobalBlocks(), 0);
    EXPECT_EQ(sim::LiveHeapBlocks(), 0);
    EXPECT_EQ(sim::LiveGdiObjects(), 0);
    EXPECT_EQ(sim::LiveDeviceContexts(), 0);
    EXPECT_EQ(sim::ComInitialisations(), 0);
    EXPECT_EQ(sim::LiveComObjects(), 0);
    EXPECT_EQ(GetCapture(), (HWND)NULL);
}
