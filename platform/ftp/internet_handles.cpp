// The Internet handle tree, closing handles and the last reply (see
// internet_handles.h).
#include "platform/ftp/internet_handles.h"

#include <cstring>
#include <new>
#include <unordered_map>

#include "platform/win32.h"

namespace {

struct Entry {
    std::shared_ptr<InternetObject> object;
    HINTERNET parent = nullptr;
    bool foreignParent = false;  // parent is the system's, not listed here
    std::vector<HINTERNET> children;
};

std::mutex g_mutex;

std::unordered_map<HINTERNET, Entry>& Registry() {
    static auto* registry = new std::unordered_map<HINTERNET, Entry>();
    return *registry;  // never destroyed: handles may be closed during exit
}

// Unlists handle and everything below it; the objects go to doomed, parents
// before their children. Called with g_mutex held.
void Unlist(HINTERNET handle, std::vector<std::shared_ptr<InternetObject>>& doomed) {
    auto it = Registry().find(handle);
    if (it == Registry().end()) return;
    Entry entry = std::move(it->second);
    Registry().erase(it);
    if (entry.parent && !entry.foreignParent) {
        auto parent = Registry().find(entry.parent);
        if (parent != Registry().end()) std::erase(parent->second.children, handle);
    }
    doomed.push_back(std::move(entry.object));
    for (HINTERNET child : entry.children) Unlist(child, doomed);
}

thread_local DWORD t_responseCode = 0;
thread_local std::string t_responseText;

// Aborts the objects of closed handles, then lets them go, children first:
// a listing still refers to its connection.
void Release(std::vector<std::shared_ptr<InternetObject>>& doomed) {
    for (auto& object : doomed) object->Abort();
    while (!doomed.empty()) doomed.pop_back();
}

}  // namespace

HINTERNET InternetRegister(std::shared_ptr<InternetObject> object, HINTERNET parent,
                           bool foreignParent) {
    HINTERNET handle = object.get();
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (parent && !foreignParent) {
            auto it = Registry().find(parent);
            if (it == Registry().end()) {  // closed by another thread meanwhile
                SetLastError(ERROR_INVALID_HANDLE);
                return nullptr;
            }
            it->second.children.push_back(handle);
        }
        Entry entry;
        entry.object = std::move(object);
        entry.parent = parent;
        entry.foreignParent = foreignParent;
        Registry().emplace(handle, std::move(entry));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return handle;
}

std::shared_ptr<InternetObject> InternetLookup(HINTERNET handle, InternetKind kind) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = Registry().find(handle);
    if (it == Registry().end() || it->second.object->magic != InternetObject::kMagic) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (it->second.object->kind != kind) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return it->second.object;
}

void InternetSetLastResponse(uint32_t code, const std::string& text) {
    t_responseCode = code;
    t_responseText = text;
}

bool InternetIsListed(HINTERNET handle) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return Registry().count(handle) != 0;
}

BOOL InternetCloseListed(HINTERNET internet) {
    std::vector<std::shared_ptr<InternetObject>> doomed;
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!Registry().count(internet)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        Unlist(internet, doomed);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    Release(doomed);
    return TRUE;
}

void InternetCloseChildrenOf(HINTERNET foreignParent) {
    std::vector<std::shared_ptr<InternetObject>> doomed;
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        std::vector<HINTERNET> children;
        for (const auto& [handle, entry] : Registry())
            if (entry.foreignParent && entry.parent == foreignParent) children.push_back(handle);
        for (HINTERNET child : children) Unlist(child, doomed);
    } catch (const std::bad_alloc&) {
        // Left listed: closed with their own handles, or never.
    }
    Release(doomed);
}

BOOL InternetLastResponseInfo(LPDWORD error, LPSTR buffer, LPDWORD length) {
    if (!error || !length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *error = t_responseCode >= 400 ? FtpErrorFromReply(int(t_responseCode)) : 0;
    std::string text = t_responseText;
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
    const DWORD needed = DWORD(text.size());
    if (!buffer || *length <= needed) {
        *length = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, text.c_str(), needed + 1);
    *length = needed;
    return TRUE;
}
