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
