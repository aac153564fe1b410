// Pictures of the screen: the surface written to, and read from, PNG files.
// Used by the tests, the end-to-end tests and the demo; the program itself
// does not need it (it is built where libpng is available).
#pragma once

#include "tessil/surface.h"

namespace tessil {

// Writes the surface as an 8-bit RGB PNG. The path goes through the
// program's path rules (a path starting with "/" is native on Linux).
bool WritePng(const Surface& surface, const char* path);

// Reads an 8-bit RGB or RGBA PNG into a surface (alpha is dropped). False for
// a missing or malformed file.
bool ReadPng(const char* path, Surface& surface);

} // namespace tessil
