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
    // written the same way, each part attaching its own. They must be in
    // place before the capability probe walks the namespace.
