    // ------------------------------------------------------------------
    // ovalis.menu (application menu), ovalis.tray
    // ------------------------------------------------------------------

    const menu = {
      set(menus) {
        return call('menu.set', { menus });
      },
      on(fn) {
        return api.on('menu', (data) => fn(data?.id));
      },
      update(id, patch = {}) {
        return call('menu.update', { id, ...patch });
      },
      get(id) {
        return call('menu.get', { id });
      },
      setContext(items) {
        return call('menu.setContext', { items });
      },
      onContext(fn) {
        return api.on('contextmenu', (data) => fn(data?.id));
      },
    };

    const tray = {
      set(spec) {
        return call('tray.set', spec);
      },
      remove() {
        return call('tray.remove');
      },
      position() {
        return call('tray.position');
      },
      on(fn) {
        return api.on('tray', (data) => fn(data?.id));
      },
      onClick(fn) {
        return api.on('trayclick', () => fn());
      },
    };
