// The program's resources and menus: what LoadMenuA and LoadStringA give
// must be what app/resources.h lists (on Windows that checks the compiled
// resource script), SetMenu switches the bar, and choosing an item gives
// WM_COMMAND with its identifier.
#include <string>
#include <thread>

#include "app/resources.h"
#include "gui_fixture.h"
#include "gui_probe.h"

namespace {

class Menus : public GuiTest {};

std::string MenuText(HMENU menu, UINT position) {
    char text[64] = "";
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

// Walks a menu against the resource table's entries from `at`; returns the
// index after the entries it covered.
size_t Compare(HMENU menu, const PlatformMenuEntry* entries, size_t count, size_t at) {
    int position = 0;
    while (at < count && entries[at].kind != PLATFORM_MENU_END) {
        const PlatformMenuEntry& entry = entries[at++];
        SCOPED_TRACE(entry.text);
        EXPECT_EQ(MenuText(menu, UINT(position)), entry.text);
        UINT state = GetMenuState(menu, UINT(position), MF_BYPOSITION);
        EXPECT_EQ(state & MF_GRAYED, entry.flags & MF_GRAYED);
        if (entry.kind == PLATFORM_MENU_POPUP) {
            EXPECT_TRUE(state & MF_POPUP);
            EXPECT_EQ(GetMenuItemID(menu, position), UINT(-1));
            HMENU popup = GetSubMenu(menu, position);
            EXPECT_NE(popup, nullptr);
            size_t end = at;
            while (end < count && entries[end].kind != PLATFORM_MENU_END) end++;
            EXPECT_EQ(GetMenuItemCount(popup), int(end - at));
            at = Compare(popup, entries, count, at);
        } else {
            EXPECT_EQ(GetMenuItemID(menu, position), entry.id);
        }
        position++;
    }
    EXPECT_EQ(GetMenuItemCount(menu), position);
    return at + 1;
}

TEST_F(Menus, LoadedMenusAreTheListedOnes) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    const PlatformResources* table = ProgramResources();
    ASSERT_EQ(table->menuCount, 2u);
    for (UINT m = 0; m < table->menuCount; m++) {
        const PlatformMenuResource& resource = table->menus[m];
        HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(resource.id));
        ASSERT_NE(menu, nullptr) << resource.id << " error " << GetLastError();
        Compare(menu, resource.entries, resource.entryCount, 0);
        EXPECT_TRUE(DestroyMenu(menu));
    }

    // The live menu as the main menu table has it, spot-checked by hand.
    HMENU live = LoadMenuA(instance, MAKEINTRESOURCEA(KV_MENU_LIVE));
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(GetMenuItemCount(live), 9);
    EXPECT_EQ(GetMenuItemID(live, 0), UINT(IDM_HELP));
    EXPECT_EQ(MenuText(live, 2), "Update Rate");
    HMENU rates = GetSubMenu(live, 2);
    EXPECT_EQ(GetMenuItemCount(rates), 8);
    EXPECT_EQ(GetMenuItemID(rates, 5), 40630u);
    EXPECT_EQ(MenuText(rates, 5), "1/2 Hour");
    EXPECT_EQ(GetMenuItemID(live, 8), UINT(IDM_QUIT));
    // By command, pop-ups are searched too.
    char text[32];
    EXPECT_EQ(GetMenuStringA(live, IDM_RATE_CUSTOM, text, sizeof text, MF_BYCOMMAND), 11);
    EXPECT_STREQ(text, "Custom Rate");
    EXPECT_EQ(EnableMenuItem(live, IDM_SYNC, MF_BYCOMMAND | MF_GRAYED), BOOL(MF_ENABLED));
    EXPECT_EQ(EnableMenuItem(live, IDM_SYNC, MF_BYCOMMAND | MF_ENABLED), BOOL(MF_GRAYED));
    EXPECT_EQ(EnableMenuItem(live, 12345, MF_BYCOMMAND | MF_GRAYED), -1);
    DestroyMenu(live);

    // Every top-level title of the busy menu is greyed.
    HMENU busy = LoadMenuA(instance, MAKEINTRESOURCEA(KV_MENU_BUSY));
    ASSERT_NE(busy, nullptr);
    ASSERT_EQ(GetMenuItemCount(busy), 9);
    for (UINT i = 0; i < 9; i++) EXPECT_TRUE(GetMenuState(busy, i, MF_BYPOSITION) & MF_GRAYED) << i;
    DestroyMenu(busy);

    SetLastError(0);
    EXPECT_EQ(LoadMenuA(instance, MAKEINTRESOURCEA(999)), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_FALSE(DestroyMenu(busy));
}

TEST_F(Menus, StringsAndIcon) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    char text[64];
    EXPECT_EQ(LoadStringA(instance, IDM_HELP, text, sizeof text), 19);
    EXPECT_STREQ(text, "Click here for Help");
    EXPECT_EQ(LoadStringA(instance, IDM_RESET, text, sizeof text), 22);
    EXPECT_STREQ(text, "Reset the Message File");
    // A short buffer takes what fits and the NUL.
    EXPECT_EQ(LoadStringA(instance, IDM_HELP, text, 6), 5);
    EXPECT_STREQ(text, "Click");
    EXPECT_EQ(LoadStringA(instance, 40031, text, sizeof text), 0);

