// Which page origins may call the backend. Every page call carries the
// origin of the document that made it, as the launcher saw it when the
// document was committed. The application's own pages are file:// ones;
// anything else (a site the user followed a link to, a popup) must be
// trusted by name, or all at once by one explicit call.

/**
 * Glob match where "*" matches any run of characters (also none) and every
 * other character matches itself, case-sensitively: the launcher's own
 * reading of origin patterns.
 */
export function originGlob(pattern, text) {
  let p = 0;
  let t = 0;
  let star = -1;
  let mark = 0;
  while (t < text.length) {
    if (p < pattern.length && pattern[p] === '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.length && pattern[p] === text[t]) {
      ++p;
      ++t;
    } else if (star >= 0) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.length && pattern[p] === '*') ++p;
  return p === pattern.length;
}

export class OriginPolicy {
  constructor(patterns = []) {
    /** @type {string[]} */
    this.patterns = ['file://'];
    this.all = false;
    this.add(patterns);
  }

  add(patterns) {
    for (const p of patterns) {
      if (typeof p !== 'string' || p === '') throw new TypeError('an origin pattern must be a non-empty string');
      // "*" alone would trust every origin without saying so; that takes
      // trustAllOrigins().
      if (/^\*+$/.test(p)) throw new TypeError('trusting every origin takes trustAllOrigins(), not "*"');
      if (!this.patterns.includes(p)) this.patterns.push(p);
    }
  }

  trusts(origin) {
    if (this.all) return true;
    if (typeof origin !== 'string' || origin === '') return false;
    return this.patterns.some((p) => originGlob(p, origin));
  }
}
