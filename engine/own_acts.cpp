#include "engine/own_acts.h"

#include <set>
#include <string>

namespace engine {

namespace {

// Kept small: a folder is noted at most once until a check takes it, and a
// run watches a bounded list of sites.
constexpr size_t kMaxNotes = 4096;

std::set<std::string>& Notes()
{
    static std::set<std::string> notes;
    return notes;
}

std::string Key(const char* host, const char* folder)
{
    std::string key = host ? host : "";
    key += '\n';
    std::string path = folder ? folder : "";
    for (char& c : path)
        if (c == '\\')
            c = '/';
    const size_t first = path.find_first_not_of('/');
    const size_t last = path.find_last_not_of('/');
    if (first != std::string::npos)
        key.append(path, first, last - first + 1);
    return key;
}

} // namespace

void NoteOwnAct(const char* host, const char* folder)
{
    if (Notes().size() >= kMaxNotes)
        Notes().clear();
    Notes().insert(Key(host, folder));
}

bool TakeOwnAct(const char* host, const char* folder)
{
    return Notes().erase(Key(host, folder)) > 0;
}

} // namespace engine
