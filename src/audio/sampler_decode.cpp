// Files are read with libsndfile and brought to the mixer's rate with
// libsamplerate, so voices never resample on the real-time thread beyond
// their playback rate.
#include "audio/sampler_decode.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct SfClose {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SfFile = std::unique_ptr<SNDFILE, SfClose>;

// Mixes n-channel frames down to stereo. Where the file names its channel
// positions, centre and surround channels go to both sides at -3 dB and LFE
// is left out; otherwise channels alternate left and right.
std::vector<float> downmix(SNDFILE* f, const std::vector<float>& in, int channels) {
  std::vector<int> map(channels, 0);
  bool have_map = sf_command(f, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                             static_cast<int>(sizeof(int) * channels)) == SF_TRUE;
  std::vector<float> wl(channels), wr(channels);
  const float h = 0.70710678f;
  for (int c = 0; c < channels; ++c) {
    if (!have_map) {
      (c % 2 == 0 ? wl : wr)[c] = 1;
      continue;
    }
    switch (map[c]) {
      case SF_CHANNEL_MAP_LEFT: case SF_CHANNEL_MAP_FRONT_LEFT:
      case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
        wl[c] = 1; break;
      case SF_CHANNEL_MAP_RIGHT: case SF_CHANNEL_MAP_FRONT_RIGHT:
      case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
        wr[c] = 1; break;
      case SF_CHANNEL_MAP_REAR_LEFT: case SF_CHANNEL_MAP_SIDE_LEFT:
      case SF_CHANNEL_MAP_TOP_FRONT_LEFT: case SF_CHANNEL_MAP_TOP_REAR_LEFT:
        wl[c] = h; break;
      case SF_CHANNEL_MAP_REAR_RIGHT: case SF_CHANNEL_MAP_SIDE_RIGHT:
      case SF_CHANNEL_MAP_TOP_FRONT_RIGHT: case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
        wr[c] = h; break;
      case SF_CHANNEL_MAP_LFE:
        break;
      default:
        wl[c] = wr[c] = h; break;
    }
  }
  size_t frames = in.size() / channels;
  std::vector<float> out(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    float l = 0, r = 0;
    for (int c = 0; c < channels; ++c) {
      float x = in[i * channels + c];
      l += wl[c] * x;
      r += wr[c] * x;
    }
    out[2 * i] = l;
    out[2 * i + 1] = r;
  }
  return out;
}

bool resample(std::vector<float>& samples, int channels, int rate) {
  if (rate == kSmpRate || samples.empty()) return true;
  double ratio = static_cast<double>(kSmpRate) / rate;
  long in_frames = static_cast<long>(samples.size() / channels);
  long out_cap = static_cast<long>(in_frames * ratio) + 64;
  std::vector<float> out(static_cast<size_t>(out_cap) * channels);
  SRC_DATA d{};
  d.data_in = samples.data();
  d.input_frames = in_frames;
  d.data_out = out.data();
  d.output_frames = out_cap;
  d.src_ratio = ratio;
  if (src_simple(&d, SRC_SINC_MEDIUM_QUALITY, channels) != 0) return false;
  out.resize(static_cast<size_t>(d.output_frames_gen) * channels);
  samples = std::move(out);
  return true;
}

}  // namespace

bool smp_decode(const std::string& path, SmpSound& out, std::string* error) {
  SF_INFO info{};
  SfFile f(sf_open(path.c_str(), SFM_READ, &info));
  if (!f || info.channels < 1 || info.samplerate < 1) {
    *error = "sampler: can't decode " + path + " (wav/mp3/flac)";
    return false;
  }
  // A header may claim anything: a rate of 1 Hz would make every second of
  // the file 48 000 seconds of bank, and a huge channel count or length
  // would do the same directly. Such files are refused, not loaded.
  if (info.samplerate < kSmpMinRate || info.samplerate > kSmpMaxRate || info.channels > 64) {
    *error = "sampler: " + path + " has an impossible format (" +
             std::to_string(info.samplerate) + " Hz, " + std::to_string(info.channels) +
             " channels)";
    return false;
  }
  const int ch = info.channels;
  const double out_per_in = double(kSmpRate) / info.samplerate * std::min(ch, 2);
  auto too_long = [&](size_t in_frames) {
    return double(in_frames) * out_per_in > double(kSmpMaxSamples) ||
           double(in_frames) * ch > double(kSmpMaxSamples);
  };
  auto refuse_length = [&] {
    *error = "sampler: " + path + " is too long for the sampler (more than " +
             std::to_string(kSmpMaxSamples / 2 / kSmpRate / 60) + " minutes of stereo)";
    return false;
  };
  if (info.frames > 0 && too_long(static_cast<size_t>(info.frames))) return refuse_length();
  constexpr sf_count_t kChunk = 4096;
  std::vector<float> buf(static_cast<size_t>(ch) * kChunk);
  std::vector<float> samples;
  for (;;) {
    sf_count_t got = sf_readf_float(f.get(), buf.data(), kChunk);
    if (got <= 0) break;
    samples.insert(samples.end(), buf.begin(), buf.begin() + got * ch);
    if (too_long(samples.size() / ch)) return refuse_length();
    if (got < kChunk) break;
  }
  int channels = ch;
  if (ch > 2) {
    samples = downmix(f.get(), samples, ch);
    channels = 2;
  }
  f.reset();
  if (!resample(samples, channels, info.samplerate)) {
    *error = "sampler: can't decode " + path;
    return false;
  }
  out.frames = samples.size() / channels;
  if (out.frames == 0) {
    *error = "sampler: " + path + " decoded to no audio";
    return false;
  }
  samples.resize(out.frames * channels);
  out.samples = std::move(samples);
  out.channels = channels;
  return true;
}
