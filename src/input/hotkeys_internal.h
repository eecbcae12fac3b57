// The portal half of the hotkeys, used by the registration front in hotkeys.cpp.
#pragma once

#include <string>

void gs_register(const std::string& id, const std::string& combo);
void gs_unregister(const std::string& id);
