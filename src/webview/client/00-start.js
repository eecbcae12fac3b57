// ovalis client script.
//
// Injected at document start into every top-level page, right after the page
// shim (which provides window.__invoke, window.__ovalisResolve,
// window.__OVALIS_WIN and window.__OVALIS_FRAMELESS). It builds the page API
// `window.ovalis`: namespaces whose methods become calls {method, params} to
// the backend, the event hub the backend pushes events through, a proxied
// fetch, URL helpers, a capability probe, drag regions and resize grips for
// frameless windows.
//
// The script is kept in parts, one per namespace or concern, in this folder.
// The build joins them in the order of their file names, with a blank line
// between two parts, into one function body: this part opens the function and
// its guard, 99-end.js closes them, and every part in between runs inside it
// and sees the helpers the parts before it declared.
//
// Ground rules for every part:
//  * Every backend call is written literally as call('<name>', ...) and every
//    event helper as api.on('<event>', ...). The capability probe reads the
//    methods' own source text to learn which calls and events each one uses,
//    so those spellings (single quotes, no indirection) are load-bearing.
//  * A method that builds on another one refers to it as
//    window.ovalis.<path>(...) so that the probe can follow the reference.
//  * Nothing here may throw while the page loads, even when the bridge is
//    missing: calls then simply reject.
//  * Plain ES2020. Joining the parts is the only build step; the joined
//    text is embedded in the launcher as is.
(function () {
  'use strict';

  // Runs once per document, even if injected twice.
  if (window.__ovalisClient) return;
  window.__ovalisClient = true;

  try {
