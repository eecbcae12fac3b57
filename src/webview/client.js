// ovalis client script.
//
// Injected at document start into every top-level page, right after the page
// shim (which provides window.__invoke, window.__ovalisResolve,
// window.__OVALIS_WIN and window.__OVALIS_FRAMELESS). It builds the page API
// `window.ovalis`: namespaces whose methods become calls {method, params} to
// the backend, the event hub the backend pushes events through, a proxied
// fetch, URL helpers, a capability probe, drag regions and resize grips for
// frameless windows.
//
// Ground rules for this file:
//  * Every backend call is written literally as call('<name>', ...) and every
//    event helper as api.on('<event>', ...). The capability probe reads the
//    methods' own source text to learn which calls and events each one uses,
//    so those spellings (single quotes, no indirection) are load-bearing.
//  * A method that builds on another one refers to it as
//    window.ovalis.<path>(...) so that the probe can follow the reference.
//  * Nothing here may throw while the page loads, even when the bridge is
//    missing: calls then simply reject.
//  * Plain ES2020, no build step; the text is embedded in the launcher as is.
(function () {
  'use strict';

  // Runs once per document, even if injected twice.
  if (window.__ovalisClient) return;
  window.__ovalisClient = true;

  try {
    // ------------------------------------------------------------------
    // Calls
    // ------------------------------------------------------------------

    // One call to the backend. JSON.stringify drops undefined members, so a
    // call without params carries only "method", and optional members that
    // were not given never reach the wire.
    function call(method, params) {
      let payload;
      try {
        payload = JSON.stringify({ method, params });
      } catch (e) {
        // Cyclic or BigInt params: fail this call, never the caller's frame.
        return Promise.reject(e);
      }
      const invoke = window.__invoke;
      if (typeof invoke !== 'function') {
        return Promise.reject(new Error('ovalis: the native bridge is not available'));
      }
      try {
        return Promise.resolve(invoke(payload));
      } catch (e) {
        return Promise.reject(e);
      }
    }

    // A screen may be given as its id or as an entry of the screens list.
    function scrId(s) {
      return s !== null && typeof s === 'object' ? s.id : s;
    }

    // Fire-and-forget calls made by the script itself must not leave
    // unhandled rejections behind.
    function quiet(p) {
      if (p && typeof p.catch === 'function') p.catch(() => {});
      return p;
    }

    // ------------------------------------------------------------------
    // Bytes and Base64
    // ------------------------------------------------------------------

    const toStr = (v) => Object.prototype.toString.call(v);
    const isArrayBuffer = (v) => v instanceof ArrayBuffer || toStr(v) === '[object ArrayBuffer]';
    const isBlob = (v) => typeof Blob !== 'undefined' && v instanceof Blob;

    // Whether a value is binary data this script can send as Base64.
    function isBinary(v) {
      return v != null && (isArrayBuffer(v) || ArrayBuffer.isView(v) || isBlob(v));
    }

    // The bytes of an array buffer, of a typed array or data view (its own
    // window on the buffer only), or of a blob.
    async function bytesOf(v) {
      if (isArrayBuffer(v)) return new Uint8Array(v);
      if (ArrayBuffer.isView(v)) return new Uint8Array(v.buffer, v.byteOffset, v.byteLength);
      if (isBlob(v)) return new Uint8Array(await v.arrayBuffer());
      throw new TypeError('ovalis: not binary data');
    }

    // Standard Base64. The binary string is built 32768 bytes at a time to
    // stay clear of argument-count limits, and encoded in one go: encoding
    // each chunk separately would put padding in the middle of the output,
    // since 32768 is not a multiple of 3.
    function b64encode(bytes) {
      const CHUNK = 32768;
      let bin = '';
      for (let i = 0; i < bytes.length; i += CHUNK) {
        bin += String.fromCharCode.apply(null, bytes.subarray(i, i + CHUNK));
      }
      return btoa(bin);
    }

    function b64decode(text) {
      if (typeof text !== 'string' || text === '') return new Uint8Array(0);
      const bin = atob(text);
      const out = new Uint8Array(bin.length);
      for (let i = 0; i < bin.length; i++) out[i] = bin.charCodeAt(i);
      return out;
    }

    // ------------------------------------------------------------------
    // Event hub
    // ------------------------------------------------------------------

    const handlers = new Map(); // event name -> handler list, in order

    // A throwing handler must not stop the others, yet its error should
    // still surface as an uncaught error of the page.
    function reportHandlerError(err) {
      try {
        if (typeof window.reportError === 'function') {
          window.reportError(err);
          return;
        }
      } catch (_) { /* fall through to the timer */ }
      setTimeout(() => { throw err; }, 0);
    }

    const api = {
      call(method, params) {
        return call(method, params);
      },
      on(event, fn) {
        let list = handlers.get(event);
        if (!list) {
          list = [];
          handlers.set(event, list);
        }
        list.push(fn);
        return () => api.off(event, fn);
      },
      off(event, fn) {
        const list = handlers.get(event);
        if (!list) return;
        const i = list.indexOf(fn);
        if (i >= 0) list.splice(i, 1);
      },
    };

    function emit(msg) {
      if (msg === null || typeof msg !== 'object') return;
      const list = handlers.get(msg.event);
      if (!list || list.length === 0) return;
      // Handlers that subscribe or unsubscribe while we run must not change
      // who hears this event.
      const snapshot = list.slice();
      for (const fn of snapshot) {
        try {
          fn(msg.data);
        } catch (err) {
          reportHandlerError(err);
        }
      }
    }
    window.__emit = emit;

    // ------------------------------------------------------------------
    // Proxied fetch
    // ------------------------------------------------------------------

    let fetchCounter = 0; // unsigned 32-bit, wraps

    function plainHeaders(h) {
      if (h == null) return undefined;
      if (typeof Headers !== 'undefined' && h instanceof Headers) {
        const out = {};
        h.forEach((value, name) => { out[name] = value; });
        return out;
      }
      if (Array.isArray(h)) {
        const out = {};
        for (const pair of h) {
          if (pair && pair.length >= 2) out[String(pair[0])] = String(pair[1]);
        }
        return out;
      }
      return h;
    }

    // Statuses whose responses can never carry a body; the Response
    // constructor refuses one for them.
    const NULL_BODY_STATUS = [204, 205, 304];

    // A request carried out by the backend, free of the page's cross-origin
    // limits. Resolves to a real Response.
    async function ovalisFetch(url, init = {}) {
      const opts = init || {};
      fetchCounter = (fetchCounter + 1) >>> 0;
      const id = 'f' + fetchCounter;
      const stream = !!opts.stream;

      let bodyText;
      let bodyB64;
      const body = opts.body;
      if (body == null) {
        // no body
      } else if (typeof body === 'string') {
        bodyText = body;
      } else if (typeof URLSearchParams !== 'undefined' && body instanceof URLSearchParams) {
        bodyText = body.toString();
      } else if (isBinary(body)) {
        bodyB64 = b64encode(await bytesOf(body));
      } else {
        bodyText = String(body);
      }

      const head = await call('fetch', {
        url: String(url),
        id,
        stream,
        method: opts.method,
        headers: plainHeaders(opts.headers),
        redirect: opts.redirect,
        bodyText,
        bodyB64,
      });
      if (head === null || typeof head !== 'object') {
        throw new TypeError('ovalis.fetch: the backend gave no response');
      }

      const status = head.status;
      const init2 = { status, statusText: head.statusText, headers: head.headers };
      const nullBody = NULL_BODY_STATUS.indexOf(status) >= 0;
      let response;
      if (nullBody) {
        // Also for a non-streaming answer that carries an empty body text:
        // handing it to Response would throw for these statuses.
        response = new Response(null, init2);
      } else if (!stream) {
        response = new Response(head.bodyB64 == null ? null : b64decode(head.bodyB64), init2);
      } else {
        const rs = new ReadableStream({
          async pull(controller) {
            const chunk = await call('fetch.pull', { id });
            if (chunk === null || typeof chunk !== 'object') {
              // Without a chunk or an end mark the reader would pull forever.
              controller.error(new TypeError('ovalis.fetch: the backend gave no body chunk'));
            } else if (chunk.done === true) {
              controller.close();
            } else {
              controller.enqueue(b64decode(chunk.bodyB64));
            }
          },
          cancel() {
            return quiet(call('fetch.cancel', { id }));
          },
        }, { highWaterMark: 0 }); // pull only what the page reads
        response = new Response(rs, init2);
      }

      // Response.url and .redirected are read-only getters; report what the
      // backend saw rather than the empty defaults of a constructed Response.
      try {
        Object.defineProperty(response, 'url', { value: head.url == null ? '' : String(head.url), configurable: true });
        Object.defineProperty(response, 'redirected', { value: !!head.redirected, configurable: true });
      } catch (_) { /* keep the defaults */ }
      return response;
    }

    // ------------------------------------------------------------------
    // URL helpers
    // ------------------------------------------------------------------

    // Address of a remote http(s) resource through the launcher's media proxy:
    // its loopback HTTP address when the launcher gave one (media elements
    // play only from http), else the "ovalis-media" scheme.
    function proxyURL(url) {
      const base = typeof window.__OVALIS_MEDIA_BASE === 'string' ? window.__OVALIS_MEDIA_BASE
        : 'ovalis-media://proxy/';
      return base + '?u=' + encodeURIComponent(String(url));
    }

    // Volume of an absolute macOS path: "/Volumes/X", "/Network/X",
    // "/net/X", or "/" for the boot volume.
    function macVolume(p) {
      const parts = p.split('/');
      if (parts[1] === 'Volumes' || parts[1] === 'Network' || parts[1] === 'net') {
        return '/' + parts[1] + '/' + (parts[2] || '');
      }
      return '/';
    }

    const encodeComponents = (p) => p.split('/').map(encodeURIComponent).join('/');

    // A file URL for a local path (POSIX, Windows drive or UNC form).
    function fileURL(path) {
      let p = String(path);

      // On macOS a page may only load files from its own volume through
      // file:, other volumes go through the media scheme.
      if (p[0] === '/' && p[1] !== '/' && /Macintosh/.test(navigator.userAgent || '')) {
        let pageVolume = null;
        if (location.protocol === 'file:') {
          let pagePath = location.pathname;
          try { pagePath = decodeURIComponent(pagePath); } catch (_) { /* keep it encoded */ }
          pageVolume = macVolume(pagePath);
        }
        if (macVolume(p) !== pageVolume) {
          return 'ovalis-media://file' + encodeComponents(p);
        }
      }

      if (/^[A-Za-z]:[\\/]/.test(p) || p.startsWith('\\\\')) {
        p = p.replace(/\\/g, '/');
      }
      const network = p.startsWith('//');
      if (!network && p[0] !== '/') p = '/' + p;
      const encoded = encodeComponents(p).replace(/%3A/gi, ':');
      return (network ? 'file:' : 'file://') + encoded;
    }

    // ------------------------------------------------------------------
    // Top-level calls
    // ------------------------------------------------------------------

    function log(msg) {
      return call('log', { msg });
    }

    function quit() {
      return call('quit');
    }

    function notify(title, body, opts = {}) {
      return call('notify', { title, body, ...opts });
    }

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

    // ------------------------------------------------------------------
    // ovalis.dialog
    // ------------------------------------------------------------------

    // The options argument of alert, confirm and prompt. Checked before any
    // call is made, so a bad argument never opens a dialog.
    function dialogOptions(name, opts, detailString) {
      if (opts == null) return {};
      if (detailString && typeof opts === 'string') return { detail: opts };
      if (typeof opts === 'object' && !Array.isArray(opts)) return opts;
      throw new TypeError('ovalis.dialog.' + name + '(message, opts): opts must be an object' +
        (detailString ? ' or a detail string' : '') +
        ', got ' + (Array.isArray(opts) ? 'an array' : typeof opts));
    }

    const dialog = {
      openFile(opts = {}) {
        return call('dialog.openFile', { types: (opts || {}).types });
      },
      openFiles(opts = {}) {
        return call('dialog.openFiles', { types: (opts || {}).types });
      },
      pickFolder() {
        return call('dialog.pickFolder');
      },
      saveFile(opts = {}) {
        const o = opts || {};
        return call('dialog.saveFile', { types: o.types, name: o.name });
      },
      alert(message, opts) {
        return call('dialog.alert', { message, ...dialogOptions('alert', opts, true) });
      },
      confirm(message, opts) {
        return call('dialog.confirm', { message, ...dialogOptions('confirm', opts, true) });
      },
      prompt(message, opts) {
        return call('dialog.prompt', { message, ...dialogOptions('prompt', opts, false) });
      },
    };

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

    // ------------------------------------------------------------------
    // The namespace
    // ------------------------------------------------------------------

    const ovalis = {
      api,
      fetch: ovalisFetch,
      proxyURL,
      fileURL,
      log,
      quit,
      notify,
      win,
      menu,
      tray,
      dialog,
      theme,
      store,
      hotkey,
      clipboard,
    };

    // The platform namespaces (system, app, audio, audioTap, macos) follow,
    // written the same way. They must be in place before the capability
    // probe below walks the namespace.

    // ------------------------------------------------------------------
    // system
    // ------------------------------------------------------------------

    // Requirement answers are a list of {id, ok, feature, detail, install}.
    function requirementEntries(answer) {
      if (Array.isArray(answer)) return answer;
      if (answer && Array.isArray(answer.requirements)) return answer.requirements;
      return [];
    }

    // Where a word stands in a command as a word of its own: a package
    // named "a" must not be found inside "apt".
    function wordAt(command, word) {
      if (word === '') return -1;
      for (let at = command.indexOf(word); at >= 0; at = command.indexOf(word, at + 1)) {
        const before = at === 0 || /\s/.test(command[at - 1]);
        const end = at + word.length;
        const after = end === command.length || /\s/.test(command[end]);
        if (before && after) return at;
      }
      return -1;
    }

    // One command that installs every package: the manager's own command up
    // to where its first package is named, then all of them.
    function installCommand(manager, packages) {
      if (!manager || packages.length === 0) return '';
      const command = String(manager.command ?? '');
      const first = Array.isArray(manager.packages) ? manager.packages[0] : undefined;
      const at = first === undefined ? -1 : wordAt(command, String(first));
      if (at < 0) return command;
      return command.slice(0, at) + packages.join(' ');
    }

    const system = {
      os() {
        const ua = String((typeof navigator !== 'undefined' && navigator.userAgent) || '');
        if (/windows/i.test(ua)) return 'windows';
        if (/linux|x11/i.test(ua)) return 'linux';
        return 'macos';
      },
      isMacOS() {
        return window.ovalis.system.os() === 'macos';
      },
      isWindows() {
        return window.ovalis.system.os() === 'windows';
      },
      isLinux() {
        return window.ovalis.system.os() === 'linux';
      },
      info() {
        return call('system.info');
      },
      architecture() {
        return call('system.info').then((r) => (r == null ? undefined : r.arch));
      },
      capabilities() {
        return call('system.capabilities');
      },
      locale() {
        return call('system.locale');
      },
      battery() {
        return call('system.battery');
      },
      wifi() {
        return call('system.wifi');
      },
      idleTime() {
        return call('system.idleTime');
      },
      requirements(ids, opts = {}) {
        return call('system.requirements', { ids: ids ?? null, refresh: Boolean(opts && opts.refresh) });
      },
      missing(ids) {
        return call('system.requirements', { ids: ids ?? null })
          .then((r) => requirementEntries(r).filter((e) => e && !e.ok));
      },
      async promptMissing(ids, opts = {}) {
        const o = opts ?? {};
        const r = await call('system.requirements', { ids: ids ?? null });
        const missing = requirementEntries(r).filter((e) => e && !e.ok);
        if (missing.length === 0) return { missing: [], copied: false };

        const withInstall = missing.filter((e) => e.install && typeof e.install === 'object');
        const manager = withInstall.length > 0 ? withInstall[0].install : null;
        const packages = [];
        for (const e of withInstall) {
          for (const p of Array.isArray(e.install.packages) ? e.install.packages : []) {
            if (!packages.includes(p)) packages.push(p);
          }
        }
        const command = installCommand(manager, packages);

        let detail = missing.map((e) => '\u2022 ' + e.feature + ' \u2014 ' + e.detail).join('\n\n');
        if (command) detail += '\n\n' + command;
        let title;
        if (o.title != null) title = o.title;
        else if (missing.length === 1) title = missing[0].feature + ' needs a system package';
        else title = 'Some features need system packages';

        if (!command) {
          await call('dialog.alert', { message: title, detail });
          return { missing, copied: false };
        }
        const yes = await call('dialog.confirm', {
          message: title,
          detail,
          ok: o.ok ?? 'Copy install command',
          cancel: o.cancel ?? 'Not now',
        });
        if (!yes) return { missing, copied: false };
        try {
          const w = await call('clip.write', { text: command });
          return { missing, copied: !(w && w.ok === false) };
        } catch (_) {
          return { missing, copied: false };
        }
      },
    };

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

    ovalis.system = system;
    ovalis.app = app;
    ovalis.audio = audio;
    ovalis.audioTap = audioTap;
    ovalis.macos = macos;

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

    // ------------------------------------------------------------------
    // Capabilities
    // ------------------------------------------------------------------

    // Paths whose calls cannot be read from their source.
    const HAND_GIVEN = { fetch: ['fetch'], proxyURL: ['media.proxy'] };

    const CALL_RE = /\bcall\('([^'\\]+)'/g;
    const EVENT_RE = /\bapi\.on\('([^'\\]+)'/g;
    const REF_RE = /\bwindow\.ovalis\.([A-Za-z_$][\w$]*(?:\.[A-Za-z_$][\w$]*)*)\(/g;

    function matches(text, re) {
      const out = [];
      re.lastIndex = 0;
      let m;
      while ((m = re.exec(text)) !== null) out.push(m[1]);
      return out;
    }

    // Every function reachable from the namespace, by dotted path. Accessor
    // properties (win.id) are not read, and shared objects are visited once.
    function functionsOf(root) {
      const found = new Map();
      const seen = new Set([root]);
      const walk = (obj, prefix) => {
        for (const key of Object.keys(obj)) {
          if (prefix === '' && key === 'capabilities') continue;
          const d = Object.getOwnPropertyDescriptor(obj, key);
          if (!d || !('value' in d)) continue;
          const v = d.value;
          const path = prefix + key;
          if (typeof v === 'function') {
            found.set(path, v);
          } else if (v !== null && typeof v === 'object' && !seen.has(v)) {
            seen.add(v);
            walk(v, path + '.');
          }
        }
      };
      walk(root, '');
      return found;
    }

    // path -> {calls, events}: what each function uses, directly or through
    // the other namespace functions it refers to.
    function usesOf(root) {
      const direct = new Map();
      for (const [path, fn] of functionsOf(root)) {
        if (Object.prototype.hasOwnProperty.call(HAND_GIVEN, path)) {
          direct.set(path, { calls: HAND_GIVEN[path], events: [], refs: [] });
          continue;
        }
        let src = '';
        try { src = Function.prototype.toString.call(fn); } catch (_) { /* opaque */ }
        direct.set(path, {
          calls: matches(src, CALL_RE),
          events: matches(src, EVENT_RE),
          refs: matches(src, REF_RE).filter((r) => !r.startsWith('api.')),
        });
      }
      const uses = new Map();
      for (const path of direct.keys()) {
        const calls = new Set();
        const events = new Set();
        const visited = new Set();
        const visit = (p) => {
          if (visited.has(p)) return;
          visited.add(p);
          const d = direct.get(p);
          if (!d) return;
          d.calls.forEach((c) => calls.add(c));
          d.events.forEach((e) => events.add(e));
          d.refs.forEach(visit);
        };
        visit(path);
        uses.set(path, { calls: [...calls], events: [...events] });
      }
      return uses;
    }

    function makeCapabilities(root) {
      let uses = new Map();
      try { uses = usesOf(root); } catch (_) { /* every path stays unknown */ }
      const paths = [...uses.keys()].sort();
      const allCalls = new Set();
      const allEvents = new Set();
      for (const u of uses.values()) {
        u.calls.forEach((c) => allCalls.add(c));
        u.events.forEach((e) => allEvents.add(e));
      }

      let verdicts = null; // {calls, events} once the backend has answered

      const isObj = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);
      const own = (o, k) => (Object.prototype.hasOwnProperty.call(o, k) ? o[k] : undefined);

      // Each path's verdicts, calls first, then events.
      function verdictsFor(path) {
        const u = uses.get(path);
        return u.calls.map((c) => own(verdicts.calls, c))
          .concat(u.events.map((e) => own(verdicts.events, e)));
      }

      function works(path) {
        return verdicts !== null && uses.has(path) && verdictsFor(path).every((v) => v === true);
      }

      function working() {
        return verdicts === null ? [] : paths.filter(works);
      }

      function normalise(path) {
        const p = String(path);
        return p.startsWith('ovalis.') ? p.slice(7) : p;
      }

      function under(prefix) {
        return paths.filter((p) => p.startsWith(prefix + '.'));
      }

      function answerFor(path) {
        if (!uses.has(path)) return { ok: false, why: 'unknown' };
        if (verdicts === null) return { ok: false, why: 'pending' };
        const failing = verdictsFor(path).filter((v) => v !== true);
        if (failing.length === 0) return { ok: true };
        const gates = failing.filter((v) => v == null || (isObj(v) && v.why === 'gate'));
        if (gates.length > 0) {
          const needs = [];
          for (const g of gates) {
            const n = isObj(g) ? g.needs : undefined;
            for (const x of Array.isArray(n) ? n : [n]) {
              if (x !== undefined && x !== null && needs.indexOf(x) < 0) needs.push(x);
            }
          }
          return { ok: false, why: 'gate', needs };
        }
        const first = failing[0];
        return { ok: false, why: isObj(first) ? first.why : undefined, feature: isObj(first) ? first.feature : undefined };
      }

      async function refresh() {
        let answer;
        try {
          answer = await call('client.capabilities', { calls: [...allCalls], events: [...allEvents] });
        } catch (_) {
          return;
        }
        if (!isObj(answer)) return;
        // The verdicts come as {calls: {...}, events: {...}}; a flat map of
        // names is accepted too.
        const structured = isObj(answer.calls) || isObj(answer.events);
        const next = structured
          ? { calls: isObj(answer.calls) ? answer.calls : {}, events: isObj(answer.events) ? answer.events : {} }
          : { calls: answer, events: answer };
        const before = working();
        verdicts = next;
        const after = working();
        const added = after.filter((p) => before.indexOf(p) < 0);
        const removed = before.filter((p) => after.indexOf(p) < 0);
        if (added.length > 0 || removed.length > 0) {
          const hub = typeof window.__emit === 'function' ? window.__emit : emit;
          try { hub({ event: 'capabilities-change', data: { added, removed } }); } catch (_) { /* handlers report their own errors */ }
        }
      }

      let settle;
      const ready = new Promise((resolve) => { settle = () => resolve(); });
      setTimeout(settle, 3000);
      refresh().then(settle, settle);

      const capabilities = {
        can(path) {
          const p = normalise(path);
          if (p.endsWith('.*')) return under(p.slice(0, -2)).some(works);
          return works(p);
        },
        get(path) {
          let p = normalise(path);
          if (p.endsWith('.*')) {
            const prefix = p.slice(0, -2);
            const list = under(prefix);
            p = list.find(works) || list[0] || prefix;
          }
          return answerFor(p);
        },
        list() {
          return working();
        },
        onChange(fn) {
          return api.on('capabilities-change', (data) => fn(data));
        },
        refresh() {
          return refresh();
        },
      };
      Object.defineProperty(capabilities, 'ready', { value: ready, enumerable: true, writable: false, configurable: false });
      return capabilities;
    }

    window.ovalis = ovalis;

    // The backend learns of every (re)load of the page.
    quiet(call('client.hello'));

    try {
      ovalis.capabilities = makeCapabilities(ovalis);
    } catch (_) { /* the probe never breaks the page */ }

    // ------------------------------------------------------------------
    // Drag regions
    // ------------------------------------------------------------------

    // Elements that keep their own mouse behaviour inside a drag region.
    const NO_DRAG = 'button,a,input,textarea,select,[data-ovalis-nodrag],' +
      '[contenteditable]:not([contenteditable="false"])';

    window.addEventListener('mousedown', (e) => {
      if (e.button !== 0) return;
      let el = e.target;
      if (el && el.nodeType !== 1) el = el.parentElement;
      if (!el || typeof el.closest !== 'function') return;
      if (!el.closest('[data-ovalis-drag]')) return;
      if (el.closest(NO_DRAG) || el.isContentEditable) return;
      quiet(e.detail === 2 ? call('win.zoom') : call('win.startDrag'));
    });

    // ------------------------------------------------------------------
    // Resize grips for frameless windows
    // ------------------------------------------------------------------

    const GRIPS = [
      ['nw', 'nwse-resize', 'left:0;top:0;width:5px;height:5px'],
      ['ne', 'nesw-resize', 'right:0;top:0;width:5px;height:5px'],
      ['sw', 'nesw-resize', 'left:0;bottom:0;width:5px;height:5px'],
      ['se', 'nwse-resize', 'right:0;bottom:0;width:5px;height:5px'],
      ['n', 'ns-resize', 'left:5px;right:5px;top:0;height:5px'],
      ['s', 'ns-resize', 'left:5px;right:5px;bottom:0;height:5px'],
      ['w', 'ew-resize', 'top:5px;bottom:5px;left:0;width:5px'],
      ['e', 'ew-resize', 'top:5px;bottom:5px;right:0;width:5px'],
    ];

    function addGrips() {
      const body = document.body;
      if (!body) return;
      const root = document.documentElement;
      if ((root && root.hasAttribute('data-ovalis-noresize')) || body.hasAttribute('data-ovalis-noresize')) return;
      if (document.getElementById('__ovalisGrips')) return;
      const host = document.createElement('div');
      host.id = '__ovalisGrips';
      host.setAttribute('style', 'position:fixed;inset:0;z-index:2147483647;pointer-events:none');
      for (const [edge, cursor, place] of GRIPS) {
        const strip = document.createElement('div');
        strip.setAttribute('data-edge', edge);
        strip.setAttribute('style', 'position:absolute;pointer-events:auto;cursor:' + cursor + ';' + place);
        strip.addEventListener('mousedown', (e) => {
          if (e.button !== 0) return;
          e.preventDefault();
          e.stopPropagation();
          quiet(call('win.startResize', { edge }));
        });
        host.appendChild(strip);
      }
      body.appendChild(host);
    }

    if (typeof window.__OVALIS_FRAMELESS === 'boolean') {
      call('win.getState').then((state) => {
        if (!state || !state.chrome || state.chrome.frame !== false || state.resizable === false) return;
        if (document.body) {
          addGrips();
        } else {
          document.addEventListener('DOMContentLoaded', addGrips, { once: true });
        }
      }, () => {});
    }
  } catch (err) {
    try { console.error('ovalis: client script failed to start', err); } catch (_) { /* nothing left to do */ }
  }
})();
