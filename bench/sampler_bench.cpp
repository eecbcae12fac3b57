// The sampler's costs: mixing 32 voices into 1024-frame buffers (the mixer
// function alone), and decoding a 60 s MP3 into the bank's format.
//
//   sampler_bench [--buffers N]
#include <unistd.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/sampler_decode.h"
#include "audio/sampler_mix.h"

namespace {

// Processor time of this thread: on a shared machine the wall clock
// counts other programs' work too.
struct Clock {
  using time_point = double;
  static double now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
  }
};

double seconds_since(double t) { return Clock::now() - t; }

void bench_mix(int buffers) {
  auto mono = std::make_shared<SmpSound>();
  auto stereo = std::make_shared<SmpSound>();
  mono->channels = 1;
  stereo->channels = 2;
  for (int i = 0; i < 48000; ++i) {
    float x = static_cast<float>(std::rand()) / RAND_MAX - 0.5f;
    mono->samples.push_back(x);
    stereo->samples.push_back(x);
    stereo->samples.push_back(-x);
  }
  mono->frames = stereo->frames = 48000;
  std::vector<SmpVoice> voices(kSmpSlots);
  uint64_t serial = 1;
  // Half mono, half stereo, odd rates so interpolation always runs, all looping.
  for (int i = 0; i < 32; ++i)
    smp_voice_start(voices.data(), serial, i % 2 ? stereo : mono, i, 0.5f, (i % 5 - 2) * 0.4f,
                    0.75 + 0.05 * i, true, nullptr);
  std::vector<float> out(2 * kSmpMaxFrames);
  float master_cur = 1;
  for (int i = 0; i < 20; ++i)
    smp_mix(voices.data(), voices.size(), 0.9f, master_cur, out.data(), kSmpMaxFrames);
  auto t = Clock::now();
  for (int i = 0; i < buffers; ++i)
    smp_mix(voices.data(), voices.size(), 0.9f, master_cur, out.data(), kSmpMaxFrames);
  double s = seconds_since(t);
  double frames = static_cast<double>(buffers) * kSmpMaxFrames;
  double ns = s * 1e9 / frames;
  std::printf("mix   32 voices, %d buffers of %u frames: %.2f ns per output frame, %.3f%% of one core at 48 kHz\n",
              buffers, kSmpMaxFrames, ns, ns * 48000 / 1e9 * 100);
  // Keeps the result observable.
  if (out[0] == 12345.f) std::puts("");
}

void bench_decode() {
  char dir[] = "/tmp/ovalis-bench-XXXXXX";
  if (!mkdtemp(dir)) return;
  std::string mp3 = std::string(dir) + "/60s.mp3";
  std::string cmd = "sox -q -n -r 44100 -c 2 '" + mp3 + "' synth 60 sine 440 sine 660";
  if (std::system(cmd.c_str()) != 0) {
    std::puts("decode: sox could not make the test file; skipped");
    return;
  }
  SmpSound s;
  std::string err;
  auto t = Clock::now();
  bool ok = smp_decode(mp3, s, &err);
  double sec = seconds_since(t);
  if (ok)
    std::printf("decode 60 s MP3 (44.1 kHz stereo, resampled to 48 kHz): %.3f s, %.0fx real time\n",
                sec, 60 / sec);
  else
    std::printf("decode failed: %s\n", err.c_str());
  std::remove(mp3.c_str());
  rmdir(dir);
}

}  // namespace

int main(int argc, char** argv) {
  int buffers = 20000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--buffers") == 0) buffers = std::atoi(argv[i + 1]);
  bench_mix(buffers);
  bench_decode();
  return 0;
}
