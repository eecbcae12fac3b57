    // ------------------------------------------------------------------
    // Bytes and Base64
    // ------------------------------------------------------------------

    const toStr = (v) => Object.prototype.toString.call(v);
    const isArrayBuffer = (v) => v instanceof ArrayBuffer || toStr(v) === '[object ArrayBuffer]';
    const isBlob = (v) => typeof Blob !== 'undefined' && v instanceof Blob;

    // Whether a value is binary data this script can send as Base64.
    function isBinary(v) {
      return v != null && (isArrayBuffer(v) || ArrayBuffer.isView(v) || isBlob(v));
    }

    // The bytes of an array buffer, of a typed array or data view (its own
    // window on the buffer only), or of a blob.
    async function bytesOf(v) {
      if (isArrayBuffer(v)) return new Uint8Array(v);
      if (ArrayBuffer.isView(v)) return new Uint8Array(v.buffer, v.byteOffset, v.byteLength);
      if (isBlob(v)) return new Uint8Array(await v.arrayBuffer());
      throw new TypeError('ovalis: not binary data');
    }

    // Standard Base64. The binary string is built 32768 bytes at a time to
    // stay clear of argument-count limits, and encoded in one go: encoding
    // each chunk separately would put padding in the middle of the output,
    // since 32768 is not a multiple of 3.
    function b64encode(bytes) {
      const CHUNK = 32768;
      let bin = '';
      for (let i = 0; i < bytes.length; i += CHUNK) {
        bin += String.fromCharCode.apply(null, bytes.subarray(i, i + CHUNK));
      }
      return btoa(bin);
    }

    function b64decode(text) {
      if (typeof text !== 'string' || text === '') return new Uint8Array(0);
      const bin = atob(text);
      const out = new Uint8Array(bin.length);
      for (let i = 0; i < bin.length; i++) out[i] = bin.charCodeAt(i);
      return out;
    }
