    // ------------------------------------------------------------------
    // ovalis.win
    // ------------------------------------------------------------------

    const win = {
      // Read on every access: the native side sets the authoritative id when
      // the page's call token arrives.
      get id() {
        const id = window.__OVALIS_WIN;
        return typeof id === 'string' && id !== '' ? id : 'main';
      },
      open(id, opts = {}) {
        return call('win.open', { id, ...opts });
      },
      close(id) {
        return call('win.close', id == null ? {} : { id });
      },
      windows() {
        return call('win.windows');
      },
      setTitle(title) {
        return call('win.setTitle', { title });
      },
      setSize(width, height, opts) {
        return call('win.setSize', { width, height, units: opts?.units });
      },
      hide(opts) {
        return call('win.hide', opts ?? {});
      },
      show(opts) {
        return call('win.show', opts ?? {});
      },
      center() {
        return call('win.center');
      },
      minimize() {
        return call('win.minimize');
      },
      fullscreen() {
        return call('win.fullscreen');
      },
      setAlwaysOnTop(enabled) {
        return call('win.setAlwaysOnTop', { enabled });
      },
      setResizable(enabled) {
        return call('win.setResizable', { enabled });
      },
      setMinSize(width, height) {
        return call('win.setMinSize', { width, height });
      },
      setZoom(factor) {
        return call('win.setZoom', { factor });
      },
      setClickThrough(enabled) {
        return call('win.setClickThrough', { enabled });
      },
      setLevel(level) {
        return call('win.setLevel', { level });
      },
      setAllSpaces(enabled) {
        return call('win.setAllSpaces', { enabled });
      },
      setPosition(x, y, opts) {
        return call('win.setPosition', { x, y, screen: scrId(opts?.screen), units: opts?.units });
      },
      ensureOnScreen() {
        return call('win.ensureOnScreen');
      },
      restore() {
        return call('win.restore');
      },
      setFullscreen(enabled, opts) {
        return call('win.setFullscreen', { enabled, screen: scrId(opts?.screen) });
      },
      getState() {
        return call('win.getState');
      },
      onState(fn) {
        return api.on('window-state', (data) => fn(data));
      },
      setHideOnClose(enabled) {
        return call('win.setHideOnClose', { enabled });
      },
      setChrome(opts) {
        return call('win.setChrome', opts);
      },
      // With files this drags them out of the window; without, it moves
      // the window.
      startDrag(opts) {
        if (opts !== null && typeof opts === 'object' && 'files' in opts) {
          return call('win.dragOut', opts);
        }
        return call('win.startDrag');
      },
      startResize(edge) {
        return call('win.startResize', { edge });
      },
      dragOut(opts) {
        return call('win.dragOut', opts);
      },
      zoom() {
        return call('win.zoom');
      },
      print() {
        return call('win.print');
      },
      printToPDF(path) {
        return call('win.printToPDF', { path });
      },
      find(term, opts = {}) {
        const o = opts || {};
        return call('win.find', { term, forward: o.forward !== false, matchCase: !!o.matchCase });
      },
      stopFind() {
        return call('win.stopFind');
      },
      menu: {
        set(menus) {
          return call('win.menu.set', { menus });
        },
        reset() {
          return call('win.menu.reset');
        },
        update(id, patch = {}) {
          return call('win.menu.update', { id, ...patch });
        },
        get(id) {
          return call('win.menu.get', { id });
        },
      },
      onDrop(fn) {
        return api.on('drop', (data) => fn(data?.paths));
      },
      share(opts) {
        return call('win.share', opts ?? {});
      },
    };
