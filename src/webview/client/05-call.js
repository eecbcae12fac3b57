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
