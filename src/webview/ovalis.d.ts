// Type declarations for `window.ovalis`, the page API that the launcher
// injects into every top-level page of an ovalis application.
//
// Every method that returns a promise is one call {method, params} to the
// application's backend, which decides what it does and what it answers; the
// result types below are those of the launcher's own answers where the usual
// backend passes them through, and `Answer` (any JSON value) where the
// backend alone defines them. A call rejects when the backend answers it with
// an error, and when the page is not one the launcher bridges (a third-party
// frame, or a document that replaced the application's page).
//
// Use it from TypeScript with `/// <reference path="ovalis.d.ts" />` or by
// listing it in tsconfig.json; from plain JavaScript, add `// @ts-check` to a
// script and list this file in a jsconfig.json or tsconfig.json.

/** Any JSON value, as the backend answers it. */
export type Answer = any;

/** An answer that reports a failure without rejecting. */
export interface Failure {
  ok: false;
  error?: string;
  code?: string;
}

/** The answer to a call the running platform cannot carry out. */
export interface Unsupported {
  status: 'unsupported';
}

/** Removes the handler it was returned for. */
export type Unsubscribe = () => void;

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

/** Window state as reported by `win.getState()` and the "window-state" event. */
export interface WindowStateChange {
  fullscreen: boolean;
  maximized: boolean;
  minimized: boolean;
  focused: boolean;
  /** Index of the window's monitor in `app.screens()`. */
  screenId: number;
}

/** A change of the clipboard. */
export interface ClipboardChange {
  /** The clipboard's new change count. */
  changeCount?: number;
  /** True when the change is the application's own last write. */
  self?: boolean;
  [member: string]: Answer;
}

/** Paths that started or stopped working after new verdicts arrived. */
export interface CapabilitiesChange {
  added: string[];
  removed: string[];
}

/** A button of a notification, or its inline reply, was used. */
export interface NotificationAction {
  /** The notification's id. */
  id: string;
  /** The action's id. */
  action: string;
  /** The text typed into an inline reply, if any. */
  reply?: string;
}

/** A media key, or a command from the desktop's media controls. */
export interface MediaKey {
  command: 'play' | 'pause' | 'toggle' | 'next' | 'previous' | 'seek';
  /** Target position in seconds, for "seek". */
  time?: number;
}

/** One block of audio from a running tap. */
export interface AudioTapBlock {
  /** Base64 of interleaved little-endian signed 16-bit samples. */
  pcm: string;
  sampleRate: number;
  channels: number;
  /** Sample frames in this block. */
  frames: number;
  /** Time stamp of the block. */
  t: number;
}

/**
 * The events the page API listens to, by name, with the `data` each one
 * carries. Backends may push further events of their own (for example the
 * session's "sleep" and "wake"); `api.on` hears those too.
 */
export interface OvalisEvents {
  /** The window's state changed. */
  'window-state': WindowStateChange;
  /** Files were dropped on the window. */
  drop: { paths: string[] };
  /** An item of the application menu or a window menu was chosen. */
  menu: { id: string };
  /** An item of the page's context menu was chosen. */
  contextmenu: { id: string };
  /** An item of the tray menu was chosen. */
  tray: { id: string };
  /** The tray icon was clicked. */
  trayclick: undefined;
  /** The desktop switched between light and dark. */
  theme: { dark: boolean };
  /** A registered global hotkey was pressed. */
  hotkey: { id: string };
  /** The clipboard changed while a watch runs. */
  'clipboard-change': ClipboardChange;
  /** The set of working capability paths changed. */
  'capabilities-change': CapabilitiesChange;
  /** The desktop asked the application to open a URL. */
  'open-url': { url: string };
  /** The desktop asked the application to open files. */
  'open-files': { paths: string[] };
  /** A notification was clicked. */
  'notification-click': { id: string };
  /** A notification's action was used. */
  'notification-action': NotificationAction;
  /** The monitor layout changed. */
  'screens-changed': Answer;
  /** A media key was pressed. */
  'media-key': MediaKey;
  /** Audio from a running tap. */
  'audio-tap': AudioTapBlock;
}

