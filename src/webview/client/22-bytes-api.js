    // ------------------------------------------------------------------
    // Bytes both ways, as files rather than text
    // ------------------------------------------------------------------

    // Binary data would cost an encoding pass and a trip through the text
    // protocol; launcher takes it over its own scheme instead, and only a
    // small reference {"$blob": id} travels in the call or the answer. Both
    // requests carry this document's key, so frames cannot use the scheme.
    const BLOB_BASE = 'ovalis-blob://b/';

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
      // A typed blob would make the upload a non-simple cross-origin request.
      const body = isBlob(data) ? data.slice(0, data.size, '') : await bytesOf(data);
      const res = await fetch(BLOB_BASE + blobQuery(), { method: 'POST', body });
      if (!res.ok) throw await blobError(res, 'ovalis.api.sendBytes');
      const ref = await res.json();
      return call(method, Object.assign({}, params, { bytes: { $blob: ref.id, size: ref.size } }));
    };

    api.fetchBytes = async function (method, params) {
      const ref = await call(method, params);
      if (ref === null || typeof ref !== 'object' || typeof ref.$blob !== 'string') {
        throw new TypeError('ovalis.api.fetchBytes: the answer to ' + method + ' is not bytes');
      }
      const res = await fetch(BLOB_BASE + encodeURIComponent(ref.$blob) + blobQuery());
      if (!res.ok) throw await blobError(res, 'ovalis.api.fetchBytes');
      return new Uint8Array(await res.arrayBuffer());
    };
