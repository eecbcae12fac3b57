// Capture and file tools: screenshots of the screen, colour picking, image
// thumbnails and file search. Each answers one "GOT" line per request.
#pragma once

#include <string_view>

// "CAPTURE <id>": the whole X11 screen into a temporary PNG.
void do_capture(std::string_view id);
// "PICKCOLOR <id>": a colour picked by the user through the Screenshot
// portal; answered when the portal responds.
void do_pickcolor(std::string_view id);
// "THUMB <id> <path>\t<size>": a PNG thumbnail for double-density screens.
void do_thumb(std::string_view id, std::string_view rest);
// "SPOTLIGHT <id> <query>": files by name from locate or a bounded walk;
// answered when the search ends, at 100 results or after 4 s.
void do_spotlight(std::string_view id, std::string_view rest);
