    // ------------------------------------------------------------------
    // ovalis.clipboard
    // ------------------------------------------------------------------

    let clipWatching = false;

    const clipboard = {
      read() {
        return call('clip.read');
      },
      write(data) {
        return call('clip.write', data);
      },
      changeCount() {
        return call('clip.changeCount');
      },
      watch(intervalMs) {
        clipWatching = true;
        return call('clip.watch', { intervalMs });
      },
      unwatch() {
        clipWatching = false;
        return call('clip.unwatch');
      },
      // Change events only flow while a watch runs, so listening starts one.
      onChange(fn) {
        if (!clipWatching) quiet(window.ovalis.clipboard.watch());
        return api.on('clipboard-change', (data) => fn(data));
      },
    };