    EXPECT_NE(LoadIconA(instance, MAKEINTRESOURCEA(KV_ICON_MAIN)), nullptr);
    EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);
    EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
    EXPECT_EQ(LoadIconA(instance, MAKEINTRESOURCEA(105)), nullptr);
}

TEST_F(Menus, SetMenuSwitchesTheBarAboveTheClientArea) {
    ASSERT_TRUE(MakeWindow(640, 480));
    HINSTANCE instance = GetModuleHandleA(nullptr);
    HMENU live = GetMenu(window);
    HMENU busy = LoadMenuA(instance, MAKEINTRESOURCEA(KV_MENU_BUSY));
    ASSERT_TRUE(SetMenu(window, busy));
    EXPECT_TRUE(DrawMenuBar(window));
    EXPECT_EQ(GetMenu(window), busy);
    PumpFor(100);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.bottom, 480);  // the same bar height, the same client

    // Without a bar the client takes its place.
    ASSERT_TRUE(SetMenu(window, nullptr));
    PumpFor(100);
    GetClientRect(window, &client);
    EXPECT_EQ(client.bottom, 480 + GetSystemMetrics(SM_CYMENU));

    ASSERT_TRUE(SetMenu(window, live));
    PumpFor(100);
    GetClientRect(window, &client);
    EXPECT_EQ(client.bottom, 480);
    DestroyMenu(busy);
}

TEST_F(Menus, ChoosingAnItemSendsItsCommand) {
    ASSERT_TRUE(MakeWindow(640, 480));
    HMENU live = GetMenu(window);
    Settle();
    RECT help;
    ASSERT_TRUE(GetMenuItemRect(window, live, 0, &help));
    EXPECT_GT(help.right, help.left);
    ASSERT_TRUE(ProbeClick((help.left + help.right) / 2, (help.top + help.bottom) / 2, 1));
    ASSERT_TRUE(PumpUntil([&] { return Find(WM_COMMAND) != nullptr; }));
    EXPECT_EQ(LOWORD(Find(WM_COMMAND)->wParam), WORD(IDM_HELP));
    EXPECT_EQ(HIWORD(Find(WM_COMMAND)->wParam), 0);
    EXPECT_EQ(Find(WM_COMMAND)->lParam, 0);

    // A pop-up item, opened with the mouse and chosen with the keyboard.
    messageLog.clear();
    RECT rate;
    ASSERT_TRUE(GetMenuItemRect(window, live, 2, &rate));
    // Windows runs its menu loop inside the dispatch of the click, so the
    // keys are queued before anything is pumped.
    ASSERT_TRUE(ProbeClick((rate.left + rate.right) / 2, (rate.top + rate.bottom) / 2, 1));
    Sleep(300);
    ProbeTap(VK_DOWN);
    Sleep(100);
    ProbeTap(VK_RETURN);
    ASSERT_TRUE(PumpUntil([&] { return Find(WM_COMMAND) != nullptr; }));
    EXPECT_EQ(LOWORD(Find(WM_COMMAND)->wParam), WORD(IDM_RATE_1));

    // The greyed menu offers nothing to choose.
    HMENU busy = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(KV_MENU_BUSY));
    SetMenu(window, busy);
    PumpFor(100);
    messageLog.clear();
    ASSERT_TRUE(GetMenuItemRect(window, busy, 0, &help));
    ProbeClick((help.left + help.right) / 2, (help.top + help.bottom) / 2, 1);
    Sleep(100);
    ProbeTap(VK_ESCAPE);
    PumpFor(300);
    EXPECT_EQ(Find(WM_COMMAND), nullptr);
    SetMenu(window, live);
    DestroyMenu(busy);
}

TEST_F(Menus, F10EntersTheMenuBar) {
    ASSERT_TRUE(MakeWindow(640, 480));
    POINT centre = {320, 240};
    ClientToScreen(window, &centre);
    ProbeMove(centre.x, centre.y);
    Settle();
    // The default procedure opens the bar on F10's release (on Windows in a
    // menu loop of its own, so the choosing key comes from another thread
    // once the bar is open). The first title is selected; Return chooses it.
    std::thread user([] {
        Sleep(700);
        ProbeTap(VK_RETURN);
    });
    ASSERT_TRUE(ProbeTap(VK_F10));
    bool chosen = PumpUntil([&] { return Find(WM_COMMAND) != nullptr; });
    user.join();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(LOWORD(Find(WM_COMMAND)->wParam), WORD(IDM_HELP));
    ASSERT_NE(Find(WM_SYSKEYDOWN), nullptr);
    EXPECT_EQ(Find(WM_SYSKEYDOWN)->wParam, WPARAM(VK_F10));
}

TEST_F(Menus, DestroyingTheWindowDestroysItsMenu) {
    ASSERT_TRUE(MakeWindow(300, 200));
    HMENU menu = GetMenu(window);
    ASSERT_NE(menu, nullptr);
    DestroyWindow(window);
    window = nullptr;
    EXPECT_EQ(GetMenuItemCount(menu), -1);
}

}  // namespace
