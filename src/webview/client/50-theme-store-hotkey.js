    // ------------------------------------------------------------------
    // ovalis.theme, ovalis.store, ovalis.hotkey
    // ------------------------------------------------------------------

    // Besides "theme", pages can follow the session's "sleep" and "wake"
    // events with ovalis.api.on.
    const theme = {
      get() {
        return call('theme.get');
      },
      on(fn) {
        return api.on('theme', (data) => fn(data?.dark));
      },
    };

    const store = {
      get(key) {
        return call('store.get', { key });
      },
      set(key, value) {
        return call('store.set', { key, value });
      },
      delete(key) {
        return call('store.delete', { key });
      },
      all() {
        return call('store.all');
      },
    };

    const hotkey = {
      register(id, combo) {
        return call('hotkey.register', { id, combo });
      },
      unregister(id) {
        return call('hotkey.unregister', { id });
      },
      on(fn) {
        return api.on('hotkey', (data) => fn(data?.id));
      },
    };
