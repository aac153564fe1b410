// The monitor's command line: splitting it into words, the priority and
// minimise words searched in the raw line, and the site list path option.
#pragma once

#include <cstdint>

// Splits `line` in place into words numbered from 1 (word 1 is the first word
// of the line, not the program's name) and stores up to `maxWords` pointers
// into `words`; `wordCount` is the full count even when more words exist.
//
// A line that holds a double quote is one single word: the first quote is
// removed, the text up to the next quote is kept and everything from that
// quote on is dropped. Otherwise every blank ends a word, so two blanks in a
// row give an empty word and an empty line counts as one (empty) word.
void SplitCommandLine(int& wordCount, char** words, int maxWords, char* line);

// One row of the priority table. The values are those of the Windows priority
// classes and thread priorities.
struct PriorityWord {
    const char* lower;
    const char* upper;
    uint32_t priorityClass;
    int threadPriority;
};

// The row whose word (in all small or all capital letters) occurs in the raw
// line, the first row winning: "high priority", "low priority", "realtime
// priority", "normal priority". Null when none occurs.
const PriorityWord* FindPriorityWord(const char* rawLine);

// True when the raw line holds "minimize" or "MINIMIZE" anywhere.
bool WantsMinimizedStart(const char* rawLine);

// The site list path that the command word selects: the text after
// "_infofile:" when the word contains it, else the default site list.
// `path` receives at most pathSize - 1 bytes.
void SiteListPathFromCommandWord(const char* commandWord, char* path, int pathSize);