/** Raw calls and the event hub. */
export interface OvalisApi {
  /** Sends one call to the backend: `{method, params}`; undefined params are left out. */
  call(method: string, params?: object): Promise<Answer>;
  /**
   * Adds a handler for an event the backend pushes. The same function may be
   * added twice. Returns a function that removes it again.
   */
  on<K extends keyof OvalisEvents>(event: K, fn: (data: OvalisEvents[K]) => void): Unsubscribe;
  on(event: string, fn: (data: Answer) => void): Unsubscribe;
  /** Removes the first registration of `fn` for the event; nothing when it has none. */
  off(event: string, fn: (data: Answer) => void): void;
  /**
   * Sends binary data to the backend as a file rather than as text, then
   * calls `method` with `params` plus `bytes`, a reference the backend's
   * library turns back into the bytes. Resolves with the backend's answer.
   */
  sendBytes(method: string, data: ArrayBuffer | ArrayBufferView | Blob, params?: object): Promise<Answer>;
  /**
   * Calls `method`, whose answer must be a reference to bytes the backend
   * offered (its library answers so when a handler returns bytes), and
   * fetches those bytes. Rejects with a TypeError when the answer is anything else.
   */
  fetchBytes(method: string, params?: object): Promise<Uint8Array>;
}

// ---------------------------------------------------------------------------
// Fetch and URLs
// ---------------------------------------------------------------------------

/** Options of `ovalis.fetch`: those of `fetch`, plus streaming. */
export interface OvalisFetchInit {
  method?: string;
  headers?: HeadersInit | Record<string, string>;
  /** A string, URL search parameters, binary data (sent as Base64) or any value sent as its text. */
  body?: unknown;
  redirect?: 'follow' | 'error' | 'manual';
  /** Read the body in chunks as the page consumes it instead of all at once. */
  stream?: boolean;
}

// ---------------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------------

/** A screen, or its id. */
export type ScreenRef = ScreenInfo | string | number;

/** Units of sizes and positions: logical pixels or device pixels. */
export type Units = 'px' | 'pt' | string;

/** Options of `win.open`. */
export interface WindowOptions {
  url?: string;
  title?: string;
  width?: number;
  height?: number;
  x?: number;
  y?: number;
  frame?: boolean;
  transparent?: boolean;
  resizable?: boolean;
  alwaysOnTop?: boolean;
  [option: string]: Answer;
}

/** The window's frame and decorations. */
export interface Chrome {
  frame?: boolean;
  windowControls?: null;
  transparent?: boolean;
  vibrancy?: string | null;
  squareCorners?: boolean;
  acceptsFirstMouse?: boolean;
}

/** The full state of a window, as `win.getState()` answers it. */
export interface WindowState {
  x: number;
  y: number;
  /** Content width. */
  width: number;
  /** Content height, without the menu bar. */
  height: number;
  /** Size including the window manager's frame. */
  outer: { width: number; height: number };
  fullscreen: boolean;
  minimized: boolean;
  visible: boolean;
  focused: boolean;
  alwaysOnTop: boolean;
  resizable: boolean;
  clickThrough: boolean;
  level: WindowLevel;
  allSpaces: boolean;
  chrome: Chrome;
  /** Whether the application may place windows (false on Wayland). */
  canPosition: boolean;
  /** The window's monitor: size in logical pixels and scale factor. */
  screen: { width: number; height: number; scale: number };
  screenId: number;
  /** Position relative to the monitor's top-left corner. */
  local: { x: number; y: number };
  /** Position and size in device pixels. */
  pixels: { x: number; y: number; width: number; height: number };
}

/** Stacking level of a window. */
export type WindowLevel = 'normal' | 'floating' | 'overlay' | 'desktop';

/** Edge or corner of a window. */
export type Edge = 'n' | 'ne' | 'e' | 'se' | 's' | 'sw' | 'w' | 'nw';

/** One entry of a menu. */
export interface MenuItem {
  id?: string;
  label?: string;
  /** Accelerator, such as "Shift+N". */
  key?: string;
  checked?: boolean;
  enabled?: boolean;
  icon?: string;
  submenu?: MenuItem[];
  separator?: boolean;
  /** A standard item, such as "copy". */
  role?: string;
}

/** One menu of a menu bar. */
export interface Menu {
  title: string;
  items: MenuItem[];
}

/** Changes to a menu item. */
export type MenuItemPatch = Partial<Pick<MenuItem, 'label' | 'key' | 'checked' | 'enabled' | 'icon'>>;

