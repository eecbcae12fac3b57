// Type declarations of ovalis-backend. They stand alone (no @types/node
// needed), so a TypeScript backend type-checks with nothing else installed.

/** Any JSON value, as pages send and receive them. */
export type Json = null | boolean | number | string | Json[] | { [key: string]: Json };

// ---- errors -------------------------------------------------------------------

export class OvalisError extends Error {
  constructor(message: string, code?: string);
  readonly code: string | undefined;
}
/** A request that got no answer in time (code "OVALIS_TIMEOUT"). */
export class TimeoutError extends OvalisError {
  constructor(message: string);
}
/** A request that can no longer be answered: the launcher has gone (code "OVALIS_GONE"). */
export class LauncherGoneError extends OvalisError {
  constructor(message?: string);
}

// ---- options and events ---------------------------------------------------------

export interface BackendOptions {
  /** ms a request waits for its answer by default (10000). */
  requestTimeout?: number;
  /** ms for requests that wait for the user: dialogs, speech, colour picking (0: no limit). */
  interactiveTimeout?: number;
  /** Origin patterns whose page calls are accepted besides the application's own file:// pages. */
  trustedOrigins?: string[];
  /** Sees every line: '<' from the launcher, '>' to it. */
  trace?: (dir: '<' | '>', line: string) => void;
}

export interface LaunchOptions {
  /** Absolute file path or http(s) URL of the page; relative paths resolve against the working folder. */
  page: string | URL;
  /** The launcher: a path, or a name looked up on PATH and in the installed locations (default "launcher", or OVALIS_LAUNCHER). */
  launcher?: string;
  /** Window title and program name. */
  title?: string;
  /** Content size; both or neither (the launcher's default otherwise). */
  width?: number;
  height?: number;
  version?: string;
  /** Extra environment for the launcher ("OVALIS_APP_ID", "OVALIS_DEBUG", ...). */
  env?: Record<string, string>;
  /** ms the launcher has to connect (30000). */
  connectTimeout?: number;
  /** Quit the launcher on SIGINT and SIGTERM (default true). */
  handleSignals?: boolean;
}

export interface RequestOptions {
  /** ms to wait; 0 or Infinity: no limit. */
  timeout?: number;
  signal?: AbortSignal;
  /** Use the backend's interactiveTimeout as the default. */
  interactive?: boolean;
}

/** An event line from the launcher. */
export interface LineEvent {
  /** The first word: "MENU", "NAV", "SYS", "WINSTATE", ... */
  keyword: string;
  /** The text after the keyword and its blank. */
  rest: string;
  /** The leading word before the JSON, for lines such as "WINSTATE <id> {...}". */
  id: string | undefined;
  /** The parsed JSON where the line carries JSON ("NAV {...}", "DROP [...]"). */
  data: Json | undefined;
}

/** What `launcher --open` or a second instance asks a running instance to do. */
export interface OpenRequest {
  activate?: true;
  url?: string;
  paths?: string[];
}

// ---- page calls ---------------------------------------------------------------------

export class Call {
  /** "<window>:<seq>" */
  readonly id: string;
  readonly window: string;
  readonly origin: string;
  readonly method: string;
  readonly params: Json;
  readonly answered: boolean;
  param<T extends Json = Json>(key: string, fallback?: T): T;
  /**
   * Answers the call. Bytes (a Buffer, any typed array, a DataView or an
   * ArrayBuffer) reach the page's `ovalis.api.fetchBytes`: they are written
   * to a file the launcher takes over, and the answer names it.
   */
  resolve(value?: unknown): void;
  /**
   * Answers `fetchBytes` with the bytes of a file the backend already has,
   * without a copy: the launcher opens it where it is. Rejects with
   * {"message": "cannot offer <path>: <reason>"} when it is not a readable regular file.
   */
  resolveFile(path: string): void;
  reject(value?: unknown): void;
  /** Rejects with {"message": text}. */
  fail(message: string): void;
  /** Answers with a native dialog; the launcher resolves the page's promise with its result. */
  dialog(op: DialogOp, fields?: string[]): void;
  /** Answers with find in page. */
  find(text: string, opts?: { forward?: boolean; matchCase?: boolean }): void;
  stopFind(): void;
}

