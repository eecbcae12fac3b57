#include "menus/menus.h"

AppIndicator* g_tray = nullptr;

bool tray_exists() { return g_tray != nullptr; }

void remove_tray() {
  if (!g_tray) return;
  app_indicator_set_status(g_tray, APP_INDICATOR_STATUS_PASSIVE);
  g_object_unref(g_tray);
  g_tray = nullptr;
}
