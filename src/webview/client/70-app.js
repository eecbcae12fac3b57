    // ------------------------------------------------------------------
    // app
    // ------------------------------------------------------------------

    // Start calls answer {ok, code, message}; anything but a truthy "ok" is
    // an error carrying the answer's code.
    function startError(answer, prefix) {
      const code = (answer && answer.code) || 'failed';
      const err = new Error((answer && answer.message) || prefix + code);
      err.code = code;
      return err;
    }

    const app = {
      info() {
        return call('app.info');
      },
      onOpenUrl(fn) {
        return api.on('open-url', (data) => fn(data?.url));
      },
      onOpenFiles(fn) {
        return api.on('open-files', (data) => fn(data?.paths));
      },
      onNotificationClick(fn) {
        return api.on('notification-click', (data) => fn(data?.id));
      },
      onNotificationAction(fn) {
        return api.on('notification-action', (data) => fn(data));
      },
      update: {
        check() {
          return call('update.check');
        },
        install() {
          return call('update.install');
        },
      },
      keystroke(combo) {
        return call('app.keystroke', { combo });
      },
      paste() {
        return call('app.paste');
      },
      permissions: {
        check(name) {
          return call('perm.check', { name });
        },
        request(name) {
          return call('perm.request', { name });
        },
      },
      mousePosition() {
        return call('app.mouse');
      },
      mouseTracking: {
        start() {
          return call('app.mouseTracking.start').then((r) => {
            if (!r || !r.ok) throw startError(r, 'mouseTracking: ');
            return Object.assign({}, r, { ok: true });
          });
        },
        stop() {
          return call('app.mouseTracking.stop');
        },
      },
      screens() {
        return call('app.screens');
      },
      screenAt(x, y) {
        return call('app.screenAt', { x, y });
      },
      screenFor(rect) {
        return call('app.screenFor', { rect });
      },
      foregroundScreen() {
        return call('app.foregroundScreen');
      },
      matchScreen(saved) {
        return call('app.matchScreen', { saved });
      },
      onScreensChanged(fn) {
        return api.on('screens-changed', (data) => fn(data));
      },
      paths() {
        return call('app.paths');
      },
      setAsDefaultHandler(ext) {
        return call('app.setAsDefaultHandler', { ext });
      },
      shell: {
        open(target) {
          return call('shell.open', { target });
        },
        reveal(path) {
          return call('shell.reveal', { path });
        },
        trash(path) {
          return call('shell.trash', { path });
        },
      },
      launchAtLogin: {
        get() {
          return call('login.get');
        },
        set(enabled) {
          return call('login.set', { enabled });
        },
      },
      badge(text) {
        return call('app.badge', { text });
      },
      attention(opts) {
        return call('app.attention', opts ?? {});
      },
      icon(path) {
        return call('app.icon', { path });
      },
      progress(value) {
        return call('app.progress', { value });
      },
      presence(mode) {
        return call('app.presence', { mode });
      },
      power: {
        preventSleep(reason, opts) {
          return call('power.prevent', { reason, ...opts });
        },
        allowSleep() {
          return call('power.allow');
        },
      },
      frontmostApp() {
        return call('app.frontmost');
      },
      spotlight(query) {
        return call('app.spotlight', { query });
      },
      beep() {
        return call('sound.play', {});
      },
      playSound(target) {
        return call('sound.play', { target });
      },
      captureScreen(screenId) {
        return call('app.captureScreen', { screenId });
      },
      pickColor() {
        return call('app.pickColor');
      },
      thumbnail(path, size) {
        return call('app.thumbnail', { path, size });
      },
      secrets: {
        get(key) {
          return call('secrets.get', { key });
        },
        set(key, value) {
          return call('secrets.set', { key, value });
        },
        delete(key) {
          return call('secrets.delete', { key });
        },
      },
      authenticate(reason) {
        return call('app.authenticate', { reason });
      },
      nowPlaying: {
        set(info) {
          return call('nowplaying.set', info ?? {});
        },
        clear() {
          return call('nowplaying.clear');
        },
      },
      onMediaKey(fn) {
        return api.on('media-key', (data) => fn(data));
      },
      say(text, opts) {
        return call('app.say', { text, ...(opts ?? {}) });
      },
      stopSpeaking() {
        return call('app.stopSpeaking');
      },
      voices() {
        return call('app.voices');
      },
    };

    ovalis.app = app;
