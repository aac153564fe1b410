// Starting programs: the waiting form that ends when the started program
// creates STATUS.FIL, and (where stand-ins for the desktop's editor and
// browser are given, on Linux) how the editor and the browser are named.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "screens/launch_program.h"
#include "records/record_file.h"
#include "support/temp_folder.h"
#include "tessil/input.h"

namespace {

namespace fs = std::filesystem;

class LaunchProgramTest : public ::testing::Test {
protected:
    // What the stand-ins recorded: one line per start, "[name][arg]...".
    std::string Launched() const
    {
        for (int i = 0; i < 100 && !fs::exists(folder.path() / "launched.txt"); ++i)
            Sleep(50);
        return ReadWholeFile(folder.path() / "launched.txt");
    }
    static bool HaveStandIns() { return std::getenv("KESTROVANE_EDITOR") && std::getenv("KESTROVANE_BROWSER"); }

    TempFolder folder;
};

TEST_F(LaunchProgramTest, TheWaitingFormEndsWhenTheProgramCreatesStatusFil)
{
    // Both cmd and sh run this batch; it writes into the current folder.
    WriteWholeFile(folder.path() / "done.bat", "echo done>STATUS.FIL\n");
    WriteWholeFile(folder.path() / "STATUS.FIL", "stale");
    WriteWholeFile(folder.path() / "STATUS.DAT", "stale");
    tessil::focusState = 0;
    EXPECT_EQ(LaunchProgram(1, 0, "cmd /c done.bat", ""), 0);
    // The wait ends when the file exists, which can be before the batch has
    // written into it; a stale file left in place would never say "done".
    std::string status;
    for (int i = 0; i < 100 && status.rfind("done", 0) != 0; ++i, Sleep(20))
        status = ReadWholeFile(folder.path() / "STATUS.FIL");
    EXPECT_EQ(status.rfind("done", 0), 0u) << status;
    EXPECT_FALSE(fs::exists(folder.path() / "STATUS.DAT"));
    EXPECT_EQ(tessil::focusState, 0);
    EXPECT_EQ(tessil::mouseButton, 0);
}

TEST_F(LaunchProgramTest, AProgramThatCannotStartGivesMinusOne)
{
    EXPECT_EQ(LaunchProgram(1, 1, "no-such-program-kv.exe", "x"), -1);
    const char* words[] = {"a", "b"};
    EXPECT_EQ(LaunchProgram(2, 1, "no-such-program-kv.exe", words), -1);
}

TEST_F(LaunchProgramTest, TheEditorAndTheBrowser)
{
    if (!HaveStandIns())
        GTEST_SKIP() << "needs stand-ins for the desktop's editor and browser";
    WriteWholeFile(folder.path() / "KSVHELP.TXT", "help");
    EXPECT_EQ(LaunchProgram(1, 1, "the EDITOR", "KSVHELP.TXT"), 0);
    EXPECT_EQ(LaunchProgram(1, 1, "explorer", "http://forum.example.com/"), 0);
    EXPECT_EQ(tessil::focusState, 2); // not waiting: the focus comes back later
    std::string launched = Launched();
    for (int i = 0; i < 40 && std::count(launched.begin(), launched.end(), '\n') < 2; ++i, Sleep(50))
        launched = Launched();
    EXPECT_NE(launched.find("[editor][" + (folder.path() / "KSVHELP.TXT").string() + "]"), std::string::npos)
        << launched;
    EXPECT_NE(launched.find("[browser][http://forum.example.com/]"), std::string::npos) << launched;
}

// The alias is read once per run: this test has a process of its own.
TEST_F(LaunchProgramTest, AnAliasReplacesNotepad)
{
    const char* desktop = std::getenv("KV_TEST_FAKE_DESKTOP");
    if (!desktop)
        GTEST_SKIP() << "needs the stand-in programs";
    CreateDirectoryA("\\kestrovane", nullptr);
    std::string alias = std::string(desktop) + "/record-launch\n";
    alias.resize(100, '\0');
    ASSERT_EQ(WriteRecord("\\kestrovane\\notepad.alias", alias.data(), 1, 100), 100);
    EXPECT_EQ(LaunchProgram(1, 1, "notepad.exe", "KSVHELP.TXT"), 0);
    EXPECT_EQ(Launched(), "[record-launch][KSVHELP.TXT]\n");
}

} // namespace
