#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/sampler_mix.h"

namespace {

std::shared_ptr<SmpSound> sound(std::vector<float> s, int channels) {
  auto p = std::make_shared<SmpSound>();
  p->channels = channels;
  p->frames = s.size() / channels;
  p->samples = std::move(s);
  return p;
}

struct Mixer {
  SmpVoice v[kSmpSlots];
  uint64_t serial = 1;
  float master_cur = 1, master = 1;
  std::vector<float> out;
  size_t start(std::shared_ptr<SmpSound> s, int32_t id, float gain, float pan, double rate,
               bool loop) {
    return smp_voice_start(v, serial, std::move(s), id, gain, pan, rate, loop, nullptr);
  }
  void mix(uint32_t n) {
    out.assign(2 * n, -99.f);
    smp_mix(v, kSmpSlots, master, master_cur, out.data(), n);
  }
  // Lets every gain reach its target before the frames under test.
  void settle(SmpVoice& x) {
    x.cur_ll = x.want_ll;
    x.cur_lr = x.want_lr;
    x.cur_rl = x.want_rl;
    x.cur_rr = x.want_rr;
  }
};

TEST(SamplerMix, PanLaws) {
  SmpVoice v;
  v.sound = sound({0}, 1);
  v.gain = 1;
  smp_voice_targets(v);
  EXPECT_NEAR(v.want_ll, 0.70710678f, 1e-6);
  EXPECT_NEAR(v.want_rr, 0.70710678f, 1e-6);
  v.pan = -3;  // clamped: all left
  smp_voice_targets(v);
  EXPECT_NEAR(v.want_ll, 1, 1e-6);
  EXPECT_NEAR(v.want_rr, 0, 1e-6);
  v.sound = sound({0, 0}, 2);
  v.pan = -0.5f;
  v.gain = 2;
  smp_voice_targets(v);
  EXPECT_FLOAT_EQ(v.want_ll, 2);
  EXPECT_FLOAT_EQ(v.want_rl, 0);
  EXPECT_NEAR(v.want_lr, 2 * std::cos(0.5f * 1.5707964f), 1e-6);
  EXPECT_NEAR(v.want_rr, 2 * std::sin(0.5f * 1.5707964f), 1e-6);
  v.pan = 1;
  v.gain = -1;  // negative gain is silence
  smp_voice_targets(v);
  EXPECT_EQ(v.want_ll + v.want_lr + v.want_rl + v.want_rr, 0);
}

TEST(SamplerMix, InterpolatesAndEndsOrWraps) {
  Mixer m;
  auto s = sound({0, 1, 2, 3}, 1);
  size_t a = m.start(s, 1, 1, -1, 0.5, false);  // all left
  m.settle(m.v[a]);
  m.mix(10);
  // Frames 0, 0.5, ..., 3.5: the last frame interpolates toward itself.
  const float want[] = {0, 0.5f, 1, 1.5f, 2, 2.5f, 3, 3, 0, 0};
  for (int i = 0; i < 10; ++i) {
    EXPECT_NEAR(m.out[2 * i], want[i], 1e-5) << i;
    EXPECT_NEAR(m.out[2 * i + 1], 0, 1e-6) << i;
  }
  EXPECT_FALSE(m.v[a].active);

  // Looping at rate 1.5 keeps the fraction; past the end it reads frame 0.
  size_t b = m.start(s, 2, 1, -1, 1.5, true);
  m.settle(m.v[b]);
  m.mix(6);
  // Positions 0, 1.5, 3, 4.5 -> 0.5, 2, 3.5 (halfway from frame 3 to frame 0).
  const float loop[] = {0, 1.5f, 3, 0.5f, 2, 1.5f};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(m.out[2 * i], loop[i], 1e-5) << i;
  EXPECT_TRUE(m.v[b].active);
  EXPECT_NEAR(m.v[b].pos, 5.0, 1e-9);
}

TEST(SamplerMix, GainsAndMasterGlide) {
  Mixer m;
  auto s = sound(std::vector<float>(4000, 1.0f), 1);
  size_t a = m.start(s, 1, 1, 0, 1, false);
  m.master = 0.5f;
  m.mix(1);
  // One glide step from 0 toward 0.7071 and from master 1 toward 0.5.
  float g = 0.70710678f * (1 - kSmpGlide);
  float mg = (1 - 0.5f) * kSmpGlide + 0.5f;
  EXPECT_NEAR(m.out[0], g * mg, 1e-6);
  EXPECT_NEAR(m.out[1], g * mg, 1e-6);
  m.mix(1024);
  m.mix(1024);
  EXPECT_NEAR(m.out[2 * 1023], 0.70710678f * 0.5f, 1e-4);
  // A release fades (never jumps) and frees the slot once decayed.
  smp_voice_release(m.v[a]);
  m.mix(64);
  EXPECT_LT(m.out[2 * 63], m.out[0]);
  EXPECT_GT(m.out[2 * 63], 0.2f);
  EXPECT_TRUE(m.v[a].active);
  m.mix(1024);
  m.mix(1024);
  m.mix(1024);
  EXPECT_FALSE(m.v[a].active);
}

TEST(SamplerMix, StereoMatrix) {
  Mixer m;
  size_t a = m.start(sound({0.5f, -0.25f, 0.5f, -0.25f}, 2), 1, 1, -1, 1, true);
  m.settle(m.v[a]);
  m.mix(2);
  // Hard left folds the right channel into the left.
  EXPECT_NEAR(m.out[0], 0.25f, 1e-5);
  EXPECT_NEAR(m.out[1], 0, 1e-5);
}

TEST(SamplerMix, VoiceStealing) {
  Mixer m;
  auto s = sound({0, 0}, 1);
  for (int i = 0; i < 32; ++i) m.start(s, i, 1, 0, 1, true);
  // The 33rd releases the oldest sounding voice and takes a free slot.
  size_t slot = m.start(s, 32, 1, 0, 1, true);
  EXPECT_EQ(slot, 32u);
  EXPECT_TRUE(m.v[0].releasing);
  EXPECT_FALSE(m.v[1].releasing);
  // Keep going until all 48 are busy: 32 sounding, 16 fading.
  for (int i = 33; i < 48; ++i) m.start(s, i, 1, 0, 1, true);
  int sounding = 0;
  for (auto& v : m.v) sounding += v.active && !v.releasing;
  EXPECT_EQ(sounding, 32);
  // Now the oldest slot of all is overwritten at once.
  slot = m.start(s, 99, 1, 0, 1, true);
  EXPECT_EQ(slot, 0u);
  EXPECT_EQ(m.v[0].id, 99);
  EXPECT_FALSE(m.v[0].releasing);
  EXPECT_EQ(m.v[0].cur_ll, 0);
}

}  // namespace

