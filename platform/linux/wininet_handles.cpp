// The Internet handle tree, InternetOpenA, InternetCloseHandle and
// InternetGetLastResponseInfoA.
#include <cstring>
#include <new>
#include <unordered_map>

#include "platform/ftp/ftp_control.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/wininet_internal.h"

namespace {

struct Entry {
    std::shared_ptr<InternetObject> object;
    HINTERNET parent = nullptr;
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
    if (entry.parent) {
        auto parent = Registry().find(entry.parent);
        if (parent != Registry().end()) std::erase(parent->second.children, handle);
    }
    doomed.push_back(std::move(entry.object));
    for (HINTERNET child : entry.children) Unlist(child, doomed);
}

thread_local DWORD t_responseCode = 0;
thread_local std::string t_responseText;

}  // namespace

HINTERNET InternetRegister(std::shared_ptr<InternetObject> object, HINTERNET parent) {
    HINTERNET handle = object.get();
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (parent) {
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

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass,
                        DWORD flags) {
    if (flags & INTERNET_FLAG_ASYNC) {  // status callbacks are not provided
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY &&
        accessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<InternetSession> session;
    try {
        session = std::make_shared<InternetSession>();
        session->agent = agent ? agent : "";
        session->accessType = accessType;
        if (accessType == INTERNET_OPEN_TYPE_PROXY) {
            session->proxy = proxy ? proxy : "";
            session->proxyBypass = proxyBypass ? proxyBypass : "";
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return InternetRegister(std::move(session), nullptr);
}

BOOL InternetCloseHandle(HINTERNET internet) {
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
    for (auto& object : doomed) object->Abort();
    // Children die first: a listing still refers to its connection.
    while (!doomed.empty()) doomed.pop_back();
    return TRUE;
}

BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD length) {
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
