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
