// The secure server folder (the clean copy) as the passes see it: paths in
// it, its entries, and what it holds under exactly one spelling, so that a
// listed name never reaches a local entry of another spelling (S3,
// engine/engine.h). Internal to engine/.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/remote_listing.h"

namespace engine {

// "folder\name" into a std::string.
std::string LocalPath(const char* folder, const char* name);

// True when `folder` exists and is a folder. A missing clean copy is an
// unplugged drive or a typo, never a folder emptied on purpose.
bool LocalFolderExists(const char* folder);

// Every entry of "folder\mask" in the store's order of names; empty when
// nothing can be listed.
std::vector<ListedEntry> ReadLocalFolder(const char* folder, const char* fileMask);

// What the local side holds under one exact spelling. An entry with the
// directory bit is a folder, whatever else its word holds.
enum class LocalEntry : uint8_t {
    kNone,          // no entry of that name
    kFile,          // a file of exactly that spelling
    kFolder,        // a folder of exactly that spelling
    kOtherSpelling, // the system found an entry of another spelling (it ignores case)
    kUnreadable,    // the lookup failed for another reason (the folder cannot be read)
};

// Asks the system now for the local path `path`, whose last component is
// `name`: kNone only when it reports the file not found.
LocalEntry FindLocalEntry(const std::string& path, const char* name);

// A local folder's entries read once and looked up by exact spelling: for a
// pass that asks of every name it lists, and must ask of the folder as it
// was when the pass began. Find answers kNone, kFile or kFolder.
class LocalNames {
public:
    // The first entry of a name is kept.
    void Add(const ListedEntry& entry);
    LocalEntry Find(const std::string& name) const;
    bool empty() const { return entries_.empty(); }

private:
    std::unordered_map<std::string, LocalEntry> entries_;
};

} // namespace engine
