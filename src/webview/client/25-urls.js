    // ------------------------------------------------------------------
    // URL helpers
    // ------------------------------------------------------------------

    // Address of a remote http(s) resource through the launcher's media proxy:
    // its loopback HTTP address when the launcher gave one (media elements
    // play only from http), else the "ovalis-media" scheme. The document's
    // key tells the proxy that this page made the address.
    function proxyURL(url) {
      const base = typeof window.__OVALIS_MEDIA_BASE === 'string' ? window.__OVALIS_MEDIA_BASE
        : 'ovalis-media://proxy/';
      const key = window.__OVALIS_PKEY ? 'k=' + window.__OVALIS_PKEY + '&' : '';
      return base + '?' + key + 'u=' + encodeURIComponent(String(url));
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