/**
 * Gets the call's params, where every reference to bytes the page sent with
 * `ovalis.api.sendBytes` has become a Buffer (a Uint8Array); returns the
 * answer, or its promise. Returned bytes reach the page's `fetchBytes`.
 */
export type CallHandler = (params: any, call: Call) => unknown | Promise<unknown>;
/** What a handler may answer with for the page's `fetchBytes`. */
export type BytesAnswer = Uint8Array | ArrayBufferView | ArrayBuffer;
export type DialogOp = 'open' | 'openmulti' | 'dir' | 'save' | 'alert' | 'confirm' | 'prompt';

// ---- command descriptions ----------------------------------------------------------

export interface Chrome {
  frame?: boolean;
  /** "all", "none", or names: "close minimize maximize". */
  controls?: string;
  transparent?: boolean;
  vibrancy?: string;
  square?: boolean;
  firstMouse?: boolean;
  menubar?: boolean;
}

export interface WindowSpec {
  /** Not empty, not "main"; no blank, quote, backslash, "@" or ":". */
  id: string;
  /** URL or file path. */
  target?: string;
  title?: string;
  width?: number;
  height?: number;
  chrome?: Chrome;
  /** Both or neither. */
  x?: number;
  y?: number;
  /** "main" or another window id. */
  parent?: string;
  /** false opens it hidden. */
  show?: boolean;
}

export interface ItemOptions {
  accel?: string;
  checked?: boolean;
  disabled?: boolean;
  /** A file path or "emoji:<text>". */
  icon?: string;
}
export type MenuItem =
  | ({ kind?: 'item'; id: string; label: string } & ItemOptions)
  | { kind?: 'submenu'; id: string; label: string; icon?: string; children: MenuItem[] }
  | { kind: 'separator' }
  | { kind?: 'role'; role: string };

export interface Menu {
  title?: string;
  items?: MenuItem[];
  /**
   * "edit": the stock Edit menu (title ignored). Its items are the stock
   * entries it shows, such as stock('standard') for undo, redo, cut, copy,
   * paste and select all; without items it shows all of those.
   */
  role?: string;
}

export interface Tray {
  title?: string;
  icon?: string;
  tooltip?: string;
  /** Adds an entry that reports "TRAYCLICK". */
  clickItem?: boolean;
  items?: MenuItem[];
}

export interface MenuChanges {
  label?: string;
  checked?: boolean;
  enabled?: boolean;
}

export interface ClipData {
  text?: string;
  html?: string;
  /** A path, ~/path, data: URL or base64. */
  image?: string;
  fallbackText?: string;
  paths?: string[];
}

export interface NotifyOptions {
  subtitle?: string;
  sound?: boolean;
  actions?: { id: string; title: string }[];
}

export interface Filter {
  /** "peaking", "lowshelf", ... or "linear". */
  type: string;
  freq?: number;
  q?: number;
  gain?: number;
  gainR?: number;
}

export interface VoiceOptions {
  gain?: number;
  pan?: number;
  rate?: number;
  loop?: boolean;
}

export interface NowPlaying {
  title?: string;
  artist?: string;
  album?: string;
  duration?: number;
  elapsed?: number;
  playing?: boolean;
}

// ---- the backend ----------------------------------------------------------------------

export class Backend {
  constructor(options?: BackendOptions);
  requestTimeout: number;
  interactiveTimeout: number;
  trace: ((dir: '<' | '>', line: string) => void) | null;
  /** Resolves with the launcher's exit status once it has ended and the link is closed. */
  readonly closed: Promise<number>;
  readonly connected: boolean;
  readonly pid: number | undefined;
  readonly exitStatus: number | null;
  readonly trustedOrigins: string[];

  handle(method: string, fn: CallHandler): this;
  on(keyword: string, fn: (ev: LineEvent) => unknown): this;
  off(keyword: string, fn: (ev: LineEvent) => unknown): this;
  onOpen(fn: (req: OpenRequest) => unknown): this;
  declareEvents(...names: (string | string[])[]): this;
  trustOrigin(...patterns: (string | string[])[]): this;
  trustAllOrigins(): this;

