// Decoding of sound files for the sampler's bank.
#pragma once

#include <string>

#include "audio/sampler_mix.h"

constexpr int kSmpRate = 48000;

// Decodes a WAV, FLAC, MP3 or Ogg file into 48 kHz float PCM of 1 or 2
// channels (more channels are mixed down to stereo). On failure returns
// false with the message for the backend in *error.
bool smp_decode(const std::string& path, SmpSound& out, std::string* error);
