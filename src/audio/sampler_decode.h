// Decoding of sound files for the sampler's bank.
#pragma once

#include <cstddef>
#include <string>

#include "audio/sampler_mix.h"

constexpr int kSmpRate = 48000;
// Sound files outside these rates are refused rather than resampled.
constexpr int kSmpMinRate = 1000, kSmpMaxRate = 768000;
// The most float samples one decoded sound may hold (256 MiB, about 11
// minutes of 48 kHz stereo).
constexpr size_t kSmpMaxSamples = size_t(1) << 26;

// Decodes a WAV, FLAC, MP3 or Ogg file into 48 kHz float PCM of 1 or 2
// channels (more channels are mixed down to stereo). On failure returns
// false with the message for the backend in *error.
bool smp_decode(const std::string& path, SmpSound& out, std::string* error);
