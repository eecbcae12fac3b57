    // ------------------------------------------------------------------
    // audio
    // ------------------------------------------------------------------

    // A filter chain built from Web Audio nodes, for hosts that cannot
    // equalize natively. Values move with a short exponential approach so
    // retuning never clicks; new nodes start at their values.
    function makePageChain(ctx) {
      const TAU = 0.015;
      const num = (v, dflt) => (typeof v === 'number' && isFinite(v) ? v : dflt);
      const input = ctx.createGain();
      const output = ctx.createGain();
      const bal = ctx.createGain();
      bal.channelCount = 2;
      bal.channelCountMode = 'explicit';
      const split = ctx.createChannelSplitter(2);
      const left = ctx.createGain();
      const right = ctx.createGain();
      const merge = ctx.createChannelMerger(2);
      bal.connect(split);
      split.connect(left, 0);
      split.connect(right, 1);
      left.connect(merge, 0, 0);
      right.connect(merge, 0, 1);
      merge.connect(output);
      input.connect(bal);

      let entries = [];
      let nodes = [];

      const glide = (param, value) => {
        param.cancelScheduledValues(ctx.currentTime);
        param.setTargetAtTime(value, ctx.currentTime, TAU);
      };
      const tune = (node, e, set) => {
        if (e.type === 'gain') {
          set(node.gain, num(e.gain, 1));
          return;
        }
        set(node.frequency, num(e.freq, 1000));
        set(node.Q, num(e.q, 1));
        set(node.gain, num(e.gain, 0));
      };
      const makeNode = (e) => {
        let node;
        if (e.type === 'gain') {
          node = ctx.createGain();
        } else {
          node = ctx.createBiquadFilter();
          node.type = e.type || 'peaking';
        }
        tune(node, e, (param, value) => { param.value = value; });
        return node;
      };

      const chain = {
        input,
        output,
        filters(list) {
          input.disconnect();
          for (const n of nodes) n.disconnect();
          entries = (Array.isArray(list) ? list : []).map((e) => Object.assign({}, e));
          nodes = entries.map(makeNode);
          let prev = input;
          for (const n of nodes) {
            prev.connect(n);
            prev = n;
          }
          prev.connect(bal);
          return true;
        },
        filter(i, patch) {
          const node = nodes[i];
          if (!node) return true;
          const p = patch ?? {};
          const e = entries[i];
          const retype = 'type' in p && (p.type || 'peaking') !== (e.type || 'peaking');
          Object.assign(e, p);
          if (retype) return chain.filters(entries);
          tune(node, e, glide);
          return true;
        },
        balance(v) {
          let b = Number(v);
          if (!isFinite(b)) b = 0;
          b = Math.max(-1, Math.min(1, b));
          glide(left.gain, b > 0 ? 1 - b : 1);
          glide(right.gain, b < 0 ? 1 + b : 1);
          return true;
        },
        clear() {
          chain.filters([]);
          chain.balance(0);
          return true;
        },
      };
      return chain;
    }

    // A voice of the native sampler.
    function voiceHandle(answer) {
      const id = answer == null ? undefined : answer.id;
      return {
        id,
        set(patch) {
          return call('sampler.set', { id, ...(patch ?? {}) });
        },
        stop() {
          return call('sampler.stop', { id });
        },
      };
    }

    const audio = {
      filters(list) {
        return call('audio.filters', { filters: list ?? [] });
      },
      filter(index, patch) {
        return call('audio.filterSet', { index, filter: patch ?? {} });
      },
      balance(v) {
        return call('audio.balance', { value: v });
      },
      clear() {
        quiet(call('audio.balance', { value: 0 }));
        return call('audio.filters', { filters: [] });
      },
      pageChain(ctx) {
        return makePageChain(ctx);
      },
      sampler: {
        load(name, source) {
          if (typeof source === 'string') {
            return call('sampler.load', { name: String(name), path: source });
          }
          if (!isBinary(source)) throw new Error('sampler.load: pass a path or an ArrayBuffer');
          return bytesOf(source).then((bytes) =>
            call('sampler.load', { name: String(name), bytesB64: b64encode(bytes) }));
        },
        play(name, opts = {}) {
          return call('sampler.play', { name: String(name), ...opts }).then(voiceHandle);
        },
        stopAll() {
          return call('sampler.stopAll');
        },
        master(v) {
          return call('sampler.master', { value: v });
        },
        unload(name) {
          return call('sampler.unload', { name: String(name) });
        },
      },
    };

    const audioTap = {
      start(opts = {}) {
        return call('audioTap.start', opts).then((r) => {
          if (!r || !r.ok) throw startError(r, 'audioTap: ');
          return true;
        });
      },
      stop() {
        return call('audioTap.stop');
      },
      on(fn) {
        return api.on('audio-tap', (data) => fn(data));
      },
    };

    ovalis.audio = audio;
    ovalis.audioTap = audioTap;