#include <cstdio>
#include <cstdint>
#include <string>

#include "audio/sampler_decode.h"

namespace {

// A 16-bit mono PCM WAV whose header claims `rate`, with `frames` of silence.
std::string wav_claiming(uint32_t rate, uint32_t frames) {
  auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto u16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
  std::string data(frames * 2, '\0');
  return "RIFF" + u32(36 + data.size()) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(rate) +
         u32(rate * 2) + u16(2) + u16(16) + "data" + u32(data.size()) + data;
}

}  // namespace

// A header may claim any rate; the decoder refuses impossible ones with a
// message instead of allocating for them, and still loads an ordinary file.
TEST(SamplerDecode, ImpossibleRatesAreRefused) {
  std::string path = testing::TempDir() + "ovalis-rate-test.wav";
  for (uint32_t rate : {1u, 999u, 5000000u}) {
    std::string bytes = wav_claiming(rate, 4000);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    SmpSound s;
    std::string error;
    EXPECT_FALSE(smp_decode(path, s, &error)) << rate;
    EXPECT_NE(error.find("impossible format"), std::string::npos) << error;
  }
  std::string bytes = wav_claiming(44100, 4410);
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  SmpSound s;
  std::string error;
  EXPECT_TRUE(smp_decode(path, s, &error)) << error;
  EXPECT_EQ(s.frames, 4800u);
  std::remove(path.c_str());
}
