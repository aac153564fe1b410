// Fonts on Linux: the PlatformFont extension over FreeType and the Debian
// font packages. What only this layer decides (which file a face name maps to)
// is exposed here for platform_linux_tests.
#pragma once

#include <string>

#include "platform/win32.h"

// The folder that holds Debian's "liberation" and "dejavu" font folders.
inline constexpr const char kPlatformFontRoot[] = "/usr/share/fonts/truetype";

// PlatformCreateFont with the font files looked up below root instead of
// kPlatformFontRoot. NULL when none of the candidate files loads.
PlatformFont* PlatformCreateFontFrom(const LOGFONTA* description, const std::string& root);

// The file a font was loaded from, relative to its root
// ("liberation/LiberationMono-Bold.ttf"); empty for NULL.
std::string PlatformFontFile(PlatformFont* font);