/** The window menu bar of the page's window. */
export interface WindowMenu {
  /** Replaces this window's menu bar. */
  set(menus: Menu[]): Promise<Answer>;
  /** Gives this window the application menu again. */
  reset(): Promise<Answer>;
  /** Changes one item. */
  update(id: string, patch?: MenuItemPatch): Promise<Answer>;
  /** Reads one item's state. */
  get(id: string): Promise<Answer>;
}

/** The window the page lives in, unless a method takes a window id. */
export interface OvalisWin {
  /** This window's id: "main" for the main window. */
  readonly id: string;
  /** Opens a secondary window under the given id. */
  open(id: string, opts?: WindowOptions): Promise<Answer>;
  /** Closes the window with the given id, or this window. */
  close(id?: string): Promise<Answer>;
  /** Lists the ids of the open windows. */
  windows(): Promise<Answer>;
  setTitle(title: string): Promise<Answer>;
  /** Sets the content size. */
  setSize(width: number, height: number, opts?: { units?: Units }): Promise<Answer>;
  hide(opts?: object): Promise<Answer>;
  show(opts?: object): Promise<Answer>;
  center(): Promise<Answer>;
  minimize(): Promise<Answer>;
  /** Toggles fullscreen. */
  fullscreen(): Promise<Answer>;
  setAlwaysOnTop(enabled: boolean): Promise<Answer>;
  setResizable(enabled: boolean): Promise<Answer>;
  setMinSize(width: number, height: number): Promise<Answer>;
  /** Sets the page zoom factor. */
  setZoom(factor: number): Promise<Answer>;
  /** Lets pointer events pass through the window. */
  setClickThrough(enabled: boolean): Promise<Answer>;
  setLevel(level: WindowLevel): Promise<Answer>;
  /** Shows the window on every workspace. */
  setAllSpaces(enabled: boolean): Promise<Answer>;
  setPosition(x: number, y: number, opts?: { screen?: ScreenRef; units?: Units }): Promise<Answer>;
  /** Moves the window back onto a monitor when it lies off every one. */
  ensureOnScreen(): Promise<Answer>;
  restore(): Promise<Answer>;
  setFullscreen(enabled: boolean, opts?: { screen?: ScreenRef }): Promise<Answer>;
  getState(): Promise<WindowState | null>;
  /** Calls fn whenever the window's state changes. */
  onState(fn: (state: WindowStateChange) => void): Unsubscribe;
  /** Makes closing the window hide it instead. */
  setHideOnClose(enabled: boolean): Promise<Answer>;
  setChrome(opts: Chrome): Promise<Answer>;
  /** With files, drags them out of the window; without, moves the window with the pointer. */
  startDrag(opts?: { files: string[]; icon?: string }): Promise<Answer>;
  /** Resizes the window from an edge with the pointer. */
  startResize(edge: Edge): Promise<Answer>;
  /** Drags files out of the window. */
  dragOut(opts: { files: string[]; icon?: string }): Promise<Answer>;
  /** Toggles maximized. */
  zoom(): Promise<Answer>;
  /** Opens the print dialog for the page. */
  print(): Promise<Answer>;
  /** Writes the page as a PDF file. */
  printToPDF(path: string): Promise<Answer>;
  /** Finds text in the page; forward unless `forward` is false. */
  find(term: string, opts?: { forward?: boolean; matchCase?: boolean }): Promise<Answer>;
  stopFind(): Promise<Answer>;
  /** This window's own menu bar. */
  menu: WindowMenu;
  /** Calls fn with the paths of files dropped on the window. */
  onDrop(fn: (paths: string[]) => void): Unsubscribe;
  /** Opens the desktop's share sheet. */
  share(opts?: object): Promise<Answer>;
}

/** The application menu, shown in every window without a menu of its own. */
export interface OvalisMenu {
  set(menus: Menu[]): Promise<Answer>;
  /** Calls fn with the id of the chosen item. */
  on(fn: (id: string) => void): Unsubscribe;
  update(id: string, patch?: MenuItemPatch): Promise<Answer>;
  get(id: string): Promise<Answer>;
  /** Sets the page's context menu; null restores the default one. */
  setContext(items: MenuItem[] | null): Promise<Answer>;
  /** Calls fn with the id of the chosen context-menu item. */
  onContext(fn: (id: string) => void): Unsubscribe;
}

/** The tray indicator. */
export interface TraySpec {
  title?: string;
  icon?: string;
  template?: boolean;
  tooltip?: string;
  /** Id of the menu item a click on the icon stands for. */
  primaryAction?: string;
  menu?: MenuItem[];
}

