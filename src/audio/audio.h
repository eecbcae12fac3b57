// Audio on PipeWire: the equalizer, the sampler, the audio tap, sounds and
// speech, and the now-playing entry.
#pragma once

#include <string>
#include <string_view>

// ---- equalizer and sampler ----------------------------------------------

// "AUDIOFILTERS<sep><spec>\t<spec>...": replaces the chain; rest starts at
// the separator.
void do_audio_filters(std::string_view rest);
// "AUDIOFILTERSET <index>\t<freq>\t<q>\t<gain>": retunes one filter in place.
void do_audio_filter_set(std::string_view rest);
// "AUDIOBALANCE<sep><number>".
void do_audio_balance(std::string_view rest);
// Unloads the chain and hands the application's streams back to the
// default sink.
void eq_stop();

// Node name of the loaded chain's sink; empty while no chain is loaded.
// Main thread only.
extern std::string g_eq_sink;

// "SAMPLER " lines, with that prefix removed.
void do_sampler_line(std::string_view line);
// Closes the sampler's stream and empties the bank.
void smp_stop();

// Node name of the sampler's stream while it exists. Main thread only.
extern std::string g_smp_node;

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
