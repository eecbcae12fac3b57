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
