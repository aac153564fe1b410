// The resource lists of app/resources.h as the platform layer's table.
#include "app/resources.h"

#include "platform/win32.h"

namespace {

#define KV_ITEM(text, id) {PLATFORM_MENU_ITEM, id, 0, text},
#define KV_POPUP(text) {PLATFORM_MENU_POPUP, 0, 0, text},
#define KV_END() {PLATFORM_MENU_END, 0, 0, nullptr},
#define KV_ITEM_GREYED(text, id) {PLATFORM_MENU_ITEM, id, MF_GRAYED, text},
#define KV_POPUP_GREYED(text) {PLATFORM_MENU_POPUP, 0, MF_GRAYED, text},
#define KV_STRING(id, text) {id, text},

const PlatformMenuEntry kLiveMenu[] = {KV_MAIN_MENU(KV_ITEM, KV_POPUP, KV_ITEM, KV_END)};
const PlatformMenuEntry kBusyMenu[] = {
    KV_MAIN_MENU(KV_ITEM_GREYED, KV_POPUP_GREYED, KV_ITEM_GREYED, KV_END)};

const PlatformMenuResource kMenus[] = {
    {KV_MENU_LIVE, kLiveMenu, UINT(sizeof kLiveMenu / sizeof kLiveMenu[0])},
    {KV_MENU_BUSY, kBusyMenu, UINT(sizeof kBusyMenu / sizeof kBusyMenu[0])},
};

const PlatformStringResource kStrings[] = {KV_STRINGS(KV_STRING)};

// data/kestrovane.ico, turned into bytes by the build.
const BYTE kIcon[] = {
#include "kestrovane_icon.inc"
};

const PlatformIconResource kIcons[] = {{KV_ICON_MAIN, kIcon, UINT(sizeof kIcon)}};

const PlatformResources kResources = {
    kMenus, UINT(sizeof kMenus / sizeof kMenus[0]), kStrings, UINT(sizeof kStrings / sizeof kStrings[0]),
    kIcons, UINT(sizeof kIcons / sizeof kIcons[0]),
};

}  // namespace

void RegisterResources(void) {
    PlatformSetResources(&kResources);
}

const PlatformResources* ProgramResources(void) {
    return &kResources;
}
