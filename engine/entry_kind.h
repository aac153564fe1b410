// What an entry's attribute word makes it: a folder or a file. The word is
// a server's (as its listing reads) or the local system's. Only the
// directory bit makes a folder (IsAnyFolder): a read-only folder is still
// one to record without a size, to remove whole and never to download; a
// folder taken for a file would be given to DELE, which fails on it every
// pass. Internal to engine/.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

namespace engine {

// The kinds of attribute word. kFolder and kMarkedFile match the whole
// word: a directory with the read-only bit is a folder, but not a plain one.
enum class EntryKind : uint8_t {
    kFile,        // any word not below
    kMarkedFile,  // exactly read-only, hidden or archive
    kFolder,      // exactly directory, directory and hidden, or directory and archive
    kOtherFolder, // any other word with the directory bit (read-only, system, ...)
};

namespace entry_words {

inline constexpr DWORD kPlainFolders[] = {
    FILE_ATTRIBUTE_DIRECTORY,
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN,
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE,
};
inline constexpr DWORD kMarkedFiles[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_ARCHIVE};

template <size_t N>
constexpr bool OneOf(DWORD attributes, const DWORD (&words)[N])
{
    for (DWORD word : words)
        if (attributes == word)
            return true;
    return false;
}

} // namespace entry_words

constexpr EntryKind KindOf(DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return entry_words::OneOf(attributes, entry_words::kPlainFolders) ? EntryKind::kFolder
                                                                          : EntryKind::kOtherFolder;
    return entry_words::OneOf(attributes, entry_words::kMarkedFiles) ? EntryKind::kMarkedFile : EntryKind::kFile;
}

// Either folder kind: any word with the directory bit.
constexpr bool IsAnyFolder(EntryKind kind)
{
    return kind == EntryKind::kFolder || kind == EntryKind::kOtherFolder;
}

} // namespace engine