export interface OvalisTray {
  set(spec: TraySpec): Promise<Answer>;
  remove(): Promise<Answer>;
  /** Where the icon is on screen, when the desktop tells. */
  position(): Promise<Answer>;
  /** Calls fn with the id of the chosen tray-menu item. */
  on(fn: (id: string) => void): Unsubscribe;
  /** Calls fn when the icon itself is clicked. */
  onClick(fn: () => void): Unsubscribe;
}

// ---------------------------------------------------------------------------
// Dialogs, theme, store, hotkeys, clipboard
// ---------------------------------------------------------------------------

/** Options of the message dialogs. */
export interface MessageOptions {
  detail?: string;
  /** Label of the accepting button. */
  ok?: string;
  /** Label of the refusing button. */
  cancel?: string;
  [option: string]: Answer;
}

/** Options of `dialog.prompt`. */
export interface PromptOptions extends MessageOptions {
  /** Initial text. */
  value?: string;
}

/** Application-modal native dialogs. */
export interface OvalisDialog {
  /** Resolves with the chosen path, or null when cancelled. */
  openFile(opts?: { types?: string[] }): Promise<string | null>;
  /** Resolves with the chosen paths (empty when cancelled). */
  openFiles(opts?: { types?: string[] }): Promise<string[] | null>;
  pickFolder(): Promise<string | null>;
  saveFile(opts?: { types?: string[]; name?: string }): Promise<string | null>;
  /** `opts` may be the detail text. Throws a TypeError before any call for other kinds of `opts`. */
  alert(message: string, opts?: MessageOptions | string | null): Promise<Answer>;
  /** Resolves true when accepted. `opts` may be the detail text. */
  confirm(message: string, opts?: MessageOptions | string | null): Promise<boolean>;
  /** Resolves with the text entered, or null when cancelled. */
  prompt(message: string, opts?: PromptOptions | null): Promise<string | null>;
}

export interface OvalisTheme {
  get(): Promise<Answer>;
  /** Calls fn with true when the desktop turns dark, false when it turns light. */
  on(fn: (dark: boolean) => void): Unsubscribe;
}

/** Persistent settings kept by the backend. */
export interface OvalisStore {
  get(key: string): Promise<Answer>;
  set(key: string, value: Answer): Promise<Answer>;
  delete(key: string): Promise<Answer>;
  all(): Promise<Answer>;
}

/** Global hotkeys, pressed anywhere on the desktop. */
export interface OvalisHotkey {
  /** Registers a key combination such as "Ctrl+Shift+K" under an id. */
  register(id: string, combo: string): Promise<Answer>;
  unregister(id: string): Promise<Answer>;
  /** Calls fn with the id of the pressed hotkey. */
  on(fn: (id: string) => void): Unsubscribe;
}

/** What the clipboard holds. */
export interface ClipboardContent {
  kind: 'files' | 'image' | 'text' | 'empty';
  changeCount: number;
  text: string | null;
  html: string | null;
  paths: string[];
  /** Path of a temporary PNG file with the image. */
  image: string | null;
  imageSize: { width: number; height: number } | null;
  color: string | null;
  concealed: boolean;
  sourceApp: string | null;
  sourceURL: string | null;
}

/** Data to put on the clipboard. */
export interface ClipboardData {
  text?: string;
  html?: string;
  paths?: string[];
  /** Path of an image file. */
  image?: string;
  color?: string;
}

export interface OvalisClipboard {
  read(): Promise<ClipboardContent>;
  write(data: ClipboardData): Promise<Answer>;
  changeCount(): Promise<{ changeCount: number }>;
  /** Starts reporting changes as "clipboard-change" events. */
  watch(intervalMs?: number): Promise<Answer>;
  unwatch(): Promise<Answer>;
  /** Calls fn on every change; starts a watch when none runs. */
  onChange(fn: (change: ClipboardChange) => void): Unsubscribe;
}

// ---------------------------------------------------------------------------
// Capabilities
// ---------------------------------------------------------------------------

/** Why a path does or does not work. */
export type CapabilityAnswer =
  | { ok: true }
  | { ok: false; why: 'unknown' | 'pending' }
  | { ok: false; why: 'gate'; needs: Answer[] }
  | { ok: false; why?: string; feature?: string };

