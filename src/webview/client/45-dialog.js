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
