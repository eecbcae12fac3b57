// The text of the autostart entry that starts the application at login.
// Pure text: no toolkit, unit tested.
#pragma once

#include <string>
#include <string_view>

// "[Desktop Entry]" with Type, Name, Exec, Terminal and the GNOME enable key.
// The name is written as a Desktop Entry string value and the executable as
// one quoted Exec argument, so no name or path can add keys or arguments.
std::string autostart_entry_text(std::string_view name, std::string_view exe);

// The entry's file name: the application id (or "ovalis-app" when empty)
// with ".desktop"; a "/" in the id becomes "_" so the file stays in the
// autostart folder.
std::string autostart_file_name(std::string_view app_id);
