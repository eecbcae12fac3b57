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

    ovalis.system = system;
