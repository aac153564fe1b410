// PlatformSetting (platform/extensions.h), for both systems: the one place
// the program reads its environment.
#include <map>
#include <mutex>
#include <string>

#include "platform/win32.h"

#ifndef _WIN32
#include <cstdlib>
#endif

namespace {

std::string ReadEnvironment(const char* name) {
#ifdef _WIN32
    // An environment value holds at most 32,767 characters.
    static char value[32768];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
#else
    const char* value = std::getenv(name);
    return value ? value : "";
#endif
}

}  // namespace

const char* PlatformSetting(const char* name) {
    // Read once and kept: nodes of a map stay where they are, so the pointers
    // handed out stay valid for the run.
    static std::mutex lock;
    static std::map<std::string, std::string> values;
    if (name == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(lock);
    auto found = values.find(name);
    if (found == values.end()) found = values.emplace(name, ReadEnvironment(name)).first;
    return found->second.empty() ? nullptr : found->second.c_str();
}
