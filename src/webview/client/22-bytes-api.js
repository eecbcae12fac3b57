    // ------------------------------------------------------------------
    // Bytes both ways, as files rather than text
    // ------------------------------------------------------------------

    // Binary data would cost an encoding pass and a trip through the text
    // protocol; it goes to and from files instead, and only a small
    // reference {"$blob": id} travels in the call or the answer. The host's
    // web-process extension (window.__ovalisBytes, top documents only) moves
    // the bytes between the page's memory and the file directly; without it
    // they go over launcher's "ovalis-blob" scheme. Either way the request
    // carries this document's key, which frames never see.
    const BLOB_BASE = 'ovalis-blob://b/';
    const nativeBytes = window.__ovalisBytes;

    function viaNative(fn, a) {
      return new Promise((resolve, reject) => {
        fn.call(nativeBytes, a, window.__OVALIS_PKEY || '', (err, result) => {
          if (err === null) resolve(result); else reject(new Error(String(err)));
        });
      });
    }

    function blobQuery() {
      return window.__OVALIS_PKEY ? '?k=' + window.__OVALIS_PKEY : '';
    }

    async function blobError(res, what) {
      let text = 'HTTP ' + res.status;
      try {
        const body = await res.json();
        if (body && typeof body.message === 'string') text = body.message;
      } catch (_) { /* keep the status */ }
      return new Error(what + ': ' + text);
    }

    api.sendBytes = async function (method, data, params) {
      if (!isBinary(data)) {
        throw new TypeError('ovalis.api.sendBytes: data must be an ArrayBuffer, a typed array, a DataView or a Blob');
      }
      let ref;
      if (nativeBytes) {
        try {
          ref = await viaNative(nativeBytes.put, await bytesOf(data));
        } catch (e) {
          throw new Error('ovalis.api.sendBytes: ' + e.message);
        }
      } else {
        // The engine hands a custom scheme only a body held in memory.
        const body = await bytesOf(data);
        const res = await fetch(BLOB_BASE + blobQuery(), { method: 'POST', body });
        if (!res.ok) throw await blobError(res, 'ovalis.api.sendBytes');
        ref = await res.json();
      }
      return call(method, Object.assign({}, params, { bytes: { $blob: ref.id, size: ref.size } }));
    };

    api.fetchBytes = async function (method, params) {
      const ref = await call(method, params);
      if (ref === null || typeof ref !== 'object' || typeof ref.$blob !== 'string') {
        throw new TypeError('ovalis.api.fetchBytes: the answer to ' + method + ' is not bytes');
      }
      if (nativeBytes) {
        try {
          return await viaNative(nativeBytes.get, ref.$blob);
        } catch (e) {
          throw new Error('ovalis.api.fetchBytes: ' + e.message);
        }
      }
      const res = await fetch(BLOB_BASE + encodeURIComponent(ref.$blob) + blobQuery());
      if (!res.ok) throw await blobError(res, 'ovalis.api.fetchBytes');
      return new Uint8Array(await res.arrayBuffer());
    };
