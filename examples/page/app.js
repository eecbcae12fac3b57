// @ts-check
// ovalis demo page: one panel per subsystem. Every button is one call
// through window.ovalis to the demo backend, which carries it to the
// launcher; the panel shows whatever answer comes back, a refusal such as
// "... is not available in this build" included. Values are always shown as
// text, never as markup.
(function () {
  'use strict';

  /** @type {(sel: string) => HTMLElement} */
  const $ = (sel) => document.querySelector(sel);
  /** @type {(tag: string, cls?: string | null, text?: string) => HTMLElement} */
  const el = (tag, cls, text) => {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  };

  // ---- log -------------------------------------------------------------------

  const logEl = $('#log');
  const MAX_LOG = 200;

  function show(value) {
    if (value === undefined) return 'undefined';
    if (value instanceof Error) return value.message;
    try {
      return JSON.stringify(value);
    } catch (_) {
      return String(value);
    }
  }

  // kind: "ok", "err" or "info".
  function log(kind, what, value) {
    const li = el('li', kind);
    const mark = kind === 'ok' ? '✓' : kind === 'err' ? '✗' : '•';
    li.append(el('span', 'time', new Date().toLocaleTimeString([], { hour12: false })),
      el('span', 'mark', mark));
    const body = el('span');
    body.appendChild(el('span', 'what', what));
    if (arguments.length > 2) {
      const v = el('span', 'value mono', show(value));
      v.title = v.textContent;
      body.appendChild(v);
    }
    li.appendChild(body);
    logEl.prepend(li);
    while (logEl.children.length > MAX_LOG) logEl.lastElementChild.remove();
  }
  $('#clear-log').addEventListener('click', () => { logEl.textContent = ''; });

  if (!window.ovalis) {
    $('#no-bridge').hidden = false;
    log('err', 'window.ovalis is missing');
    return;
  }
  const ovalis = window.ovalis;
  const call = (method, params) => ovalis.api.call(method, params);

  // ---- header ------------------------------------------------------------------

  $('#win-id').textContent = ovalis.win.id;
  function applyTheme(dark) {
    document.documentElement.dataset.theme = dark ? 'dark' : 'light';
    $('#theme-name').textContent = dark ? 'dark' : 'light';
  }
  ovalis.theme.on((dark) => applyTheme(dark));
  const tickDot = $('#tick-dot');
  ovalis.api.on('tick', (data) => {
    $('#tick-n').textContent = String(data && data.n);
    tickDot.classList.add('live');
    tickDot.classList.remove('beat');
    void tickDot.offsetWidth;
    tickDot.classList.add('beat');
  });
  ovalis.api.on('windows', (data) => {
    const list = data && Array.isArray(data.windows) ? data.windows : [];
    $('#windows-list').textContent = list.length ? list.join(', ') : 'none';
  });

  // ---- panels --------------------------------------------------------------------

  // An answer that reports failure without rejecting: {"ok":false,...} or
  // {"status":"unsupported"}.
  const refused = (v) => v !== null && typeof v === 'object' &&
    (v.ok === false || v.status === 'unsupported');

  const withTimeout = (p, ms) => Promise.race([p, new Promise((_, reject) =>
    setTimeout(() => reject(new Error('no answer within ' + ms / 1000 + ' s')), ms))]);

  // Each panel: id, title, blurb, actions ([label, fn, inTour]), and an
  // optional setup(card, note) that subscribes to the panel's events.
  /**
   * @typedef {[string, () => unknown, boolean?]} Action label, what it calls, whether the tour runs it
   * @typedef {(kind: string, what: string, value: unknown) => void} Say
   * @typedef {{id: string, title: string, blurb: string, actions: Action[],
   *   setup?: (card: HTMLElement, say: Say) => void}} Panel
   */
  /** @type {Panel[]} */
  const panels = [];
  const cards = {};
  let paths = { tmp: '/tmp', page: '', sample: '' };

  function note(panel, kind, what, value) {
    const ul = cards[panel].answers;
    const li = el('li', kind);
    li.append(el('span', 'mark', kind === 'ok' ? '✓' : kind === 'err' ? '✗' : '•'),
      el('span', 'what', what));
    const v = el('span', 'value', show(value));
    v.title = v.textContent;
    li.appendChild(v);
    ul.prepend(li);
    while (ul.children.length > 9) ul.lastElementChild.remove();
  }

  async function perform(panel, label, fn) {
    try {
      const value = await withTimeout(Promise.resolve().then(fn), 10000);
      const kind = refused(value) ? 'err' : 'ok';
      note(panel, kind, label, value);
      log(kind, panel + ': ' + label, value);
      return value;
    } catch (err) {
      const v = err && err.message !== undefined ? err.message : err;
      note(panel, 'err', label, v);
      log('err', panel + ': ' + label, v);
      return undefined;
    }
  }

  /** @type {HTMLInputElement | null} */
  let titleInput = null;

  const demoMenus = [
    { title: 'File', items: [
      { id: 'new-window', label: 'New Window', key: 'Shift+N' },
      { id: 'close-window', label: 'Close Window', key: 'W' },
      { separator: true },
      { id: 'quit', label: 'Quit', key: 'Q' }] },
    { title: 'View', items: [
      { id: 'ticks', label: 'Show Ticks', checked: true },
      { id: 'reload', label: 'Reload', key: 'R' },
      { id: 'more', label: 'More', submenu: [{ id: 'about', label: 'About ovalis' }] }] },
  ];

  panels.push({
    id: 'windows', title: 'Windows', blurb: 'Window list, state, screens and window operations.',
    actions: [
      ['Window list', () => ovalis.win.windows(), true],
      ['State', () => ovalis.win.getState(), true],
      ['Screens', () => ovalis.app.screens(), true],
      ['Set title', () => ovalis.win.setTitle(titleInput ? titleInput.value : 'ovalis demo · windows'), true],
      ['Open second window', () => ovalis.win.open('second', { title: 'Second window', width: 720, height: 480 })],
      ['Close second window', () => ovalis.win.close('second')],
      ['Center', () => ovalis.win.center()],
      ['Maximize', () => ovalis.win.zoom()],
      ['Fullscreen', () => ovalis.win.fullscreen()],
      ['Minimize', () => ovalis.win.minimize()],
      ['Always on top', () => ovalis.win.setAlwaysOnTop(true)],
    ],
    setup(card, say) {
      // The title "Set title" gives the window.
      const row = el('div', 'row');
      titleInput = /** @type {HTMLInputElement} */ (el('input'));
      titleInput.id = 'win-title';
      titleInput.setAttribute('aria-label', 'Window title');
      titleInput.value = 'ovalis demo · windows';
      row.appendChild(titleInput);
      card.insertBefore(row, card.querySelector('.buttons'));
      ovalis.win.onState((data) => say('info', 'window-state', data));
    },
  });

  panels.push({
    id: 'menus', title: 'Menus & tray', blurb: 'Menu bar, live item state, tray indicator and context menu.',
    actions: [
      ['Set menu bar', () => ovalis.menu.set(demoMenus), true],
      ['Uncheck "Show Ticks"', () => ovalis.menu.update('ticks', { checked: false }), true],
      ['Read item "ticks"', () => ovalis.menu.get('ticks'), true],
      ['Set tray', () => ovalis.tray.set({ title: 'ovalis demo', tooltip: 'ovalis demo', primaryAction: 'show',
        menu: [{ id: 'show', label: 'Show window' }, { separator: true }, { id: 'quit', label: 'Quit' }] }), true],
      ['Context menu', () => ovalis.menu.setContext([{ id: 'hello', label: 'Say Hello' },
        { separator: true }, { role: 'copy' }]), true],
      ['Default context menu', () => ovalis.menu.setContext(null)],
      ['Remove tray', () => ovalis.tray.remove()],
    ],
    setup(card, say) {
      const last = (from) => (id) => { $('#menu-last').textContent = String(id); say('info', from, id); };
      ovalis.menu.on(last('menu'));
      ovalis.menu.onContext(last('context menu'));
      ovalis.tray.on(last('tray'));
      ovalis.tray.onClick(() => say('info', 'tray click', null));
    },
  });

  panels.push({
    id: 'dialogs', title: 'Dialogs & downloads', blurb: 'Native dialogs, downloads, find in page, print and PDF.',
    actions: [
      ['Download a file', () => {
        const a = /** @type {HTMLAnchorElement} */ (el('a'));
        a.href = URL.createObjectURL(new Blob(['hello from the ovalis demo\n'], { type: 'text/plain' }));
        a.download = 'ovalis-demo.txt';
        document.body.appendChild(a);
        a.click();
        a.remove();
        return 'download asked for; progress arrives as events';
      }, true],
      ['Find "panel"', () => ovalis.win.find('panel'), true],
      ['Stop find', () => ovalis.win.stopFind(), true],
      ['Print to PDF', () => ovalis.win.printToPDF(paths.tmp + '/ovalis-demo.pdf'), true],
      ['Cookies', () => call('demo.cookies', { op: 'get' }), true],
      ['Open file…', () => ovalis.dialog.openFile({ types: ['txt', 'md', 'html'] })],
      ['Open files…', () => ovalis.dialog.openFiles()],
      ['Pick folder…', () => ovalis.dialog.pickFolder()],
      ['Save file…', () => ovalis.dialog.saveFile({ types: ['txt'], name: 'notes.txt' })],
      ['Alert', () => ovalis.dialog.alert('Hello from the backend', 'Dialogs are native.')],
      ['Confirm', () => ovalis.dialog.confirm('Proceed?', { detail: 'Two lines\nof detail', ok: 'Go', cancel: 'Stay' })],
      ['Prompt', () => ovalis.dialog.prompt('Your name?', { value: 'ovalis' })],
      ['Print…', () => ovalis.win.print()],
    ],
    setup(card, say) {
      ovalis.api.on('download', (d) => say(d && d.state === 'failed' ? 'err' : 'info', 'download ' + (d && d.state), d));
    },
  });

  panels.push({
    id: 'clipboard', title: 'Clipboard', blurb: 'Write, read, change counter and change events.',
    actions: [
      ['Write text', () => ovalis.clipboard.write({ text: 'copied by the ovalis demo', html: '<b>copied</b>' }), true],
      ['Read', () => ovalis.clipboard.read(), true],
      ['Change count', () => ovalis.clipboard.changeCount(), true],
      ['Watch', () => ovalis.clipboard.watch(500), true],
      ['Stop watching', () => ovalis.clipboard.unwatch()],
    ],
    setup(card, say) {
      ovalis.api.on('clipboard-change', (d) => say('info', 'clipboard-change', d));
    },
  });

  panels.push({
    id: 'notifications', title: 'Notifications', blurb: 'Desktop notifications, launcher badge, progress and attention.',
    actions: [
      ['Notify', () => ovalis.notify('Hello', 'From the ovalis demo', { subtitle: 'Notifications panel',
        actions: [{ id: 'reply', title: 'Reply' }] }), true],
      ['Badge 3', () => ovalis.app.badge('3'), true],
      ['Progress 40 %', () => ovalis.app.progress(0.4), true],
      ['Attention', () => ovalis.app.attention(), true],
      ['Clear badge', () => ovalis.app.badge('')],
      ['Clear progress', () => ovalis.app.progress(-1)],
    ],
    setup(card, say) {
      ovalis.api.on('notification', (d) => say('info', 'notification', d));
    },
  });

  panels.push({
    id: 'power', title: 'Power', blurb: 'Sleep inhibition, battery, idle time and sleep events.',
    actions: [
      ['Prevent sleep', () => ovalis.app.power.preventSleep('demo is running', { display: true }), true],
      ['Battery', () => ovalis.system.battery(), true],
      ['Idle time', () => ovalis.system.idleTime(), true],
      ['Allow sleep', () => ovalis.app.power.allowSleep(), true],
    ],
    setup(card, say) {
      ovalis.api.on('power', (d) => say('info', 'power', d));
    },
  });

  panels.push({
    id: 'secrets', title: 'Secrets', blurb: 'The desktop keyring through the Secret Service.',
    actions: [
      ['Set "token"', () => ovalis.app.secrets.set('token', 's3cret-' + Date.now()), true],
      ['Get "token"', () => ovalis.app.secrets.get('token'), true],
      ['Delete "token"', () => ovalis.app.secrets.delete('token'), true],
      ['Get after delete', () => ovalis.app.secrets.get('token'), true],
    ],
  });

  panels.push({
    id: 'shell', title: 'Shell', blurb: 'Open, reveal, trash and start at login.',
    actions: [
      ['Start at login?', () => ovalis.app.launchAtLogin.get(), true],
      ['Trash a scratch file', async () => ovalis.app.shell.trash((await call('demo.scratch', {})).path), true],
      ['Open a missing file', () => ovalis.app.shell.open('/no/such/file.txt'), true],
      ['Enable start at login', () => ovalis.app.launchAtLogin.set(true)],
      ['Disable start at login', () => ovalis.app.launchAtLogin.set(false)],
      ['Reveal the page', () => ovalis.app.shell.reveal(paths.page)],
      ['Open the project site', () => ovalis.app.shell.open('https://example.org/')],
    ],
  });

  // Renders one second of a 100 Hz and a 4 kHz tone offline, once plain and
  // once through the page's own filter chain with a low-shelf cut, and
  // compares the levels: the chain runs in the page, no backend involved.
  async function pageChainLevels() {
    const render = async (filters) => {
      const ctx = new OfflineAudioContext(2, 48000, 48000);
      const chain = ovalis.audio.pageChain(ctx);
      chain.filters(filters);
      for (const f of [100, 4000]) {
        const o = ctx.createOscillator();
        o.frequency.value = f;
        o.connect(chain.input);
        o.start();
      }
      chain.output.connect(ctx.destination);
      const d = (await ctx.startRendering()).getChannelData(0);
      let sum = 0;
      for (let i = 4800; i < d.length; i++) sum += d[i] * d[i];
      return Math.sqrt(sum / (d.length - 4800));
    };
    const plain = await render([]);
    const cut = await render([{ type: 'lowshelf', freq: 400, gain: -24 }]);
    return { plainRms: +plain.toFixed(3), cutRms: +cut.toFixed(3), db: +(20 * Math.log10(cut / plain)).toFixed(1) };
  }

  panels.push({
    id: 'audio', title: 'Audio', blurb: 'Sounds, speech, equalizer, sampler, audio tap and now playing.',
    actions: [
      ['Beep', () => ovalis.app.beep(), true],
      ['Voices', () => ovalis.app.voices(), true],
      ['Equalizer: bass cut', () => ovalis.audio.filters([{ type: 'lowshelf', freq: 200, q: 0.7, gain: -6 }]), true],
      ['Now playing', () => ovalis.app.nowPlaying.set({ title: 'Demo tune', artist: 'ovalis', album: 'Panels',
        duration: 180, elapsed: 12, playing: true }), true],
      ['Audio tap', () => ovalis.audioTap.start({ scope: 'app', interval: 200 }), true],
      ['Stop tap', () => ovalis.audioTap.stop(), true],
      ['Load sample', () => ovalis.audio.sampler.load('sample', paths.sample), true],
      ['Play sample', () => ovalis.audio.sampler.play('sample', { vol: 0.8 }), true],
      ['Say hello', () => ovalis.app.say('Hello from the ovalis demo')],
      ['Stop speaking', () => ovalis.app.stopSpeaking()],
      ['Clear equalizer', () => ovalis.audio.clear()],
      ['Clear now playing', () => ovalis.app.nowPlaying.clear()],
      ['Page filter chain', () => pageChainLevels(), true],
      ['Platform', () => ({ os: ovalis.system.os(), linux: ovalis.system.isLinux() }), true],
    ],
    setup(card, say) {
      ovalis.app.onMediaKey((d) => say('info', 'media-key', d));
      let chunks = 0;
      ovalis.audioTap.on(() => {
        chunks += 1;
        if (chunks % 25 === 1) say('info', 'audio-tap chunks', chunks);
      });
    },
  });

  panels.push({
    id: 'hotkeys', title: 'Hotkeys', blurb: 'Global hotkeys, synthetic keystrokes and the pointer.',
    actions: [
      ['Register Ctrl+Alt+D', () => ovalis.hotkey.register('demo', 'ctrl+alt+d'), true],
      ['Press Ctrl+Alt+D', () => ovalis.app.keystroke('ctrl+alt+d'), true],
      ['Pointer', () => ovalis.app.mousePosition(), true],
      ['Unregister', () => ovalis.hotkey.unregister('demo'), true],
      ['Track the pointer', () => ovalis.app.mouseTracking.start()],
      ['Stop tracking', () => ovalis.app.mouseTracking.stop()],
    ],
    setup(card, say) {
      ovalis.hotkey.on((id) => say('info', 'hotkey', id));
    },
  });

  panels.push({
    id: 'capture', title: 'Capture', blurb: 'Screen capture and colour picking.',
    actions: [
      ['Capture the screen', async () => {
        const r = await ovalis.app.captureScreen();
        if (r && r.ok && r.path) showImage('capture', r.path);
        return r;
      }, true],
      ['Pick a colour', () => ovalis.app.pickColor()],
    ],
  });

  panels.push({
    id: 'search', title: 'Thumbnails & search', blurb: 'Image thumbnails and file search.',
    actions: [
      ['Thumbnail', async () => {
        const r = await ovalis.app.thumbnail(paths.sampleImage, 128);
        if (r && r.ok && r.path) showImage('search', r.path);
        return r;
      }, true],
      ['Search "index.html"', () => ovalis.app.spotlight('index.html'), true],
      ['Search nothing', () => ovalis.app.spotlight(''), true],
    ],
  });

  function showImage(panel, path) {
    const card = cards[panel].el;
    let img = card.querySelector('img.preview');
    if (!img) {
      img = el('img', 'preview');
      img.alt = path;
      card.appendChild(img);
    }
    img.src = ovalis.fileURL ? ovalis.fileURL(path) : 'file://' + path;
  }

  // ---- building and switching ------------------------------------------------

  const host = $('#panel-host');
  const tabs = $('#tabs');
  let current = null;

  function activate(id) {
    if (!cards[id]) return false;
    for (const [pid, c] of Object.entries(cards)) {
      c.el.hidden = pid !== id;
      c.tab.classList.toggle('active', pid === id);
    }
    current = id;
    return true;
  }

  for (const p of panels) {
    const card = el('section', 'card panel');
    card.id = 'panel-' + p.id;
    card.append(el('h2', null, p.title), el('p', 'blurb', p.blurb));
    const buttons = el('div', 'buttons');
    for (const [label, fn] of p.actions) {
      const b = el('button', 'ghost', label);
      b.addEventListener('click', () => perform(p.id, label, fn));
      buttons.appendChild(b);
    }
    const answers = el('ol', 'answers');
    card.append(buttons, answers);
    card.hidden = true;
    host.appendChild(card);
    const tab = el('button', null, p.title);
    tab.addEventListener('click', () => activate(p.id));
    tabs.appendChild(tab);
    cards[p.id] = { el: card, tab, answers };
    if (p.setup) p.setup(card, (kind, what, value) => note(p.id, kind, what, value));
  }
  activate(panels[0].id);

  const painted = () => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));

  // The scripted tour: the backend names a panel, the page shows it, runs
  // its tour actions one after the other and says when it has drawn them.
  ovalis.api.on('tour', async (data) => {
    const p = panels.find((x) => x.id === (data && data.panel));
    if (!p) return;
    activate(p.id);
    for (const [label, fn, inTour] of p.actions) if (inTour) await perform(p.id, label, fn);
    // Late events (downloads, clipboard changes) get a moment to land.
    await new Promise((resolve) => setTimeout(resolve, 600));
    await painted();
    call('demo.shown', { panel: p.id }).catch(() => {});
  });

  // ---- start-up ----------------------------------------------------------------

  (async () => {
    try {
      paths = Object.assign(paths, await call('demo.paths', {}));
    } catch (_) { /* the defaults do */ }
    const theme = await ovalis.theme.get().catch(() => null);
    applyTheme(!!(theme && theme.dark));
    await ovalis.capabilities.ready;
    $('#caps-count').textContent = ovalis.capabilities.list().length + ' calls working';
    await painted();
    // Handlers are in place: the backend may start pushing events (and the
    // tour) from now on.
    call('demo.ready', { panels: panels.map((p) => p.id) }).catch(() => {});
  })();
})();
