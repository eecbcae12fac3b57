// Secondary windows: opened and closed by the backend, and (through the same
// registration) popup windows that pages open.
#pragma once

#include <memory>
#include <string_view>

#include "windows/registry.h"

// Registers a fully built window record under its id and wires the handlers
// every registered window needs: state reports, the close request and the
// destruction clean-up that sends "WINCLOSED". A record's shared_ucm, when
// set, holds one reference and one count in g_shared_ucms; both are
// released when the window goes away.
SecWin* register_secwin(std::unique_ptr<SecWin> rec);

// "WINOPEN <fields>" and "WINCLOSE <id>".
void do_winopen(std::string_view rest);
void do_winclose(std::string_view id);
