    // ------------------------------------------------------------------
    // In-page sampler host
    // ------------------------------------------------------------------

    // For hosts that mix sound effects in the page. This host mixes natively
    // and never calls it, but pages may rely on it being there.
    window.__ovalisSampler = (function () {
      const MAX_VOICES = 32;
      let ctx = null;
      let masterGain = null;
      let masterValue = 1;
      let order = 0;
      const buffers = new Map(); // name -> AudioBuffer
      const voices = new Map(); // id -> {name, src, gain, pan, order}

      function context() {
        if (!ctx) {
          const AC = window.AudioContext || window.webkitAudioContext;
          ctx = new AC();
          masterGain = ctx.createGain();
          masterGain.gain.value = masterValue;
          masterGain.connect(ctx.destination);
        }
        if (ctx.state === 'suspended') {
          try { quiet(ctx.resume()); } catch (_) { /* resumed on a later use */ }
        }
        return ctx;
      }
      const glide = (param, value, tau) => {
        param.cancelScheduledValues(ctx.currentTime);
        param.setTargetAtTime(value, ctx.currentTime, tau);
      };
      function fadeOut(id, v) {
        voices.delete(id);
        glide(v.gain.gain, 0, 0.005);
        try { v.src.stop(ctx.currentTime + 0.05); } catch (_) { /* already stopped */ }
      }
      async function bytesFromBridge(name) {
        const r = await call('sampler.bytes', { name });
        return b64decode(r && r.b64).buffer;
      }

      return {
        async load(name, path) {
          try {
            const c = context();
            let data;
            try {
              const res = await fetch(fileURL(path));
              if (!res.ok) throw new Error('HTTP ' + res.status);
              data = await res.arrayBuffer();
            } catch (_) {
              data = await bytesFromBridge(name);
            }
            const buf = await c.decodeAudioData(data);
            buffers.set(name, buf);
            quiet(call('sampler.hostResult', { name, ok: true }));
          } catch (e) {
            quiet(call('sampler.hostResult', { name, ok: false, error: String(e && e.message || e) }));
          }
        },
        play(id, name, vol, pan, rate, loop) {
          const buf = buffers.get(name);
          if (!buf) return;
          const c = context();
          while (voices.size >= MAX_VOICES) {
            let oldestId = null;
            let oldest = null;
            for (const [vid, v] of voices) {
              if (!oldest || v.order < oldest.order) { oldest = v; oldestId = vid; }
            }
            fadeOut(oldestId, oldest);
          }
          const src = c.createBufferSource();
          src.buffer = buf;
          src.playbackRate.value = typeof rate === 'number' ? rate : 1;
          src.loop = Boolean(loop);
          const gain = c.createGain();
          gain.gain.value = typeof vol === 'number' ? vol : 1;
          const panner = c.createStereoPanner();
          panner.pan.value = typeof pan === 'number' ? pan : 0;
          src.connect(gain);
          gain.connect(panner);
          panner.connect(masterGain);
          const voice = { name, src, gain, pan: panner, order: ++order };
          voices.set(id, voice);
          src.onended = () => {
            if (voices.get(id) === voice) voices.delete(id);
          };
          src.start();
        },
        set(id, vol, pan, rate) {
          const v = voices.get(id);
          if (!v) return;
          if (vol != null) glide(v.gain.gain, vol, 0.005);
          if (pan != null) glide(v.pan.pan, pan, 0.005);
          if (rate != null) v.src.playbackRate.value = rate;
        },
        stop(id) {
          const v = voices.get(id);
          if (v) fadeOut(id, v);
        },
        stopAll() {
          for (const [id, v] of [...voices]) fadeOut(id, v);
        },
        master(v) {
          masterValue = v;
          if (ctx) glide(masterGain.gain, v, 0.005);
        },
        unload(name) {
          buffers.delete(name);
          for (const [id, v] of [...voices]) {
            if (v.name !== name) continue;
            voices.delete(id);
            try { v.src.stop(); } catch (_) { /* already stopped */ }
          }
        },
      };
    })();
