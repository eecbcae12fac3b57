    // ------------------------------------------------------------------
    // macos: present everywhere, answered as unsupported off macOS
    // ------------------------------------------------------------------

    const macos = {
      applescript(source) {
        return call('macos.applescript', { source });
      },
      quickLook(paths) {
        return call('macos.quickLook', { paths });
      },
      ocr(path) {
        return call('macos.ocr', { path });
      },
      recorder: {
        start(opts) {
          return call('macos.recorder.start', opts ?? {});
        },
        stop() {
          return call('macos.recorder.stop');
        },
      },
      ai: {
        availability() {
          return call('macos.ai.availability');
        },
        generate(prompt, opts) {
          if (opts != null && opts.tools !== undefined) {
            console.warn('ovalis.macos.ai.generate: `tools` only works from the backend (app.macos.ai.generate) \u2014 ignored here');
          }
          return call('macos.ai.generate', { prompt, instructions: opts?.instructions });
        },
      },
      selectedText() {
        return call('macos.selectedText');
      },
      otherWindows() {
        return call('macos.otherWindows');
      },
      moveWindow(pid, rect) {
        return call('macos.moveWindow', { pid, ...(rect ?? {}) });
      },
    };

    ovalis.macos = macos;
