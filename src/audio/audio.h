// Audio: the PipeWire equalizer and sampler, the audio tap, sounds and
// speech, and the now-playing entry of the desktop's media controls.
#pragma once

#include <string>
#include <string_view>

// ---- audio tap, sounds and speech, now playing ----

// "AUDIOTAP <key> <scope>\t<unused>\t<interval ms>": starts streaming the
// rendered output (scope "app": only this application's) as "AUDIOTAP"
// lines, and answers the key.
void do_audiotap(std::string_view key, std::string_view payload);
// "AUDIOTAP STOP", a new tap, the recorder's death and shutdown.
void tap_stop();

// "SOUND <key> <name or path>": the bell, a named desktop sound or a file.
void do_sound(std::string_view key, std::string_view payload);
// "SAY <key> <text>\t<voice>\t<rate>": answered when the speech ends.
void do_say(std::string_view key, std::string_view payload);
// "SAYSTOP": cuts speech short.
void do_saystop();
// "VOICES <key>": the speech voices installed.
void do_voices(std::string_view key);

// "NOWPLAYING <json>" publishes the track as an MPRIS player; "clear" or
// nothing withdraws it. The controls' commands come back as "MEDIAKEY".
void do_nowplaying(std::string_view payload);
