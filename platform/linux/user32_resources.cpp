// The program's resources (PlatformSetResources) and the stock cursors and
// icons: LoadStringA, LoadIconA, LoadCursorA. Menus are in user32_menus.cpp.
//
// Handles of icons and cursors are small numbers that never change: a stock
// one is 0x10000 plus its Windows number, a program icon 0x20000 plus its
// resource number, and loading one again gives the same handle, as Windows
// shares them.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

#include "platform/linux/user32_internal.h"

namespace user32 {
namespace {

std::atomic<const PlatformResources*> g_resources{nullptr};

constexpr uintptr_t kStockBase = 0x10000;
constexpr uintptr_t kProgramIconBase = 0x20000;

struct StockCursor {
    WORD id;
    const char* gdkName;
};
constexpr StockCursor kCursors[] = {
    {32512, "default"}, {32513, "text"}, {32514, "wait"}, {32515, "crosshair"}, {32649, "pointer"},
};

const PlatformIconResource* FindIcon(UINT id, DWORD* error) {
    const PlatformResources* resources = Resources();
    if (!resources) {
        *error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return nullptr;
    }
    if (!resources->icons || resources->iconCount == 0) {
        *error = ERROR_RESOURCE_TYPE_NOT_FOUND;
        return nullptr;
    }
    for (UINT i = 0; i < resources->iconCount; i++)
        if (resources->icons[i].id == id) return &resources->icons[i];
    *error = ERROR_RESOURCE_NAME_NOT_FOUND;
    return nullptr;
}

// Decoded icons by resource number; kept for the run, as Windows keeps
// shared icons.
std::map<UINT, GdkPixbuf*>& Images() {
    static auto* images = new std::map<UINT, GdkPixbuf*>();
    return *images;
}

GdkPixbuf* Decode(const PlatformIconResource& icon) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("ico", nullptr);
    if (!loader) return nullptr;
    GdkPixbuf* image = nullptr;
    if (gdk_pixbuf_loader_write(loader, icon.data, icon.size, nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
        image = gdk_pixbuf_loader_get_pixbuf(loader);
        if (image) g_object_ref(image);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return image;
}

}  // namespace

const PlatformResources* Resources() {
    return g_resources.load(std::memory_order_acquire);
}

bool IsProgramInstance(HINSTANCE instance) {
    return instance == nullptr || instance == GetModuleHandleA(nullptr);
}

GdkPixbuf* IconImage(HICON icon) {
    auto value = reinterpret_cast<uintptr_t>(icon);
    if (value <= kProgramIconBase || value > kProgramIconBase + 0xFFFF) return nullptr;
    auto id = UINT(value - kProgramIconBase);
    auto& images = Images();
    if (auto it = images.find(id); it != images.end()) return it->second;
    DWORD error;
    const PlatformIconResource* resource = FindIcon(id, &error);
    GdkPixbuf* image = resource ? Decode(*resource) : nullptr;
    images[id] = image;
    return image;
}

const char* CursorName(HCURSOR cursor) {
    auto value = reinterpret_cast<uintptr_t>(cursor);
    for (const StockCursor& stock : kCursors)
        if (value == kStockBase + stock.id) return stock.gdkName;
    return nullptr;
}

}  // namespace user32

using namespace user32;

void PlatformSetResources(const PlatformResources* resources) {
    g_resources.store(resources, std::memory_order_release);
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    if (!buffer || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = 0;
    const PlatformResources* resources = IsProgramInstance(instance) ? Resources() : nullptr;
    if (!resources) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    for (UINT i = 0; i < resources->stringCount; i++) {
        const PlatformStringResource& entry = resources->strings[i];
        if (entry.id != id || !entry.text) continue;
        size_t n = std::min(strlen(entry.text), size_t(size) - 1);
        memcpy(buffer, entry.text, n);
        buffer[n] = 0;
        return int(n);
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR iconName) {
    if (!IS_INTRESOURCE(iconName)) {  // resources are numbered
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    auto id = UINT(reinterpret_cast<uintptr_t>(iconName));
    if (instance == nullptr) {
        if (iconName == IDI_APPLICATION) return reinterpret_cast<HICON>(kStockBase + id);
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    if (!IsProgramInstance(instance)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    DWORD error;
    if (!FindIcon(id, &error)) {
        SetLastError(error);
        return nullptr;
    }
    return reinterpret_cast<HICON>(kProgramIconBase + id);
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR cursorName) {
    if (instance != nullptr || !IS_INTRESOURCE(cursorName)) {
        // The program has no cursors of its own.
        SetLastError(IsProgramInstance(instance) ? ERROR_RESOURCE_TYPE_NOT_FOUND
                                                 : ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    auto id = WORD(reinterpret_cast<uintptr_t>(cursorName));
    for (const StockCursor& stock : kCursors)
        if (stock.id == id) return reinterpret_cast<HCURSOR>(kStockBase + id);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}
