    // ------------------------------------------------------------------
    // Drag regions
    // ------------------------------------------------------------------

    // Elements that keep their own mouse behaviour inside a drag region.
    const NO_DRAG = 'button,a,input,textarea,select,[data-ovalis-nodrag],' +
      '[contenteditable]:not([contenteditable="false"])';

    window.addEventListener('mousedown', (e) => {
      if (e.button !== 0) return;
      let el = e.target;
      if (el && el.nodeType !== 1) el = el.parentElement;
      if (!el || typeof el.closest !== 'function') return;
      if (!el.closest('[data-ovalis-drag]')) return;
      if (el.closest(NO_DRAG) || el.isContentEditable) return;
      quiet(e.detail === 2 ? call('win.zoom') : call('win.startDrag'));
    });

    // ------------------------------------------------------------------
    // Resize grips for frameless windows
    // ------------------------------------------------------------------

    const GRIPS = [
      ['nw', 'nwse-resize', 'left:0;top:0;width:5px;height:5px'],
      ['ne', 'nesw-resize', 'right:0;top:0;width:5px;height:5px'],
      ['sw', 'nesw-resize', 'left:0;bottom:0;width:5px;height:5px'],
      ['se', 'nwse-resize', 'right:0;bottom:0;width:5px;height:5px'],
      ['n', 'ns-resize', 'left:5px;right:5px;top:0;height:5px'],
      ['s', 'ns-resize', 'left:5px;right:5px;bottom:0;height:5px'],
      ['w', 'ew-resize', 'top:5px;bottom:5px;left:0;width:5px'],
      ['e', 'ew-resize', 'top:5px;bottom:5px;right:0;width:5px'],
    ];

    function addGrips() {
      const body = document.body;
      if (!body) return;
      const root = document.documentElement;
      if ((root && root.hasAttribute('data-ovalis-noresize')) || body.hasAttribute('data-ovalis-noresize')) return;
      if (document.getElementById('__ovalisGrips')) return;
      const host = document.createElement('div');
      host.id = '__ovalisGrips';
      host.setAttribute('style', 'position:fixed;inset:0;z-index:2147483647;pointer-events:none');
      for (const [edge, cursor, place] of GRIPS) {
        const strip = document.createElement('div');
        strip.setAttribute('data-edge', edge);
        strip.setAttribute('style', 'position:absolute;pointer-events:auto;cursor:' + cursor + ';' + place);
        strip.addEventListener('mousedown', (e) => {
          if (e.button !== 0) return;
          e.preventDefault();
          e.stopPropagation();
          quiet(call('win.startResize', { edge }));
        });
        host.appendChild(strip);
      }
      body.appendChild(host);
    }

    if (typeof window.__OVALIS_FRAMELESS === 'boolean') {
      call('win.getState').then((state) => {
        if (!state || !state.chrome || state.chrome.frame !== false || state.resizable === false) return;
        if (document.body) {
          addGrips();
        } else {
          document.addEventListener('DOMContentLoaded', addGrips, { once: true });
        }
      }, () => {});
    }