/**
 * Which methods of this API work here. Paths are dotted method names such as
 * "win.setSize" (a leading "ovalis." is allowed); "tray.*" stands for any
 * method under "tray". The answers are informational: the backend still
 * decides every call.
 */
export interface OvalisCapabilities {
  /** Settles once the first verdicts arrived, or after 3 seconds. */
  readonly ready: Promise<void>;
  can(path: string): boolean;
  get(path: string): CapabilityAnswer;
  /** The sorted list of working paths (empty before the verdicts). */
  list(): string[];
  /** Calls fn when paths start or stop working. */
  onChange(fn: (change: CapabilitiesChange) => void): Unsubscribe;
  /** Asks the backend for the verdicts again. */
  refresh(): Promise<void>;
}

// ---------------------------------------------------------------------------
// System
// ---------------------------------------------------------------------------

/** A system package a feature needs, and whether it is there. */
export interface Requirement {
  id: string;
  ok: boolean;
  feature: string;
  detail: string;
  install: { manager: string; packages: string[]; command: string } | null;
}

/** Ids of the features `system.requirements` knows. */
export type RequirementId =
  | 'media.aac' | 'media.h264' | 'media.mp3' | 'speech' | 'spotlight.index'
  | 'audioTap' | 'mouseTracking' | 'tray' | 'windowPosition';

/** Labels of the missing-package prompt. */
export interface PromptMissingOptions {
  title?: string;
  /** Label of the button that copies the install command. */
  ok?: string;
  cancel?: string;
}

export interface Battery {
  percent: number;
  charging: boolean;
  plugged: boolean;
  minutesRemaining: number | null;
}

export interface OvalisSystem {
  /** The operating system, read from the user agent. */
  os(): 'windows' | 'linux' | 'macos';
  isMacOS(): boolean;
  isWindows(): boolean;
  isLinux(): boolean;
  info(): Promise<Answer>;
  /** The "arch" member of `info()`. */
  architecture(): Promise<string | undefined>;
  capabilities(): Promise<Answer>;
  locale(): Promise<Answer>;
  /** The battery, or null when the machine has none. */
  battery(): Promise<Battery | null>;
  wifi(): Promise<Answer>;
  /** Time since the last user input. */
  idleTime(): Promise<Answer>;
  /** The named requirements (all of them without ids). */
  requirements(ids?: RequirementId[] | string[] | null, opts?: { refresh?: boolean }): Promise<Requirement[] | { requirements: Requirement[] }>;
  /** The requirements that are not met. */
  missing(ids?: RequirementId[] | string[] | null): Promise<Requirement[]>;
  /**
   * Tells the user which packages are missing and offers to copy one command
   * that installs them all. Shows nothing when nothing is missing.
   */
  promptMissing(ids?: RequirementId[] | string[] | null, opts?: PromptMissingOptions): Promise<{ missing: Requirement[]; copied: boolean }>;
}

// ---------------------------------------------------------------------------
// App
// ---------------------------------------------------------------------------

/** A monitor, as `app.screens()` lists it. */
export interface ScreenInfo {
  id: number;
  /** Stable identifier: connector/manufacturer/model. */
  uid: string;
  name: string | null;
  x: number;
  y: number;
  width: number;
  height: number;
  /** The work area, without panels and docks. */
  visible: { x: number; y: number; width: number; height: number };
  scale: number;
  primary: boolean;
  internal: boolean;
  pixels: { width: number; height: number; visible: { x: number; y: number; width: number; height: number } };
}

/** A rectangle in logical pixels. */
export interface Rect {
  x: number;
  y: number;
  width: number;
  height: number;
}

export interface NowPlayingInfo {
  title?: string;
  artist?: string;
  album?: string;
  /** Seconds. */
  duration?: number;
  /** Seconds. */
  elapsed?: number;
  playing?: boolean;
}

