// The directories along a destination path: which prefixes reach CreateDirectoryA, which
// failures are shown, and that the caller's path reads the same afterwards.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "SimFixture.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "system/DirectoryChain.h"

namespace {

const char CAPTION[] = "Install";
const char SENTINEL = (char)0xAA;

class DirectoryChainTest : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        Prepare();
    }

    // A fresh world's drive D, a user who acknowledges every box, and an owner window for them.
    void Prepare()
    {
        memset(&State, 0, sizeof State);
        mkdir(sim::HostPath("D:\\").c_str(), 0777);
        sim::SetUser(AnswerAll(IDOK));
        owner_ = MakeTestWindow();
        ASSERT_NE(owner_, (HWND)NULL);
    }

    void Renew()
    {
        sim::Reset(sim::Sandbox());
        Prepare();
    }

    // Runs the walk over `path` in a sentinel-filled buffer and checks that every byte of the
    // buffer is as it was, the backslashes put back included.
    void Run(const std::string &path)
    {
        char buffer[PATH_CAPACITY];
        memset(buffer, SENTINEL, sizeof buffer);
        memcpy(buffer, path.c_str(), path.size() + 1);
        std::vector<char> before(buffer, buffer + sizeof buffer);
        CreateDirectoryChain(sim::Instance(), CAPTION, owner_, buffer);
        EXPECT_EQ(std::vector<char>(buffer, buffer + sizeof buffer), before) << "the path buffer changed";
    }

    HWND owner_ = NULL;
};

TEST_F(DirectoryChainTest, CreatesEachDirectoryButNotTheFileName)
{
    Run("D:\\Program Files\\Quillet\\Quillet.exe");
    EXPECT_EQ(sim::CreateDirectoryCalls(), (std::vector<std::string>{ "D:\\Program Files", "D:\\Program Files\\Quillet" }));
    EXPECT_TRUE(sim::DirectoryExists("D:\\Program Files\\Quillet"));
    EXPECT_FALSE(sim::DirectoryExists("D:\\Program Files\\Quillet\\Quillet.exe"));
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(DirectoryChainTest, ShortPathsAndRootFilesCreateNothing)
{
    for (const char *path : { "D:\\Quillet.exe", "D:\\", "D:", "D", "", "D:\\x" }) {
        SCOPED_TRACE(path);
        Renew();
        Run(path);
        EXPECT_TRUE(sim::CreateDirectoryCalls().empty());
        EXPECT_TRUE(sim::MessageBoxes().empty());
    }
}

TEST_F(DirectoryChainTest, TwoBackslashesGiveAPrefixEndingInABackslash)
{
    Run("D:\\A\\\\B\\f.txt");
    EXPECT_EQ(sim::CreateDirectoryCalls(), (std::vector<std::string>{ "D:\\A", "D:\\A\\", "D:\\A\\\\B" }));
    // Windows reads the doubled backslash as one: the second call finds A already there.
    EXPECT_TRUE(sim::DirectoryExists("D:\\A\\B"));
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(DirectoryChainTest, TheFirstRealFailureIsShownAndEndsTheWalk)
{
    struct Row {
        const char *name;
        void (*arrange)();
        std::vector<std::string> calls;
        std::string text;
    } rows[] = {
        { "the second of three refused", [] { sim::FailCreateDirectory("C:\\A\\B", ERROR_WRITE_PROTECT); },
          { "C:\\A", "C:\\A\\B" }, "Cannot create \"C:\\A\\B\" !" },
        // A file in the way counts as existing; the directory below it cannot be made.
        { "a file where a directory belongs", [] { sim::PutFile("C:\\A\\B", "x"); },
          { "C:\\A", "C:\\A\\B", "C:\\A\\B\\C" }, "Cannot create \"C:\\A\\B\\C\" !" },
        { "a full disk at the first", [] { sim::FailCreateDirectory("", ERROR_DISK_FULL); },
          { "C:\\A" }, "Cannot create \"C:\\A\" !" },
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Renew();
        row.arrange();
        Run("C:\\A\\B\\C\\file.txt");
        EXPECT_EQ(sim::CreateDirectoryCalls(), row.calls);
        ASSERT_EQ(sim::MessageBoxes().size(), 1u);
        const sim::MessageBoxRecord &box = sim::MessageBoxes()[0];
        EXPECT_EQ(box.text, row.text);
        EXPECT_EQ(box.caption, CAPTION);
        EXPECT_EQ(box.type, (UINT)MB_ICONERROR);
        EXPECT_EQ(box.owner, owner_);
        EXPECT_FALSE(sim::DirectoryExists("C:\\A\\B\\C"));
    }
}

TEST_F(DirectoryChainTest, ExistingAndDeniedDirectoriesArePassedOver)
{
    sim::PutFile("C:\\A\\B\\C\\old.txt", "x");
    Run("C:\\A\\B\\C\\file.txt");
    EXPECT_EQ(sim::CreateDirectoryCalls().size(), 3u);
    EXPECT_TRUE(sim::MessageBoxes().empty());

    // A directory that may not be created, such as a protected folder that exists, is passed over.
    Renew();
    sim::PutFile("C:\\A\\old.txt", "x");
    sim::FailCreateDirectory("C:\\A", ERROR_ACCESS_DENIED, 1);
    Run("C:\\A\\B\\file.txt");
    EXPECT_EQ(sim::CreateDirectoryCalls(), (std::vector<std::string>{ "C:\\A", "C:\\A\\B" }));
    EXPECT_TRUE(sim::DirectoryExists("C:\\A\\B"));
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

}  // namespace
