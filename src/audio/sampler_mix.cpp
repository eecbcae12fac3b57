#include "audio/sampler_mix.h"

#include <cmath>
#include <cstring>

namespace {
constexpr float kHalfPi = 1.5707964f;
}

void smp_voice_targets(SmpVoice& v) {
  float p = v.pan < -1 ? -1 : (v.pan > 1 ? 1 : v.pan);
  float g = v.gain < 0 ? 0 : v.gain;
  if (v.sound && v.sound->channels == 1) {
    float th = (p + 1) * 0.5f * kHalfPi;
    v.want_ll = g * std::cos(th);
    v.want_rr = g * std::sin(th);
    v.want_lr = v.want_rl = 0;
    return;
  }
  if (p <= 0) {
    float th = (p + 1) * kHalfPi;
    v.want_ll = g;
    v.want_rl = 0;
    v.want_lr = g * std::cos(th);
    v.want_rr = g * std::sin(th);
  } else {
    float th = p * kHalfPi;
    v.want_rr = g;
    v.want_lr = 0;
    v.want_ll = g * std::cos(th);
    v.want_rl = g * std::sin(th);
  }
}

void smp_voice_release(SmpVoice& v) {
  v.releasing = true;
  v.want_ll = v.want_lr = v.want_rl = v.want_rr = 0;
}

size_t smp_voice_start(SmpVoice* voices, uint64_t& serial, std::shared_ptr<SmpSound> sound,
                       int32_t id, float gain, float pan, double rate, bool loop,
                       std::shared_ptr<SmpSound>* displaced) {
  size_t sounding = 0, oldest = kSmpSlots;
  for (size_t i = 0; i < kSmpSlots; ++i) {
    const SmpVoice& v = voices[i];
    if (!v.active || v.releasing) continue;
    ++sounding;
    if (oldest == kSmpSlots || v.serial < voices[oldest].serial) oldest = i;
  }
  if (sounding >= kSmpSounding) smp_voice_release(voices[oldest]);

  size_t slot = kSmpSlots;
  for (size_t i = 0; i < kSmpSlots && slot == kSmpSlots; ++i)
    if (!voices[i].active) slot = i;
  if (slot == kSmpSlots) {
    slot = 0;
    for (size_t i = 1; i < kSmpSlots; ++i)
      if (voices[i].serial < voices[slot].serial) slot = i;
  }
  SmpVoice& v = voices[slot];
  if (displaced) *displaced = std::move(v.sound);
  v.sound = std::move(sound);
  v.pos = 0;
  v.cur_ll = v.cur_lr = v.cur_rl = v.cur_rr = 0;
  v.id = id;
  v.serial = serial++;
  v.gain = gain;
  v.pan = pan;
  v.rate = rate;
  v.loop = loop;
  smp_voice_targets(v);
  v.active = true;
  v.releasing = false;
  return slot;
}

namespace {

// Mixes one voice into out; false when the voice has ended.
template <int Channels>
bool mix_voice(SmpVoice& v, float* out, uint32_t n) {
  const SmpSound& s = *v.sound;
  const float* smp = s.samples.data();
  const uint64_t frames = s.frames;
  const double fframes = static_cast<double>(frames);
  double pos = v.pos;
  const double rate = v.rate;
  const bool loop = v.loop;
  float ll = v.cur_ll, lr = v.cur_lr, rl = v.cur_rl, rr = v.cur_rr;
  const float wll = v.want_ll, wlr = v.want_lr, wrl = v.want_rl, wrr = v.want_rr;
  bool alive = true;
  for (uint32_t i = 0; i < n; ++i) {
    if (pos >= fframes) {
      if (!loop) {
        alive = false;
        break;
      }
      pos = std::fmod(pos, fframes);
    }
    uint64_t j = static_cast<uint64_t>(pos);
    float f = static_cast<float>(pos - static_cast<double>(j));
    uint64_t k = j + 1;
    if (k >= frames) k = loop ? 0 : j;
    ll = (ll - wll) * kSmpGlide + wll;
    lr = (lr - wlr) * kSmpGlide + wlr;
    rl = (rl - wrl) * kSmpGlide + wrl;
    rr = (rr - wrr) * kSmpGlide + wrr;
    if constexpr (Channels == 1) {
      float a = smp[j], b = smp[k];
      float x = a + (b - a) * f;
      out[2 * i] += ll * x;
      out[2 * i + 1] += rr * x;
    } else {
      float al = smp[2 * j], bl = smp[2 * k];
      float ar = smp[2 * j + 1], br = smp[2 * k + 1];
      float xl = al + (bl - al) * f;
      float xr = ar + (br - ar) * f;
      out[2 * i] += ll * xl + lr * xr;
      out[2 * i + 1] += rl * xl + rr * xr;
    }
    pos += rate;
  }
  v.pos = pos;
  v.cur_ll = ll;
  v.cur_lr = lr;
  v.cur_rl = rl;
  v.cur_rr = rr;
  return alive;
}

}  // namespace

void smp_mix(SmpVoice* voices, size_t count, float master_target, float& master_cur, float* out,
             uint32_t n) {
  std::memset(out, 0, sizeof(float) * 2 * n);
  for (size_t vi = 0; vi < count; ++vi) {
    SmpVoice& v = voices[vi];
    if (!v.active || !v.sound) continue;
    if (v.sound->frames == 0) {
      v.active = false;
      continue;
    }
    // The sound reference stays with the slot: freeing it here would put a
    // large deallocation on the real-time thread.
    bool alive = v.sound->channels == 1 ? mix_voice<1>(v, out, n) : mix_voice<2>(v, out, n);
    if (!alive) {
      v.active = false;
      continue;
    }
    if (v.releasing && v.cur_ll + v.cur_lr + v.cur_rl + v.cur_rr < 0.0001f) v.active = false;
  }
  float m = master_cur;
  for (uint32_t i = 0; i < n; ++i) {
    m = (m - master_target) * kSmpGlide + master_target;
    out[2 * i] *= m;
    out[2 * i + 1] *= m;
  }
  master_cur = m;
}
