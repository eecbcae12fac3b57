// ovalis-backend: the backend's end of the launcher link for Node.
//
//   import { Backend } from 'ovalis-backend';
//   const app = new Backend();
//   app.handle('greet', ({ name }) => ({ text: `Hello, ${name}` }));
//   await app.start({ page: new URL('./page/index.html', import.meta.url), title: 'Hello' });
//   process.exitCode = await app.run();

export { Backend, Call, OvalisError, TimeoutError, LauncherGoneError } from './lib/backend.js';
export * as line from './lib/commands.js';
export {
  wireEscape, wireUnescape, oneLine, splitTabs, escapedFields, plainFields, targeted, jsonText,
  parseCall, parseGot, parseEvent, retLine, emitLine, emitScript, LineFramer,
} from './lib/wire.js';
export { findLauncher, openRequest, isOpenRequest, forwardOpen, listenForOpen } from './lib/launch.js';
export { loadAppConfig, parseAppConfig, AppConfig, ConfigError } from './lib/config.js';
export { originGlob } from './lib/origins.js';
