// The probes on Linux: xdotool sends XTest input, import reads the root
// window. Both are run through the shell, so each call costs a few
// milliseconds.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "gui_probe.h"

namespace {

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// X key names of the virtual keys the tests press.
std::string KeyName(BYTE vk) {
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9'))
        return std::string(1, char(vk >= 'A' && vk <= 'Z' ? vk - 'A' + 'a' : vk));
    if (vk >= VK_F1 && vk <= VK_F12) return "F" + std::to_string(vk - VK_F1 + 1);
    switch (vk) {
        case VK_RETURN: return "Return";
        case VK_BACK: return "BackSpace";
        case VK_TAB: return "Tab";
        case VK_ESCAPE: return "Escape";
        case VK_SPACE: return "space";
        case VK_SHIFT: return "Shift_L";
        case VK_CONTROL: return "Control_L";
        case VK_MENU: return "Alt_L";
        case VK_LEFT: return "Left";
        case VK_RIGHT: return "Right";
        case VK_UP: return "Up";
        case VK_DOWN: return "Down";
        case VK_DELETE: return "Delete";
        case VK_INSERT: return "Insert";
        case VK_HOME: return "Home";
        case VK_END: return "End";
    }
    return "";
}

}  // namespace

bool ProbeMove(int x, int y) {
    return Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y));
}

bool ProbeClick(int x, int y, int button) {
    return Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click " +
               std::to_string(button));
}

bool ProbeKeyDown(BYTE vk) {
    std::string name = KeyName(vk);
    return !name.empty() && Run("xdotool keydown " + name);
}

bool ProbeKeyUp(BYTE vk) {
    std::string name = KeyName(vk);
    return !name.empty() && Run("xdotool keyup " + name);
}

bool ProbeTap(BYTE vk) {
    std::string name = KeyName(vk);
    return !name.empty() && Run("xdotool key " + name);
}

bool ProbeGrab(int x, int y, int width, int height, std::vector<uint32_t>& pixels) {
    char file[] = "/tmp/kv-grab-XXXXXX";
    int fd = mkstemp(file);
    if (fd < 0) return false;
    std::string geometry = std::to_string(width) + "x" + std::to_string(height) + "+" +
                           std::to_string(x) + "+" + std::to_string(y);
    bool ok = Run("import -window root -crop " + geometry + " +repage -depth 8 rgb:" + file);
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(file);
    if (!ok || bytes.size() != size_t(width) * size_t(height) * 3) return false;
    pixels.resize(size_t(width) * size_t(height));
    for (size_t i = 0; i < pixels.size(); i++) {
        auto b = [&](size_t k) { return uint32_t(static_cast<unsigned char>(bytes[i * 3 + k])); };
        pixels[i] = (b(0) << 16) | (b(1) << 8) | b(2);
    }
    return true;
}
