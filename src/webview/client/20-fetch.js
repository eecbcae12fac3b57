    // ------------------------------------------------------------------
    // Proxied fetch
    // ------------------------------------------------------------------

    let fetchCounter = 0; // unsigned 32-bit, wraps

    function plainHeaders(h) {
      if (h == null) return undefined;
      if (typeof Headers !== 'undefined' && h instanceof Headers) {
        const out = {};
        h.forEach((value, name) => { out[name] = value; });
        return out;
      }
      if (Array.isArray(h)) {
        const out = {};
        for (const pair of h) {
          if (pair && pair.length >= 2) out[String(pair[0])] = String(pair[1]);
        }
        return out;
      }
      return h;
    }

    // Statuses whose responses can never carry a body; the Response
    // constructor refuses one for them.
    const NULL_BODY_STATUS = [204, 205, 304];

    // A request carried out by the backend, free of the page's cross-origin
    // limits. Resolves to a real Response.
    async function ovalisFetch(url, init = {}) {
      const opts = init || {};
      fetchCounter = (fetchCounter + 1) >>> 0;
      const id = 'f' + fetchCounter;
      const stream = !!opts.stream;

      let bodyText;
      let bodyB64;
      const body = opts.body;
      if (body == null) {
        // no body
      } else if (typeof body === 'string') {
        bodyText = body;
      } else if (typeof URLSearchParams !== 'undefined' && body instanceof URLSearchParams) {
        bodyText = body.toString();
      } else if (isBinary(body)) {
        bodyB64 = b64encode(await bytesOf(body));
      } else {
        bodyText = String(body);
      }

      const head = await call('fetch', {
        url: String(url),
        id,
        stream,
        method: opts.method,
        headers: plainHeaders(opts.headers),
        redirect: opts.redirect,
        bodyText,
        bodyB64,
      });
      if (head === null || typeof head !== 'object') {
        throw new TypeError('ovalis.fetch: the backend gave no response');
      }

      const status = head.status;
      const init2 = { status, statusText: head.statusText, headers: head.headers };
      const nullBody = NULL_BODY_STATUS.indexOf(status) >= 0;
      let response;
      if (nullBody) {
        // Also for a non-streaming answer that carries an empty body text:
        // handing it to Response would throw for these statuses.
        response = new Response(null, init2);
      } else if (!stream) {
        response = new Response(head.bodyB64 == null ? null : b64decode(head.bodyB64), init2);
      } else {
        const rs = new ReadableStream({
          async pull(controller) {
            const chunk = await call('fetch.pull', { id });
            if (chunk === null || typeof chunk !== 'object') {
              // Without a chunk or an end mark the reader would pull forever.
              controller.error(new TypeError('ovalis.fetch: the backend gave no body chunk'));
            } else if (chunk.done === true) {
              controller.close();
            } else {
              controller.enqueue(b64decode(chunk.bodyB64));
            }
          },
          cancel() {
            return quiet(call('fetch.cancel', { id }));
          },
        }, { highWaterMark: 0 }); // pull only what the page reads
        response = new Response(rs, init2);
      }

      // Response.url and .redirected are read-only getters; report what the
      // backend saw rather than the empty defaults of a constructed Response.
      try {
        Object.defineProperty(response, 'url', { value: head.url == null ? '' : String(head.url), configurable: true });
        Object.defineProperty(response, 'redirected', { value: !!head.redirected, configurable: true });
      } catch (_) { /* keep the defaults */ }
      return response;
    }
