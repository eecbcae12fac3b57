// Menus and the tray indicator.
#pragma once

#include <libayatana-appindicator/app-indicator.h>

extern AppIndicator* g_tray;

// Whether a tray indicator is currently installed.
bool tray_exists();

// Removes the tray indicator, if any.
void remove_tray();
