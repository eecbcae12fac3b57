// Pure text of the audio tap, speech and now playing: PCM chunking, event
// lines, the tools' command lines and scripts, and the voice listing. No
// toolkit, so unit tests link it alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Raw PCM of the tap: signed 16-bit little-endian, two channels, 44100 Hz.
inline constexpr int kTapRate = 44100;
inline constexpr int kTapChannels = 2;
inline constexpr size_t kTapFrameBytes = 4;
// Four seconds: more is never buffered.
inline constexpr size_t kTapMaxBytes = 705600;

// The chunk interval a request asks for, kept within 20 ... 500 ms.
int tap_clamp_interval(long ms);
// Frames in one chunk of an interval.
size_t tap_chunk_frames(int interval_ms);

// Appends received PCM; past four seconds the older half is dropped.
void tap_buffer_append(std::string& buf, std::string_view data);
// Moves one chunk of `bytes` out of the buffer into chunk. A reader more
// than four chunks behind skips to the newest audio. False (and chunk
// untouched) when less than a chunk is buffered.
bool tap_take_chunk(std::string& buf, size_t bytes, std::string& chunk);
// "AUDIOTAP <base64>\t44100\t2\t<frames>\t<monotonic ms>".
std::string tap_event_line(std::string_view pcm, long long mono_ms);

// Removes private tap sinks whose owning process (the number in the node
// name) is gone. Run as `sh -c <script>`; it embeds no outside text, and
// only names of the exact form ovalis-tap-<digits> are considered.
extern const char kTapCleanupScript[];
// Destroys every node whose name equals the script's first argument. Run as
// `sh -c <script> sh <node name>`: the name is compared as plain text and
// never parsed as shell or awk code.
extern const char kTapDestroyScript[];

// spd-say's rate argument for a page rate of 0 ... 1 (0 or less: default).
std::string say_rate_arg(double rate);
// A short language tag such as en-AU, rather than a synthesis voice name.
bool say_voice_is_lang(std::string_view voice);
// The whole spd-say command line (after the program path).
std::vector<std::string> say_args(std::string_view text, std::string_view voice, double rate);
// The JSON array of voices in `spd-say -L` output; only complete lines count.
std::string voices_json(std::string_view listing);

// Whether a now-playing description says it is playing (absent: yes).
bool nowplaying_playing(std::string_view json);
// The MPRIS bus name for an application id (or name when the id is empty).
std::string mpris_bus_name(std::string_view app_id, std::string_view app_name);
// "MEDIAKEY seek\t<seconds with three decimals>", locale-independent.
std::string mediakey_seek_line(double seconds);
