// ovalis demo page. Every button is one call through window.ovalis to the
// demo backend; the answers, and the events the backend pushes, land in the
// log. Values are always shown as text, never as markup.
(function () {
  'use strict';

  const $ = (sel) => document.querySelector(sel);

  // ---- log panel ---------------------------------------------------------

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
    const li = document.createElement('li');
    li.className = kind;
    const time = document.createElement('span');
    time.className = 'time';
    time.textContent = new Date().toLocaleTimeString([], { hour12: false });
    const mark = document.createElement('span');
    mark.className = 'mark';
    mark.textContent = kind === 'ok' ? '✓' : kind === 'err' ? '✗' : '•';
    const body = document.createElement('span');
    const title = document.createElement('span');
    title.className = 'what';
    title.textContent = what;
    body.appendChild(title);
    if (arguments.length > 2) {
      const v = document.createElement('span');
      v.className = 'value mono';
      v.textContent = show(value);
      v.title = v.textContent;
      body.appendChild(v);
    }
    li.append(time, mark, body);
    logEl.prepend(li);
    while (logEl.children.length > MAX_LOG) logEl.lastElementChild.remove();
  }

  // Runs one call and logs its answer or its rejection.
  async function run(what, fn) {
    try {
      const value = await fn();
      log('ok', what, value);
      return value;
    } catch (err) {
      log('err', what, err);
      return undefined;
    }
  }

  if (!window.ovalis) {
    $('#no-bridge').hidden = false;
    log('err', 'window.ovalis is missing');
    return;
  }
  const ovalis = window.ovalis;

  // ---- header --------------------------------------------------------------

  $('#win-id').textContent = ovalis.win.id;

  function applyTheme(dark) {
    document.documentElement.dataset.theme = dark ? 'dark' : 'light';
    $('#theme-name').textContent = dark ? 'dark' : 'light';
  }

  const tickN = $('#tick-n');
  const tickDot = $('#tick-dot');
  ovalis.api.on('tick', (data) => {
    tickN.textContent = String(data && data.n);
    tickDot.classList.add('live');
    // Restart the pulse animation on every beat.
    tickDot.classList.remove('beat');
    void tickDot.offsetWidth;
    tickDot.classList.add('beat');
  });

  // Menu bar, tray and context-menu entries, as the backend reports them.
  ovalis.api.on('menu', (data) => {
    $('#menu-last').textContent = String(data && data.id);
    log('info', 'event "menu"', data);
  });

  ovalis.api.on('windows', (data) => {
    const list = data && Array.isArray(data.windows) ? data.windows : [];
    $('#windows-list').textContent = list.length ? list.join(', ') : 'none';
    log('info', 'event "windows"', list);
  });

  ovalis.theme.on((dark) => {
    applyTheme(dark);
    log('info', 'event "theme"', { dark });
  });

  // ---- actions -------------------------------------------------------------

  const value = (sel) => $(sel).value;

  const actions = {
    echo: () => run("api.call('demo.echo')", () =>
      ovalis.api.call('demo.echo', { text: 'hello, backend', n: 42, nested: { ok: true } })),
    time: () => run("api.call('demo.time')", async () => {
      const answer = await ovalis.api.call('demo.time');
      return { ...answer, local: new Date(answer.now).toLocaleTimeString() };
    }),
    theme: () => run('theme.get()', async () => {
      const answer = await ovalis.theme.get();
      applyTheme(!!(answer && answer.dark));
      return answer;
    }),
    unknown: () => run("api.call('demo.nope')", () => ovalis.api.call('demo.nope', {})),

    'store-set': () => run(`store.set(${JSON.stringify(value('#store-key'))})`, () =>
      ovalis.store.set(value('#store-key'), value('#store-value'))),
    'store-get': () => run(`store.get(${JSON.stringify(value('#store-key'))})`, () =>
      ovalis.store.get(value('#store-key'))),
    'store-delete': () => run(`store.delete(${JSON.stringify(value('#store-key'))})`, () =>
      ovalis.store.delete(value('#store-key'))),
    'store-all': () => run('store.all()', () => ovalis.store.all()),

    'set-title': () => run('win.setTitle()', () => ovalis.win.setTitle(value('#win-title'))),
    'size-small': () => run('win.setSize(960, 640)', () => ovalis.win.setSize(960, 640)),
    'size-large': () => run('win.setSize(1120, 720)', () => ovalis.win.setSize(1120, 720)),
    'get-state': () => run('win.getState()', () => ovalis.win.getState()),
    screens: () => run("api.call('demo.screens')", () => ovalis.api.call('demo.screens', {})),
    quit: () => run('quit()', () => ovalis.quit()),

    'clear-log': () => { logEl.textContent = ''; },
  };

  // ---- window panel --------------------------------------------------------

  const winEvents = $('#win-events');
  ovalis.api.on('winstate', (data) => {
    if (!data) return;
    const line = data.window + ' ' + JSON.stringify(data.state);
    winEvents.textContent = (line + '\n' + winEvents.textContent).split('\n').slice(0, 6).join('\n');
  });
  ovalis.api.on('screens', (data) => {
    const ul = $('#screens-list');
    ul.textContent = '';
    for (const s of (data && data.screens) || []) {
      const li = document.createElement('li');
      li.textContent = `#${s.id} ${s.name || s.uid}: ${s.width}×${s.height} at ${s.x},${s.y}` +
        ` ×${s.scale}${s.primary ? ' (primary)' : ''}`;
      ul.appendChild(li);
    }
  });
  document.addEventListener('click', (e) => {
    const btn = e.target.closest('button[data-winop]');
    if (!btn) return;
    const op = btn.dataset.winop;
    run(`winop ${op}`, () => ovalis.api.call('demo.winop', { op }));
  });

  document.addEventListener('click', (e) => {
    const btn = e.target.closest('button[data-action]');
    if (!btn) return;
    const action = actions[btn.dataset.action];
    if (action) action();
  });

  // ---- sound panel ---------------------------------------------------------

  const sound = {
    load: () => run("audio.sampler.load('tone')", async () => {
      const { path } = await ovalis.api.call('demo.toneFile', {});
      return ovalis.audio.sampler.load('tone', path);
    }),
    play: () => run("audio.sampler.play('tone')", () =>
      ovalis.audio.sampler.play('tone', { gain: 0.8, pan: Number(value('#sound-pan')) })),
    loop: () => run("audio.sampler.play('tone', loop)", () =>
      ovalis.audio.sampler.play('tone', { gain: 0.5, pan: Number(value('#sound-pan')), rate: 0.5, loop: true })),
    stop: () => run('audio.sampler.stopAll()', () => ovalis.audio.sampler.stopAll()),
    bass: () => run('audio.filters(bass boost)', () => ovalis.audio.filters([
      { type: 'lowshelf', freq: 150, q: 0.7, gain: 6 },
      { type: 'peaking', freq: 3000, q: 1, gain: -2 },
    ])),
    flat: () => run('audio.clear()', () => ovalis.audio.clear()),
  };
  document.addEventListener('click', (e) => {
    const btn = e.target.closest('button[data-sound]');
    if (btn && sound[btn.dataset.sound]) sound[btn.dataset.sound]();
  });
  $('#sound-balance').addEventListener('change', () =>
    run('audio.balance()', () => ovalis.audio.balance(Number(value('#sound-balance')))));

  // ---- page panel ----------------------------------------------------------

  const findOut = $('#find-result');
  const find = (forward) => run('win.find()', async () => {
    const r = await ovalis.win.find(value('#find-term'), { forward });
    findOut.textContent = r.found ? r.activeMatch + ' of ' + r.matches : 'not found';
    return r;
  });
  const pageTools = {
    next: () => find(true),
    prev: () => find(false),
    stop: () => run('win.stopFind()', async () => { findOut.textContent = '-'; return ovalis.win.stopFind(); }),
    print: () => run('win.print()', () => ovalis.win.print()),
    pdf: () => run('win.printToPDF()', () => ovalis.win.printToPDF('')),
    cookies: () => run('cookies', () => ovalis.api.call('demo.cookies', {})),
    // The proxy serves this file:// page without any rule; a failed fetch
    // of an unreachable address still shows the proxy answered.
    proxy: () => run('proxyURL()', () => fetch(ovalis.proxyURL('http://127.0.0.1:9/'))
      .then((r) => ({ status: r.status }), (e) => ({ error: String(e) }))),
  };
  document.addEventListener('click', (e) => {
    const btn = e.target.closest('button[data-page]');
    if (btn && pageTools[btn.dataset.page]) pageTools[btn.dataset.page]();
  });

  // ---- web content panel ---------------------------------------------------

  const content = {
    open: () => run('dialog.openFile()', () => ovalis.dialog.openFile({ types: ['txt', 'md'] })),
    save: () => run('dialog.saveFile()', () =>
      ovalis.dialog.saveFile({ types: ['txt'], name: 'notes' })),
    confirm: () => run('dialog.confirm()', () =>
      ovalis.dialog.confirm('Keep going?', 'The answer comes back to the page.')),
    popup: () => {
      const w = window.open(location.href.split('?')[0] + '?popup', '', 'width=640,height=480');
      log('info', 'window.open()', w ? 'opened' : 'blocked');
    },
    download: () => {
      const blob = new Blob(['Saved by the ovalis demo at ' + new Date().toISOString() + '\n'],
                            { type: 'text/plain' });
      const a = document.createElement('a');
      a.href = URL.createObjectURL(blob);
      a.download = 'demo-note.txt';
      document.body.appendChild(a);
      a.click();
      a.remove();
      setTimeout(() => URL.revokeObjectURL(a.href), 10000);
    },
  };
  document.addEventListener('click', (e) => {
    const btn = e.target.closest('button[data-content]');
    if (btn && content[btn.dataset.content]) content[btn.dataset.content]();
  });
  ovalis.api.on('download', (d) => {
    if (d.state !== 'progress') log(d.state === 'failed' ? 'err' : 'info', 'download ' + d.state, d.path || d.filename);
  });
  ovalis.api.on('popup', (p) => log('info', 'popup ' + p.action, p.url));

  // ---- tools panel ---------------------------------------------------------

  let lastCapture = null;
  const tools = {
    capture: () => run('app.captureScreen()', async () => {
      lastCapture = await ovalis.app.captureScreen();
      return lastCapture;
    }),
    thumb: () => run('app.thumbnail(capture, 128)', async () => {
      if (!lastCapture) throw new Error('capture the screen first');
      const t = await ovalis.app.thumbnail(lastCapture.path, 128);
      const img = $('#tools-thumb');
      img.src = 'file://' + t.path;
      img.hidden = false;
      return t;
    }),
    reveal: () => run('app.shell.reveal(capture)', () => {
      if (!lastCapture) throw new Error('capture the screen first');
      return ovalis.app.shell.reveal(lastCapture.path);
    }),
    pick: () => run('app.pickColor()', async () => {
      const color = await ovalis.app.pickColor();
      if (color) $('#tools-color').style.background = color;
      return color;
    }),
    search: () => run('app.spotlight()', () => ovalis.app.spotlight(value('#tools-query'))),
    'secret-set': () => run("app.secrets.set('demo')", () =>
      ovalis.app.secrets.set('demo', value('#tools-secret'))),
    'secret-get': () => run("app.secrets.get('demo')", () => ovalis.app.secrets.get('demo')),
    'secret-del': () => run("app.secrets.delete('demo')", () => ovalis.app.secrets.delete('demo')),
    'login-get': () => run('app.launchAtLogin.get()', () => ovalis.app.launchAtLogin.get()),
    'login-on': () => run('app.launchAtLogin.set(true)', () => ovalis.app.launchAtLogin.set(true)),
    'login-off': () => run('app.launchAtLogin.set(false)', () => ovalis.app.launchAtLogin.set(false)),
  };
  document.addEventListener('click', (e) => {
    const btn = e.target.closest('button[data-tool]');
    if (btn && tools[btn.dataset.tool]) tools[btn.dataset.tool]();
  });

  // ---- capabilities --------------------------------------------------------

  function renderCapabilities() {
    const list = ovalis.capabilities.list();
    const ul = $('#caps-list');
    ul.textContent = '';
    for (const path of list) {
      const li = document.createElement('li');
      li.textContent = path;
      ul.appendChild(li);
    }
    $('#caps-count').textContent = list.length + ' working';
  }

  // ---- more sections -------------------------------------------------------

  // Later panels (menus, tray, dialogs, clipboard ...) register here: each
  // entry builds its card into #more-sections once the page is ready.
  const sections = [];

  // System and audio: what the page can learn about its platform, and a
  // filter chain built in the page's own Web Audio graph.
  sections.push((host) => {
    const card = document.createElement('section');
    card.className = 'card';
    card.id = 'system';
    const h = document.createElement('h2');
    h.textContent = 'System & audio';
    const os = document.createElement('p');
    os.className = 'muted small';
    os.textContent = 'os(): ' + ovalis.system.os();
    const buttons = document.createElement('div');
    buttons.className = 'buttons';
    const out = document.createElement('ul');
    out.className = 'mini-list';
    const button = (label, fn) => {
      const b = document.createElement('button');
      b.className = 'ghost';
      b.textContent = label;
      b.addEventListener('click', fn);
      buttons.appendChild(b);
    };
    const list = (rows) => {
      out.textContent = '';
      for (const r of rows) {
        const li = document.createElement('li');
        li.textContent = r;
        out.appendChild(li);
      }
    };
    button('Requirements', () => run('system.requirements()', async () => {
      const r = await ovalis.system.requirements();
      list(((r && r.requirements) || []).map((e) => (e.ok ? '✓ ' : '✗ ') + e.feature + ': ' + e.detail));
      return r;
    }));
    button('Missing', () => run('system.missing()', () => ovalis.system.missing()));
    // Renders one second of a 100 Hz and a 4 kHz tone offline, once plain and
    // once through a low-shelf cut, and compares the levels.
    button('Page filter chain', () => run('audio.pageChain()', async () => {
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
        const buf = await ctx.startRendering();
        const d = buf.getChannelData(0);
        let sum = 0;
        for (let i = 4800; i < d.length; i++) sum += d[i] * d[i];
        return Math.sqrt(sum / (d.length - 4800));
      };
      const plain = await render([]);
      const cut = await render([{ type: 'lowshelf', freq: 400, gain: -24 }]);
      const db = (20 * Math.log10(cut / plain)).toFixed(1);
      list([`plain RMS ${plain.toFixed(3)}`, `low shelf −24 dB at 400 Hz: RMS ${cut.toFixed(3)} (${db} dB)`]);
      return { plain, cut, db: Number(db) };
    }));
    card.append(h, os, buttons, out);
    host.appendChild(card);
  });

  // Input: a global hotkey, a synthetic keystroke and the pointer position,
  // with pointer tracking for desktops that hide the pointer (Wayland).
  sections.push((host) => {
    const card = document.createElement('section');
    card.className = 'card';
    card.id = 'input';
    const h = document.createElement('h2');
    h.textContent = 'Input';
    const combo = document.createElement('input');
    combo.value = 'ctrl+shift+h';
    combo.setAttribute('aria-label', 'key combination');
    const buttons = document.createElement('div');
    buttons.className = 'buttons';
    const out = document.createElement('p');
    out.className = 'muted small';
    out.textContent = 'Hotkey presses show up here.';
    const button = (label, fn) => {
      const b = document.createElement('button');
      b.className = 'ghost';
      b.textContent = label;
      b.addEventListener('click', fn);
      buttons.appendChild(b);
    };
    ovalis.hotkey.on((id) => { out.textContent = 'hotkey pressed: ' + id; });
    button('Register hotkey', () => run('hotkey.register()', () => ovalis.hotkey.register('demo', combo.value)));
    button('Unregister', () => run('hotkey.unregister()', () => ovalis.hotkey.unregister('demo')));
    button('Send as keystroke', () => run('app.keystroke()', () => ovalis.app.keystroke(combo.value)));
    button('Pointer', () => run('app.mousePosition()', async () => {
      const p = await ovalis.app.mousePosition();
      if (p) out.textContent = `pointer at ${p.x}, ${p.y}` + (p.window && p.window.inside ? ' (over this window)' : '');
      return p;
    }));
    button('Track pointer', () => run('app.mouseTracking.start()', () => ovalis.app.mouseTracking.start()));
    button('Stop tracking', () => run('app.mouseTracking.stop()', () => ovalis.app.mouseTracking.stop()));
    card.append(h, combo, buttons, out);
    host.appendChild(card);
  });

  // Sounds, speech and the desktop's media controls.
  sections.push((host) => {
    const card = document.createElement('section');
    card.className = 'card';
    card.id = 'speech';
    const h = document.createElement('h2');
    h.textContent = 'Speech and now playing';
    const text = document.createElement('input');
    text.value = 'Hello from the ovalis demo.';
    text.setAttribute('aria-label', 'text to say');
    const buttons = document.createElement('div');
    buttons.className = 'buttons';
    const out = document.createElement('p');
    out.className = 'muted small';
    out.textContent = 'Media keys from the desktop show up here.';
    const button = (label, fn) => {
      const b = document.createElement('button');
      b.className = 'ghost';
      b.textContent = label;
      b.addEventListener('click', fn);
      buttons.appendChild(b);
    };
    let playing = true;
    const track = () => ({ title: 'Demo track', artist: 'ovalis', album: 'Demo', duration: 180, elapsed: 42, playing });
    ovalis.app.onMediaKey((k) => {
      if (k.key === 'toggle') playing = !playing;
      else if (k.key === 'play' || k.key === 'pause') playing = k.key === 'play';
      out.textContent = 'media key: ' + k.key + (k.position !== undefined ? ' ' + k.position + ' s' : '');
      ovalis.app.nowPlaying.set(track());
    });
    button('Bell', () => run('app.playSound("bell")', () => ovalis.app.playSound('bell')));
    button('Say', () => run('app.say()', () => ovalis.app.say(text.value)));
    button('Stop speaking', () => run('app.stopSpeaking()', () => ovalis.app.stopSpeaking()));
    button('Voices', () => run('app.voices()', async () => {
      const v = await ovalis.app.voices();
      out.textContent = (v ? v.length : 0) + ' voices';
      return v ? v.slice(0, 5) : v;
    }));
    button('Now playing', () => run('app.nowPlaying.set()', () => ovalis.app.nowPlaying.set(track())));
    button('Clear', () => run('app.nowPlaying.clear()', () => ovalis.app.nowPlaying.clear()));
    card.append(h, text, buttons, out);
    host.appendChild(card);
  });

  // Desktop services: clipboard, notifications, the dock's badge and
  // progress, attention, battery, idle time and keeping the machine awake.
  sections.push((host) => {
    const card = document.createElement('section');
    card.className = 'card';
    card.id = 'desktop';
    const h = document.createElement('h2');
    h.textContent = 'Desktop';
    const text = document.createElement('input');
    text.value = 'Copied from the demo';
    const buttons = document.createElement('div');
    buttons.className = 'buttons';
    const events = document.createElement('ul');
    events.className = 'mini-list';
    const note = (line) => {
      const li = document.createElement('li');
      li.textContent = line;
      events.prepend(li);
      while (events.children.length > 5) events.lastChild.remove();
    };
    const button = (label, what, fn) => {
      const b = document.createElement('button');
      b.className = 'ghost';
      b.textContent = label;
      b.addEventListener('click', () => run(what, fn));
      buttons.appendChild(b);
    };
    let badge = 0;
    button('Copy', 'clipboard.write()', () => ovalis.clipboard.write({ text: text.value }));
    button('Read clipboard', 'clipboard.read()', () => ovalis.clipboard.read());
    button('Notify', 'notify()', () => ovalis.notify('Hello from the demo', text.value));
    button('Badge +1', 'app.badge()', () => ovalis.app.badge(String(++badge)));
    button('Clear badge', 'app.badge()', () => ovalis.app.badge(String((badge = 0) || '')));
    button('Progress 40%', 'app.progress(0.4)', () => ovalis.app.progress(0.4));
    button('No progress', 'app.progress(-1)', () => ovalis.app.progress(-1));
    button('Attention', 'app.attention()', () => ovalis.app.attention());
    button('Battery', 'system.battery()', () => ovalis.system.battery());
    button('Idle time', 'system.idleTime()', () => ovalis.system.idleTime());
    button('Keep awake', 'power.preventSleep()', () =>
      ovalis.app.power.preventSleep('Demo', { display: true }));
    button('Allow sleep', 'power.allowSleep()', () => ovalis.app.power.allowSleep());
    ovalis.clipboard.onChange((d) =>
      note(`clipboard change ${d.changeCount}${d.self ? ' (ours)' : ''}`));
    ovalis.api.on('notification-click', (d) => note(`notification ${d.id} clicked`));
    ovalis.api.on('notification-action', (d) => note(`notification ${d.id}: ${d.action}`));
    card.append(h, text, buttons, events);
    host.appendChild(card);
  });

  // ---- start-up ------------------------------------------------------------

  (async () => {
    // The handlers above are in place: tell the backend so it can push the
    // events it holds back until now.
    await run("api.call('demo.ready')", () => ovalis.api.call('demo.ready'));
    ovalis.log('demo page ready in window ' + ovalis.win.id).catch(() => {});
    await actions.theme();
    await actions.time();
    await actions.echo();
    await actions['store-set']();
    await actions['store-get']();
    await actions.unknown();

    await ovalis.capabilities.ready;
    renderCapabilities();
    ovalis.capabilities.onChange(renderCapabilities);

    const host = $('#more-sections');
    for (const build of sections) build(host);

    // Two animation frames: the filled-in page has been through the
    // compositor at least once. The backend's screenshot mode waits for this.
    await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
    ovalis.api.call('demo.painted').catch(() => {});
  })();
})();