export interface OvalisApp {
  info(): Promise<Answer>;
  /** Calls fn with URLs the desktop asks the application to open. */
  onOpenUrl(fn: (url: string) => void): Unsubscribe;
  /** Calls fn with files the desktop asks the application to open. */
  onOpenFiles(fn: (paths: string[]) => void): Unsubscribe;
  /** Calls fn with the id of a clicked notification. */
  onNotificationClick(fn: (id: string) => void): Unsubscribe;
  onNotificationAction(fn: (action: NotificationAction) => void): Unsubscribe;
  update: {
    check(): Promise<Answer>;
    install(): Promise<Answer>;
  };
  /** Sends a key combination such as "Ctrl+V" to the focused application. */
  keystroke(combo: string): Promise<Answer>;
  /** Pastes into the focused application. */
  paste(): Promise<Answer>;
  permissions: {
    check(name: string): Promise<Answer>;
    request(name: string): Promise<Answer>;
  };
  mousePosition(): Promise<Answer>;
  mouseTracking: {
    /** Rejects with an Error carrying `code` when tracking cannot start. */
    start(): Promise<{ ok: true; [member: string]: Answer }>;
    stop(): Promise<Answer>;
  };
  screens(): Promise<ScreenInfo[]>;
  screenAt(x: number, y: number): Promise<Answer>;
  screenFor(rect: Rect): Promise<Answer>;
  foregroundScreen(): Promise<Answer>;
  /** Finds the monitor that best matches one saved earlier. */
  matchScreen(saved: Partial<ScreenInfo>): Promise<Answer>;
  onScreensChanged(fn: (data: Answer) => void): Unsubscribe;
  paths(): Promise<Answer>;
  setAsDefaultHandler(ext: string): Promise<Answer>;
  shell: {
    /** Opens a file, folder or URL with the desktop's default application. */
    open(target: string): Promise<Answer>;
    /** Shows a file in the file manager. */
    reveal(path: string): Promise<Answer>;
    /** Moves a file to the trash. */
    trash(path: string): Promise<Answer>;
  };
  launchAtLogin: {
    get(): Promise<Answer>;
    set(enabled: boolean): Promise<Answer>;
  };
  /** Sets the launcher badge; an empty text removes it. */
  badge(text: string | number): Promise<Answer>;
  /** Asks for the user's attention. */
  attention(opts?: object): Promise<Answer>;
  icon(path: string): Promise<Answer>;
  /** Shows progress (0 to 1) on the launcher entry; a negative value removes it. */
  progress(value: number): Promise<Answer>;
  presence(mode: 'normal' | 'menubar'): Promise<Answer>;
  power: {
    /** Keeps the machine awake, or with `{display: true}` the screen too. */
    preventSleep(reason: string, opts?: { display?: boolean }): Promise<{ ok: boolean; active: boolean } | Answer>;
    allowSleep(): Promise<Answer>;
  };
  frontmostApp(): Promise<Answer>;
  /** Searches files by name. */
  spotlight(query: string): Promise<Answer>;
  beep(): Promise<Answer>;
  /** Plays a sound file or a named system sound. */
  playSound(target: string): Promise<Answer>;
  captureScreen(screenId?: number | string): Promise<Answer>;
  pickColor(): Promise<Answer>;
  thumbnail(path: string, size?: number): Promise<Answer>;
  /** The desktop's secret store. */
  secrets: {
    get(key: string): Promise<Answer>;
    set(key: string, value: string): Promise<Answer>;
    delete(key: string): Promise<Answer>;
  };
  authenticate(reason: string): Promise<Answer>;
  /** The desktop's media controls. */
  nowPlaying: {
    set(info?: NowPlayingInfo): Promise<Answer>;
    clear(): Promise<Answer>;
  };
  onMediaKey(fn: (key: MediaKey) => void): Unsubscribe;
  /** Speaks a text. */
  say(text: string, opts?: { voice?: string; rate?: number }): Promise<Answer>;
  stopSpeaking(): Promise<Answer>;
  voices(): Promise<Answer>;
}

// ---------------------------------------------------------------------------
// Audio
// ---------------------------------------------------------------------------

export type BiquadType =
  | 'peaking' | 'lowshelf' | 'highshelf' | 'lowpass' | 'highpass' | 'bandpass' | 'notch' | 'allpass';

/** One stage of an equalizer chain. */
export interface Filter {
  /** Default "peaking". "gain" is a plain linear gain stage. */
  type?: BiquadType | 'gain';
  /** Hertz. */
  freq?: number;
  q?: number;
  /** Decibels for a biquad; a linear factor for "gain". */
  gain?: number;
  /** The right channel's gain, when it differs. */
  gainR?: number;
}

/** An equalizer built from Web Audio nodes inside the page. */
export interface PageChain {
  readonly input: GainNode;
  readonly output: GainNode;
  filters(list: Filter[]): true;
  filter(index: number, patch: Partial<Filter>): true;
  /** -1 is left only, 1 right only. */
  balance(value: number): true;
  clear(): true;
}

