// What a listed name may be used for, the guard of local writes, and the
// removal of scratch files a killed run left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "sites/site_list.h"
#include "net/file_names.h"
#include "support/temp_folder.h"

namespace net_test {
namespace {

namespace fs = std::filesystem;

// Each name against a folder that holds the clean "index.html": its use, and
// whether a local write under that name is let through.
TEST(FileNames, EachNameHasOneUse)
{
    TempFolder folder;
    WriteWholeFile(folder.path() / "index.html", "clean");
    using U = FileNameUse;
    const struct {
        std::string name;
        FileNameUse use;
        bool writable;
    } cases[] = {
        {"", U::kNotAFile, false},
        {".", U::kNotAFile, false},
        {"..", U::kNotAFile, false},
        {"index.html", U::kLocal, true},
        {"new.html", U::kLocal, true},
        {".htaccess", U::kLocal, true},
        {"INDEX.HTML", U::kLocal, false}, // the clean file under another spelling
        {"index.html.", U::kServerOnly, false},
        {"index.html ", U::kServerOnly, false},
        {"shell:.php", U::kServerOnly, false},
        {"a\\b.htm", U::kServerOnly, false},
        {"a/b.htm", U::kServerOnly, false},
        {"tab\there", U::kServerOnly, false},
        {"rub\x7fout", U::kServerOnly, false},
        {"q?.htm", U::kServerOnly, false},
        {"all*.htm", U::kServerOnly, false},
        {"a|b", U::kServerOnly, false},
        {"<a>", U::kServerOnly, false},
        {"\"a\"", U::kServerOnly, false},
        {"CON", U::kServerOnly, false},
        {"con.txt", U::kServerOnly, false},
        {"Nul .htm", U::kServerOnly, false},
        {"COM1", U::kServerOnly, false},
        {"lpt9.log", U::kServerOnly, false},
        {"com\xb9.htm", U::kServerOnly, false},
        {"COM10", U::kLocal, true},
        {"console.htm", U::kLocal, true},
        {std::string(255, 'a'), U::kLocal, true},
        {std::string(256, 'a'), U::kServerOnly, false},
        {".kv-part-12-3.part", U::kScratch, false},
        {".kv-ftpget-12-3.part", U::kScratch, false},
        {".kv-ftpget-12.part", U::kLocal, true},
        {".kv-part-1-2.php.part", U::kLocal, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(int(ClassifyFileName(c.name.c_str())), int(c.use)) << c.name;
        EXPECT_EQ(LocalWriteAllowed(c.name.c_str()), c.writable) << c.name;
    }
    EXPECT_EQ(ReadWholeFile(folder.path() / "index.html"), "clean");
}

} // namespace
} // namespace net_test