  /** Resolves once the launcher has connected. */
  start(opts: LaunchOptions): Promise<void>;
  /** Single instance: open requests that arrive on a fixed socket; rejects when another instance listens there. */
  listenForOpen(socketPath: string, fn: (req: OpenRequest) => unknown): Promise<this>;
  /** Starts as ovalis.json says; false when a running instance took over (end with status 0). */
  startApp(config: AppConfig, opts?: Partial<LaunchOptions>): Promise<boolean>;
  /** Reads ovalis.json, starts, and runs to the end; resolves with the status for the process. */
  runApp(dir?: string): Promise<number>;
  readonly config: AppConfig | null;
  run(): Promise<number>;
  quit(graceMs?: number): Promise<number>;

  send(line: string | string[]): void;
  request(makeLine: (id: string) => string, opts?: RequestOptions): Promise<any>;
  /** "windows", "win:<id>", "screens", "clipboard", "clipboard:count", "idle", "battery", "mouse", "item:<id>", ... */
  get(key: string, opts?: RequestOptions): Promise<any>;
  emit(window: string, event: string, data?: unknown): void;
  emitAll(event: string, data?: unknown): void;

  eval(window: string, script: string): void;
  evalAll(script: string): void;
  title(window: string, text: string): void;
  size(window: string, width: number, height: number): void;
  winop(window: string, op: string): void;
  openWindow(spec: WindowSpec): void;
  closeWindow(id: string): void;
  chrome(window: string, c: Chrome): void;
  dragWindow(window: string): void;
  resizeWindow(window: string, edge: 'n' | 'ne' | 'e' | 'se' | 's' | 'sw' | 'w' | 'nw'): void;
  reload(): void;

  setMenus(window: string, menus: Menu[]): void;
  resetMenus(window: string): void;
  updateMenu(window: string, id: string, changes: MenuChanges): void;
  setTray(t: Tray): void;
  removeTray(): void;
  setContextMenu(items: MenuItem[]): void;
  clearContextMenu(): void;
  suppressContextMenu(on: boolean): void;

  dialog(op: DialogOp, fields?: string[], opts?: RequestOptions): Promise<any>;
  navReply(navId: string, verdict: 'allow' | 'deny' | 'external'): void;
  popupReply(qId: string, verdict: string): void;
  print(window: string): void;
  pdf(window: string, file: string, opts?: RequestOptions): Promise<any>;
  cookies(op: 'get' | 'set' | 'delete' | string, fields?: string[], opts?: RequestOptions): Promise<any>;
  permission(name: string, opts?: RequestOptions & { request?: boolean }): Promise<any>;

  clipWrite(data: ClipData): void;
  clipWatch(intervalMs: number): void;
  notify(id: string, title: string, body: string, opts?: NotifyOptions): void;
  power(on: boolean, opts?: RequestOptions & { display?: boolean; reason?: string }): Promise<any>;
  secret(op: 'get' | 'set' | 'del', service: string, account: string, value?: string, opts?: RequestOptions): Promise<any>;
  shell(op: 'open' | 'reveal' | 'trash', target: string, opts?: RequestOptions): Promise<any>;
  loginGet(opts?: RequestOptions): Promise<any>;
  loginSet(enabled: boolean, opts?: RequestOptions): Promise<any>;
  badge(count: number | null): void;
  progress(value: number | null): void;
  attention(): void;
  appIcon(file: string): void;

  audioFilters(chain: Filter[]): void;
  audioFilterSet(index: number, freq: number, q: number, gain: number): void;
  audioBalance(v: number): void;
  samplerLoad(name: string, file: string, opts?: RequestOptions): Promise<any>;
  samplerPlay(voice: number, name: string, opts?: VoiceOptions): void;
  samplerSet(voice: number, changes: { gain?: number; pan?: number; rate?: number }): void;
  samplerStop(voice: number): void;
  samplerStopAll(): void;
  samplerMaster(v: number): void;
  samplerUnload(name: string): void;
  audioTap(appScope: boolean, intervalMs: number, opts?: RequestOptions): Promise<any>;
  audioTapStop(): void;
  sound(nameOrPath?: string, opts?: RequestOptions): Promise<any>;
  say(text: string, opts?: RequestOptions & { voice?: string; rate?: number }): Promise<any>;
  stopSpeaking(): void;
  voices(opts?: RequestOptions): Promise<any>;
  nowPlaying(np: NowPlaying): void;
  nowPlayingClear(): void;