/** Playback options of a sample. */
export interface VoiceOptions {
  vol?: number;
  pan?: number;
  rate?: number;
  loop?: boolean;
}

/** A playing sample. */
export interface Voice {
  id: Answer;
  set(patch?: Omit<VoiceOptions, 'loop'>): Promise<Answer>;
  stop(): Promise<Answer>;
}

export interface OvalisSampler {
  /** Loads a sound from a file path or from bytes. Throws before any call for other sources. */
  load(name: string, source: string | ArrayBuffer | ArrayBufferView | Blob): Promise<Answer>;
  play(name: string, opts?: VoiceOptions): Promise<Voice>;
  stopAll(): Promise<Answer>;
  master(value: number): Promise<Answer>;
  unload(name: string): Promise<Answer>;
}

/** The system-wide equalizer and the low-latency sample player. */
export interface OvalisAudio {
  filters(list?: Filter[]): Promise<Answer>;
  filter(index: number, patch?: Partial<Filter>): Promise<Answer>;
  balance(value: number): Promise<Answer>;
  /** Removes every filter and centres the balance. */
  clear(): Promise<Answer>;
  pageChain(ctx: BaseAudioContext): PageChain;
  sampler: OvalisSampler;
}

export interface AudioTapOptions {
  scope?: 'app' | 'system';
  excludeSelf?: boolean;
  /** Milliseconds between blocks. */
  interval?: number;
}

/** Audio captured from the application or the whole system. */
export interface OvalisAudioTap {
  /** Rejects with an Error carrying `code` when the tap cannot start. */
  start(opts?: AudioTapOptions): Promise<true>;
  stop(): Promise<Answer>;
  on(fn: (block: AudioTapBlock) => void): Unsubscribe;
}

/** Calls that exist on macOS only; elsewhere they answer as unsupported. */
export interface OvalisMacos {
  applescript(source: string): Promise<Answer>;
  quickLook(paths: string[]): Promise<Answer>;
  ocr(path: string): Promise<Answer>;
  recorder: {
    start(opts?: object): Promise<Answer>;
    stop(): Promise<Answer>;
  };
  ai: {
    availability(): Promise<Answer>;
    /** `tools` only works from the backend; given here, it is ignored with a warning. */
    generate(prompt: string, opts?: { instructions?: string; tools?: unknown }): Promise<Answer>;
  };
  selectedText(): Promise<Answer>;
  otherWindows(): Promise<Answer>;
  moveWindow(pid: number, rect?: Partial<Rect>): Promise<Answer>;
}

// ---------------------------------------------------------------------------
// The namespace
// ---------------------------------------------------------------------------

export interface Ovalis {
  /** Raw calls and the event hub. */
  api: OvalisApi;
  /**
   * A request carried out by the backend, free of the page's cross-origin
   * limits. Resolves to a real Response whose `url` and `redirected` are
   * those the backend saw.
   */
  fetch(url: string | URL, init?: OvalisFetchInit): Promise<Response>;
  /** The address of a remote http(s) resource through the launcher's media proxy. */
  proxyURL(url: string | URL): string;
  /** A file URL for a local path (POSIX, Windows drive or UNC form). */
  fileURL(path: string): string;
  /** Writes a message to the backend's log. */
  log(msg: string): Promise<Answer>;
  /** Ends the application. */
  quit(): Promise<Answer>;
  /** Shows a desktop notification. */
  notify(title: string, body?: string, opts?: { id?: string; subtitle?: string; sound?: string | boolean; silent?: boolean; actions?: Answer[]; [option: string]: Answer }): Promise<Answer>;
  win: OvalisWin;
  menu: OvalisMenu;
  tray: OvalisTray;
  dialog: OvalisDialog;
  theme: OvalisTheme;
  store: OvalisStore;
  hotkey: OvalisHotkey;
  clipboard: OvalisClipboard;
  /** Present once the page has loaded the script; informational only. */
  capabilities: OvalisCapabilities;
  system: OvalisSystem;
  app: OvalisApp;
  audio: OvalisAudio;
  audioTap: OvalisAudioTap;
  macos: OvalisMacos;
}

declare global {
  interface Window {
    /** The page API of the ovalis launcher. */
    readonly ovalis: Ovalis;
  }
  /** The page API of the ovalis launcher. */
  var ovalis: Ovalis;
}
