#include "SimFixture.h"

#include <unistd.h>

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

std::vector<std::string> BoxTexts()
{
    std::vector<std::string> texts;
    for (const auto &box : sim::MessageBoxes())
        texts.push_back(box.text);
    return texts;
}