  hotkey(name: string, combo: string, opts?: RequestOptions): Promise<any>;
  hotkeyRemove(name: string): void;
  keystroke(combo: string, opts?: RequestOptions): Promise<any>;
  mouseTrack(restoreToken?: string, opts?: RequestOptions): Promise<any>;
  mouseTrackStop(): void;

  capture(opts?: RequestOptions): Promise<any>;
  pickColor(opts?: RequestOptions): Promise<any>;
  thumbnail(file: string, size?: number, opts?: RequestOptions): Promise<any>;
  search(query: string, opts?: RequestOptions): Promise<any>;
}

// ---- line builders ----------------------------------------------------------------------

/** Builders for every command line; escaping is done for the caller. */
export namespace line {
  function num(v: number): string;

  function evalIn(window: string, script: string): string;
  function evalAll(script: string): string;
  function title(window: string, text: string): string;
  function size(window: string, width: number, height: number): string;
  function get(id: string, key: string): string;
  function quit(): string;
  function reload(): string;
  /** "BLOB <id> <mode> <path>": offers a file to the page (the library does this for bytes answers). */
  function blob(id: string, mode: 'move' | 'keep', path: string): string;
  function ret(callId: string, ok: boolean, answer: unknown): string;

  function winopen(w: WindowSpec): string;
  function winclose(id: string): string;
  function winop(window: string, op: string): string;
  function chrome(window: string, c: Chrome): string;
  function dragwin(window: string): string;
  function resizewin(window: string, edge: string): string;

  function item(id: string, label: string, opts?: string | ItemOptions): MenuItem;
  function submenu(id: string, label: string, children: MenuItem[], opts?: { icon?: string }): MenuItem;
  function separator(): MenuItem;
  function stock(role: string): MenuItem;
  function menubar(window: string, menus: Menu[]): string[];
  function tray(t: Tray): string[];
  function trayRemove(): string;
  function contextMenu(items: MenuItem[]): string[];
  function contextClear(): string;
  function contextSuppress(on: boolean): string;
  function menuReset(window: string): string;
  function menuUpdate(window: string, id: string, changes?: MenuChanges): string;

  function dlg(callId: string, op: DialogOp | string, fields?: string[]): string;
  function navr(navId: string, verdict: string): string;
  function popupr(qId: string, verdict: string): string;
  function find(callId: string, text: string, forward?: boolean, matchCase?: boolean): string;
  function stopfind(callId: string): string;
  function print(window: string): string;
  function pdf(window: string, id: string, path: string): string;
  function cookies(id: string, op: string, fields?: string[]): string;
  function permission(id: string, request: boolean, name: string): string;

  function clipwrite(d: ClipData): string;
  function clipwatch(intervalMs: number): string;
  function notify(id: string, title: string, body: string, opts?: NotifyOptions): string;
  function power(id: string, on: boolean, display: boolean, reason: string): string;
  function secret(id: string, op: string, service: string, account: string, value?: string): string;
  function shell(id: string, op: string, target: string): string;
  function loginGet(id: string): string;
  function loginSet(id: string, enabled: boolean): string;
  function badge(count?: number | null): string;
  function progress(value?: number | null): string;
  function attention(): string;
  function appicon(path: string): string;

  function audioFilters(chain: Filter[]): string;
  function audioFilterSet(index: number, freq: number, q: number, gain: number): string;
  function audioBalance(v: number): string;
  function samplerLoad(id: string, name: string, path: string): string;
  function samplerPlay(voice: number, name: string, opts?: VoiceOptions): string;
  function samplerSet(voice: number, changes?: { gain?: number; pan?: number; rate?: number }): string;
  function samplerStop(voice: number): string;
  function samplerStopAll(): string;
  function samplerMaster(v: number): string;
  function samplerUnload(name: string): string;
  function audiotap(id: string, appScope: boolean, intervalMs: number): string;
  function audiotapStop(): string;
  function sound(id: string, nameOrPath: string): string;
  function say(id: string, text: string, voice?: string, rate?: number): string;
  function saystop(): string;
  function voices(id: string): string;
  function nowplaying(np: NowPlaying): string;
  function nowplayingClear(): string;

