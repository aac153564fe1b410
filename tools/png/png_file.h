// Pictures of the screen: the framework's surface written to, and read from,
// PNG files. For tests and tools only: the program does not ship it (it is
// built where libpng is available).
#pragma once

#include "tessil/surface.h"

// Writes the surface as an 8-bit RGB PNG. The path goes through the
// program's path rules (a path starting with "/" is native on Linux).
bool WritePng(const tessil::Surface& surface, const char* path);

// Reads an 8-bit RGB or RGBA PNG into a surface (alpha is dropped). False for
// a missing or malformed file.
bool ReadPng(const char* path, tessil::Surface& surface);
