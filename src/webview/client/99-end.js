  } catch (err) {
    try { console.error('ovalis: client script failed to start', err); } catch (_) { /* nothing left to do */ }
  }
})();