  function hkreg(id: string, hotkey: string, combo: string): string;
  function hkunreg(hotkey: string): string;
  function keystroke(id: string, combo: string): string;
  function mousetrack(id: string, restoreToken?: string): string;
  function mousetrackStop(): string;

  function capture(id: string): string;
  function pickcolor(id: string): string;
  function thumb(id: string, path: string, size?: number): string;
  function spotlight(id: string, query: string): string;

  function ocr(id: string, path: string): string;
  function osa(id: string, script: string): string;
  function record(id: string, op: string): string;
  function winctrl(id: string, op: string): string;
  function aiAvailable(id: string): string;
  function aiGenerate(id: string, request: unknown): string;
  function auth(id: string, reason: string): string;
}

// ---- wire text ------------------------------------------------------------------------------

export interface PageCall {
  callId: string;
  window: string;
  origin: string;
  method: string;
  params: Json;
  /** Set when the line has a call id but no usable payload. */
  error: string;
}

export function wireEscape(s: string): string;
export function wireUnescape(s: string): string;
export function oneLine(s: string): string;
export function splitTabs(s: string): string[];
export function escapedFields(fields: string[]): string;
export function plainFields(fields: string[]): string;
export function targeted(keyword: string, window?: string | null): string;
export function jsonText(value: unknown): string;
export function parseCall(rest: string): PageCall | null;
export function parseGot(rest: string): { id: string; value: Json; parsed: boolean } | null;
export function parseEvent(line: string): LineEvent;
export function retLine(callId: string, ok: boolean, answer: unknown): string;
export function emitScript(event: string, data: unknown): string;
export function emitLine(window: string, event: string, data: unknown): string;

export class LineFramer {
  readonly pending: number;
  feed(chunk: Uint8Array, onLine: (line: string) => void): void;
}

// ---- launching --------------------------------------------------------------------------------

export function findLauncher(launcher?: string, env?: Record<string, string | undefined>): string;
export function openRequest(arg?: string): OpenRequest;
export function isOpenRequest(r: unknown): r is OpenRequest;
export function forwardOpen(socketPath: string, request?: OpenRequest | string, timeoutMs?: number): Promise<boolean>;
/** Resolves with the listening server (closing it removes the socket file). */
export function listenForOpen(socketPath: string, fn: (req: any) => void): Promise<{ close(): unknown }>;
export function originGlob(pattern: string, text: string): boolean;

// ---- ovalis.json --------------------------------------------------------------------------------

/** A bad ovalis.json; message is the documented one-line error. */
export class ConfigError extends Error {
  readonly code: 'OVALIS_CONFIG';
}

export class AppConfig {
  /** The application folder (absolute) and the file as given. */
  readonly dir: string;
  readonly file: string;
  readonly id: string;
  readonly name: string;
  readonly version: string;
  readonly description: string;
  readonly icon: string;
  readonly page: string;
  readonly window: {
    title: string; width: number; height: number;
    /** The launcher's seven chrome fields, or null when not given. */
    chrome: string[] | null;
    accessory: boolean; deferShow: boolean;
  };
  readonly backend: { command: string[]; build: string[]; watch: string[] };
  readonly origins: { pattern: string; grants: string[] }[];
  readonly media: string[];
  readonly downloads: string;
  readonly popups: string;
  readonly mimeTypes: string[];
  readonly schemes: string[];
  /** WebKitWebDriver may drive the application (OVALIS_AUTOMATION). */
  readonly automation: boolean;
  readonly pageIsUrl: boolean;
  readonly pageTarget: string;
  readonly iconPath: string;
  readonly pageOrigin: string;
  socketPath(env?: Record<string, string | undefined>): string;
  launcherEnv(): Record<string, string>;
  callsAllowed(origin: string): boolean;
}

/** Reads <dir>/ovalis.json (or the file named); throws ConfigError. */
export function loadAppConfig(where?: string, env?: Record<string, string | undefined>): AppConfig;
export function parseAppConfig(text: string | Uint8Array, file: string, dir: string): AppConfig;
