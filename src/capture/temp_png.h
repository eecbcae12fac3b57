// Temporary PNG files that the application takes over.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <string>

// Saves the image as "<tmp>/ovalis-<kind>-<pid>-<monotonic µs>.png" and
// returns the path, or "" on failure. The file is created afresh (never
// through a link someone left at that name) and readable by the user only.
std::string save_temp_png(GdkPixbuf* image, const char* kind);
