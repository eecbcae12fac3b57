// The sampler's mixer: the voice table and the per-buffer mixing maths,
// without any PipeWire or locking, so it can be driven with plain buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// One decoded sound: interleaved 48 kHz PCM, 1 or 2 channels.
struct SmpSound {
  std::vector<float> samples;
  int channels = 1;
  uint64_t frames = 0;
};

// One mixer slot.
struct SmpVoice {
  bool active = false;
  bool releasing = false;
  std::shared_ptr<SmpSound> sound;
  int32_t id = 0;
  uint64_t serial = 0;
  double pos = 0;
  double rate = 1;
  bool loop = false;
  float gain = 0;
  float pan = 0;
  float want_ll = 0, want_lr = 0, want_rl = 0, want_rr = 0;
  float cur_ll = 0, cur_lr = 0, cur_rl = 0, cur_rr = 0;
};

constexpr size_t kSmpSlots = 48;
constexpr size_t kSmpSounding = 32;
constexpr uint32_t kSmpMaxFrames = 1024;
// One-pole glide per output frame: a time constant of about 240 frames
// (5 ms at 48 kHz), short enough to feel instant and long enough not to click.
constexpr float kSmpGlide = 0.99584f;

// Target gains from gain and pan: the equal-power law for mono sounds; for
// stereo sounds panning toward one side folds the other channel into it.
void smp_voice_targets(SmpVoice& v);

// Starts a voice in the table: releases the oldest sounding voice when 32
// already sound, takes the first free slot, or else overwrites the oldest.
// The sound the slot held before is moved to *displaced so the caller can
// let go of it outside its lock. Returns the slot.
size_t smp_voice_start(SmpVoice* voices, uint64_t& serial, std::shared_ptr<SmpSound> sound,
                       int32_t id, float gain, float pan, double rate, bool loop,
                       std::shared_ptr<SmpSound>* displaced);

// Fades a voice out; it goes inactive once its gains have decayed.
void smp_voice_release(SmpVoice& v);

// Mixes every active voice into n interleaved stereo frames of out (zeroed
// here), then applies the gliding master gain. Allocates nothing.
void smp_mix(SmpVoice* voices, size_t count, float master_target, float& master_cur, float* out,
             uint32_t n);
