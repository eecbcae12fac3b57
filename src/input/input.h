// Input: global hotkeys (X11 key grabs, or the global-shortcuts portal),
// synthetic keystrokes through XTest, and pointer tracking through the
// screen-cast portal where the display server hides the pointer.
#pragma once

#include <string>
#include <string_view>

// Registers a hotkey; the error text, empty on success.
std::string hotkey_register(const std::string& id, const std::string& combo);
// "HKREG <key> <id>\t<combo>": registers and answers.
void do_hkreg(std::string_view rest);
// "HKUNREG <id>"
void do_hkunreg(std::string_view id);

// "KEYSTROKE <key> <combo>": posts the combination; false when it could not.
bool do_keystroke(std::string_view combo);

// "MOUSETRACK <key> <restore-token>" and "MOUSETRACK STOP".
void mt_start(std::string_view key, std::string_view payload);
void do_mousetrack_stop();

// Hands the tracked pointer to the pointer query; called once at start-up.
void install_input_hooks();
