#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "sites/data_files.h"

namespace {

struct Split {
    int count;
    std::vector<std::string> words;
};

Split SplitOf(std::string line, int maxWords = 16) {
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back(0);
    std::vector<char*> words((size_t)maxWords);
    Split s{0, {}};
    SplitCommandLine(s.count, words.data(), maxWords, buf.data());
    for (int i = 0; i < s.count && i < maxWords; i++) s.words.push_back(words[(size_t)i]);
    return s;
}

std::string PathFor(const std::string& word) {
    char path[260];
    SiteListPathFromCommandWord(word.c_str(), path, sizeof path);
    return path;
}

}  // namespace

TEST(SplitCommandLine, BlanksEndWords) {
    Split s = SplitOf("");
    EXPECT_EQ(s.count, 1);
    EXPECT_EQ(s.words, std::vector<std::string>{""});

    s = SplitOf("run");
    EXPECT_EQ(s.count, 1);
    EXPECT_EQ(s.words[0], "run");

    s = SplitOf("7 high priority");
    EXPECT_EQ(s.count, 3);
    EXPECT_EQ(s.words, (std::vector<std::string>{"7", "high", "priority"}));

    s = SplitOf("a  b ");
    EXPECT_EQ(s.count, 4);
    EXPECT_EQ(s.words, (std::vector<std::string>{"a", "", "b", ""}));

    // More words than the list holds: the count stays true.
    s = SplitOf("1 2 3 4 5", 2);
    EXPECT_EQ(s.count, 5);
    EXPECT_EQ(s.words, (std::vector<std::string>{"1", "2"}));
}

TEST(SplitCommandLine, AQuotedLineIsOneWord) {
    Split s = SplitOf("\"_infofile:c:\\my sites\\list.info\" minimize");
    EXPECT_EQ(s.count, 1);
    EXPECT_EQ(s.words[0], "_infofile:c:\\my sites\\list.info");

    s = SplitOf("run \"a b\" c");
    EXPECT_EQ(s.count, 1);
    EXPECT_EQ(s.words[0], "run a b");

    s = SplitOf("\"unclosed quote here");
    EXPECT_EQ(s.count, 1);
    EXPECT_EQ(s.words[0], "unclosed quote here");
}

TEST(CommandLine, SiteListPathOption) {
    EXPECT_EQ(PathFor(""), kDefaultSiteList);
    EXPECT_EQ(PathFor("run"), kDefaultSiteList);
    EXPECT_EQ(PathFor("_infofile:d:\\other\\x.info"), "d:\\other\\x.info");
    EXPECT_EQ(PathFor("_infofile:c:\\my sites\\list.info"), "c:\\my sites\\list.info");

    // "_infofile:" then a path, a blank and "run": word 1 carries the path.
    Split s = SplitOf("_infofile:c:\\k\\s.info run");
    EXPECT_EQ(PathFor(s.words[0]), "c:\\k\\s.info");
}

TEST(CommandLine, PriorityWords) {
    EXPECT_EQ(FindPriorityWord("run"), nullptr);
    ASSERT_NE(FindPriorityWord("run high priority"), nullptr);
    EXPECT_EQ(FindPriorityWord("run HIGH PRIORITY")->priorityClass, 0x80u);
    EXPECT_EQ(FindPriorityWord("run HIGH PRIORITY")->threadPriority, 2);
    EXPECT_EQ(FindPriorityWord("low priority")->priorityClass, 0x4000u);
    EXPECT_EQ(FindPriorityWord("REALTIME PRIORITY")->threadPriority, 15);
    EXPECT_EQ(FindPriorityWord("normal priority")->priorityClass, 0x20u);
    // High wins over low in either order; the table order decides.
    EXPECT_STREQ(FindPriorityWord("low priority high priority")->lower, "high priority");
    EXPECT_STREQ(FindPriorityWord("high priority low priority")->lower, "high priority");
    // Capital initials match no row.
    EXPECT_EQ(FindPriorityWord("High Priority"), nullptr);
}

TEST(CommandLine, MinimiseWord) {
    EXPECT_TRUE(WantsMinimizedStart("run minimize"));
    EXPECT_TRUE(WantsMinimizedStart("\"_infofile:c:\\a b\\s.info\" MINIMIZE"));
    EXPECT_FALSE(WantsMinimizedStart("Minimize"));
    EXPECT_FALSE(WantsMinimizedStart("run"));
}
