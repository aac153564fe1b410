// FindFirstFileA / FindNextFileA / FindClose: masks, entries, the data
// filled in, and the errors at the start and at the end.
#include <map>
#include <set>
#include <string>

#include "scratch_folder.h"

namespace {

class Find : public ScratchFolder {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        PutText("alpha.txt", "12345");
        PutText("Beta.TXT", "");
        PutText("gamma.dat", "x");
        PutText("noext", "xy");
        CreateDirectoryA("sub", nullptr);
    }

    // Every name the pattern lists, with its data; checks the end of the list.
    std::map<std::string, WIN32_FIND_DATAA> List(const char* pattern) {
        std::map<std::string, WIN32_FIND_DATAA> found;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(pattern, &data);
        if (find == INVALID_HANDLE_VALUE) return found;
        do {
            EXPECT_EQ(found.count(data.cFileName), 0u) << "listed twice: " << data.cFileName;
            found[data.cFileName] = data;
        } while (FindNextFileA(find, &data));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
        EXPECT_FALSE(FindNextFileA(find, &data));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
        EXPECT_TRUE(FindClose(find));
        return found;
    }

    std::set<std::string> Names(const char* pattern) {
        std::set<std::string> names;
        for (const auto& entry : List(pattern)) names.insert(entry.first);
        return names;
    }
};

using NameSet = std::set<std::string>;

TEST_F(Find, MasksWithStarAndQuestionMark) {
    const NameSet everything = {".", "..", "alpha.txt", "Beta.TXT", "gamma.dat", "noext", "sub"};
    EXPECT_EQ(Names("*"), everything);
    EXPECT_EQ(Names("*.*"), everything);  // names without a dot too
    EXPECT_EQ(Names("*.txt"), (NameSet{"alpha.txt", "Beta.TXT"}));
    EXPECT_EQ(Names("*.TXT"), (NameSet{"alpha.txt", "Beta.TXT"}));
    EXPECT_EQ(Names("?eta.txt"), NameSet{"Beta.TXT"});
    EXPECT_EQ(Names("g*"), NameSet{"gamma.dat"});
    EXPECT_EQ(Names("*a*.d?t"), NameSet{"gamma.dat"});
    EXPECT_EQ(Names("n*t"), NameSet{"noext"});
    EXPECT_EQ(Names(".\\*.dat"), NameSet{"gamma.dat"});
    EXPECT_EQ(Names("sub\\*"), (NameSet{".", ".."}));
}

TEST_F(Find, ExactNameIsFoundWithoutRegardToCase) {
    EXPECT_EQ(Names("ALPHA.TXT"), NameSet{"alpha.txt"});
    EXPECT_EQ(Names("SUB"), NameSet{"sub"});
    EXPECT_EQ(Names("..\\CWD\\beta.txt"), NameSet{"Beta.TXT"});
    EXPECT_EQ(Names("Alpha.Txt. ."), NameSet{"alpha.txt"});
    // A pattern that names a folder lists that folder's own entry.
    EXPECT_EQ(Names("sub\\."), NameSet{"sub"});
    EXPECT_EQ(Names("sub\\.."), NameSet{"cwd"});
}

TEST_F(Find, DataIsFilledAsWindowsFillsIt) {
    SetFileAttributesA("gamma.dat", FILE_ATTRIBUTE_READONLY);
    HANDLE h = OpenFile("alpha.txt", GENERIC_WRITE, OPEN_EXISTING);
    FILETIME written = FromTicks(kY2kTicks);
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
    CloseHandle(h);

    auto found = List("*");
    ASSERT_EQ(found.size(), 7u);
    const WIN32_FIND_DATAA& alpha = found["alpha.txt"];
    EXPECT_EQ(alpha.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(alpha.nFileSizeHigh, 0u);
    EXPECT_EQ(alpha.nFileSizeLow, 5u);
    EXPECT_EQ(Ticks(alpha.ftLastWriteTime), kY2kTicks);
    EXPECT_EQ(found["gamma.dat"].dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(found["noext"].nFileSizeLow, 2u);
    EXPECT_EQ(found["sub"].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(found["."].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(found[".."].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(alpha.cAlternateFileName[0], '\0');
}

TEST_F(Find, NothingFound) {
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA("*.none", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA("x?.txt", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA("missing\\*.*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA("sub\\", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

}  // namespace
