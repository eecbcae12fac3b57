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
