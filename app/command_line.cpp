#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "sites/data_files.h"

namespace {

// Priority classes and thread priorities as Windows numbers them.
constexpr uint32_t kHighPriorityClass = 0x00000080;
constexpr uint32_t kBelowNormalPriorityClass = 0x00004000;
constexpr uint32_t kRealtimePriorityClass = 0x00000100;
constexpr uint32_t kNormalPriorityClass = 0x00000020;
constexpr int kThreadPriorityHighest = 2;
constexpr int kThreadPriorityBelowNormal = -1;
constexpr int kThreadPriorityTimeCritical = 15;
constexpr int kThreadPriorityNormal = 0;

constexpr PriorityWord kPriorityWords[] = {
    {"high priority", "HIGH PRIORITY", kHighPriorityClass, kThreadPriorityHighest},
    {"low priority", "LOW PRIORITY", kBelowNormalPriorityClass, kThreadPriorityBelowNormal},
    {"realtime priority", "REALTIME PRIORITY", kRealtimePriorityClass, kThreadPriorityTimeCritical},
    {"normal priority", "NORMAL PRIORITY", kNormalPriorityClass, kThreadPriorityNormal},
};

constexpr const char kInfoFileOption[] = "_infofile:";

}  // namespace

void SplitCommandLine(int& wordCount, char** words, int maxWords, char* line) {
    char* quote = strchr(line, '"');
    if (quote) {
        memmove(quote, quote + 1, strlen(quote + 1) + 1);
        char* closing = strchr(quote, '"');
        if (closing) *closing = 0;
        wordCount = 1;
        if (maxWords > 0) words[0] = line;
        return;
    }
    wordCount = 0;
    char* start = line;
    for (char* p = line;; p++) {
        if (*p == ' ' || *p == 0) {
            bool end = *p == 0;
            *p = 0;
            if (wordCount < maxWords) words[wordCount] = start;
            wordCount++;
            if (end) break;
            start = p + 1;
        }
    }
}

const PriorityWord* FindPriorityWord(const char* rawLine) {
    for (const PriorityWord& row : kPriorityWords) {
        if (strstr(rawLine, row.lower) || strstr(rawLine, row.upper)) return &row;
    }
    return nullptr;
}

bool WantsMinimizedStart(const char* rawLine) {
    return strstr(rawLine, "minimize") || strstr(rawLine, "MINIMIZE");
}

void SiteListPathFromCommandWord(const char* commandWord, char* path, int pathSize) {
    const char* option = strstr(commandWord, kInfoFileOption);
    const char* chosen = option ? option + sizeof kInfoFileOption - 1 : kDefaultSiteList;
    snprintf(path, (size_t)pathSize, "%s", chosen);
}
