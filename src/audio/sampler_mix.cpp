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

// Gains within this of their target are set to it once a buffer is mixed.
// Left alone, a gain gliding toward 0 sinks into denormal numbers, which
// cost many times the normal arithmetic on every frame; the step is far
// below anything audible.
constexpr float kSmpSnap = 1e-6f;

void snap(float& cur, float want) {
  if (std::fabs(cur - want) < kSmpSnap) cur = want;
}

// Mixes one voice into out; false when the voice has ended. A voice whose
// gains have settled skips the glide arithmetic (it would change nothing).
template <int Channels, bool Glide>
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
  // Below this position the next frame exists without wrapping: the common
  // case, which needs no end checks.
  const double inner_end = fframes - 1;
  bool alive = true;
  for (uint32_t i = 0; i < n; ++i) {
    int64_t j, k;
    if (pos < inner_end) {
      j = static_cast<int64_t>(pos);
      k = j + 1;
    } else {
      if (pos >= fframes) {
        if (!loop) {
          alive = false;
          break;
        }
        pos = std::fmod(pos, fframes);
      }
      j = static_cast<int64_t>(pos);
      k = j + 1;
      if (static_cast<uint64_t>(k) >= frames) k = loop ? 0 : j;
    }
    float f = static_cast<float>(pos - static_cast<double>(j));
    if constexpr (Glide) {
      ll = (ll - wll) * kSmpGlide + wll;
      lr = (lr - wlr) * kSmpGlide + wlr;
      rl = (rl - wrl) * kSmpGlide + wrl;
      rr = (rr - wrr) * kSmpGlide + wrr;
    }
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
  if constexpr (Glide) {
    snap(ll, wll);
    snap(lr, wlr);
    snap(rl, wrl);
    snap(rr, wrr);
    v.cur_ll = ll;
    v.cur_lr = lr;
    v.cur_rl = rl;
    v.cur_rr = rr;
  }
  return alive;
}

bool settled(const SmpVoice& v) {
  return v.cur_ll == v.want_ll && v.cur_lr == v.want_lr && v.cur_rl == v.want_rl &&
         v.cur_rr == v.want_rr;
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
    bool mono = v.sound->channels == 1;
    bool alive = settled(v) ? (mono ? mix_voice<1, false>(v, out, n) : mix_voice<2, false>(v, out, n))
                            : (mono ? mix_voice<1, true>(v, out, n) : mix_voice<2, true>(v, out, n));
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
  snap(m, master_target);
  master_cur = m;
}
