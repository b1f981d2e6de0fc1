'use strict';
// The Node.js host's binding to the 64-bit proxy (VxKaleoSDKProxy64.dll)
// through koffi. What a host must know:
//
// - Run it in a 64-bit node.exe; the DLL keeps one device table per process,
//   so open one proxy per process.
// - Call order: init() first, then requests (addHidDevice(), addAccessoryApp(),
//   addHueBulb(), setDeviceState(), removeDevice()), await uninit() last, then
//   await close(). init() returns how many published devices it found, or
//   INIT_NO_DEVICES (-1); uninit() resolves to the number of device records it
//   removed, or UNINIT_NOT_INITIALISED (1627).
// - Events arrive on the JS main thread: a device's reader thread (or the
//   batch timer) calls the registered callback, koffi queues the call and the
//   native thread waits until the event loop runs it. Hence:
//   * keep the event loop alive (a timer) while waiting for events;
//   * every export that can wait for such a thread (RemoveDevice, UnInit,
//     the action entry that reaches them, SetOperatingMode stopping the batch
//     timer, SetNodeFFIEvent clearing the callback) is called with koffi's
//     async form, so the main thread stays free to run the callbacks the
//     native thread waits on;
//   * while one of those async calls that touch the device side is in flight,
//     the synchronous device requests (init(), invoke() and its helpers) are
//     refused: the DLL does not lock its instance against concurrent use.
// - close() releases in the one safe order: uninit if needed, mode 0, clear the
//   callback, let queued callbacks drain, and only then unregister the koffi
//   callback and unload the DLL. A callback unregistered while a native thread
//   may still call it would jump into a freed trampoline.
//
// Every export is declared once in EXPORTS; a method per export wraps it.
const koffi = require('koffi');

const INIT_NO_DEVICES = -1;
const UNINIT_NOT_INITIALISED = 1627; // ERROR_FUNCTION_FAILED

// Win32 codes the proxy answers with, by name.
const ERROR = Object.freeze({
  SUCCESS: 0,
  BAD_FORMAT: 11,
  INVALID_DATA: 13,
  INVALID_PARAMETER: 87,
  ALREADY_EXISTS: 183,
  DEVICE_NOT_CONNECTED: 1167,
  NOT_FOUND: 1168,
  INVALID_INDEX: 1413,
  UNKNOWN_PRODUCT: 1605,
  UNKNOWN_FEATURE: 1606,
  FUNCTION_FAILED: 1627,
  CREATE_FAILED: 1631,
  EMPTY: 4306,
  OBJECT_NOT_FOUND: 4312,
});

// How lighting events reach the host.
const MODE = Object.freeze({ IMMEDIATE: 0, POLLING: 1, BATCHED: 2 });

// Product ids that select the attach variant; every other pid is a HID/USB device.
const PID = Object.freeze({ HUE_BULB: 769, ACCESSORY_APP: 770, ACCESSORY_APP_KEYBOARD: 818 });
const ACCESSORY_PIDS = Object.freeze([PID.ACCESSORY_APP, PID.ACCESSORY_APP_KEYBOARD]);

const LIGHTING_EVENT_ID = 2;
const EVENT_NAME = 'onKaleoSdkLightingCallback';

// Status of the action entry when the request itself could not be handled
// (E_FAIL as a signed 32-bit number).
const ACTION_FAILED = -2147467259;

// Callback and allocator types; koffi type names are process-wide.
const EventCallback = koffi.proto('void KaleoProxyEventCallback(const char *text)');

const EXPORTS = Object.freeze({
  AddDevice: 'int AddDevice()',
  FreeMalloc: 'void FreeMalloc(void *block)',
  Init: 'int Init()',
  Invoke: 'int Invoke(const char16_t *request, _Out_ void **response)',
  PollEvents: 'void *PollEvents()',
  RemoveDevice: 'int RemoveDevice(int handle)',
  // Booleans are 32-bit BOOLs (int), read and passed whole.
  SetAllocator: 'int SetAllocator(void *allocator)',
  SetNodeFFIEvent: 'int SetNodeFFIEvent(KaleoProxyEventCallback *callback)',
  SetOperatingMode: 'void SetOperatingMode(uint32_t mode)',
  UnInit: 'int UnInit()',
  UsePollingMode: 'void UsePollingMode(int enable)',
  VxKaleoSDKProxy: 'void *VxKaleoSDKProxy(const char *request)',
  VxKaleoSDKProxyNoReturn: 'void VxKaleoSDKProxyNoReturn(const char *request)',
});

// A request the proxy answered with a failure: "message" and "result" are the
// proxy's own; func names the request.
class KaleoProxyError extends Error {
  constructor(func, message, result, response = null) {
    super(message);
    this.name = 'KaleoProxyError';
    this.func = func;
    this.result = result;
    this.response = response;
  }
}

let comTaskMemFree = null;
// Invoke's response text comes from the COM task allocator.
function coTaskMemFree(block) {
  if (!comTaskMemFree) comTaskMemFree = koffi.load('ole32.dll').func('void CoTaskMemFree(void *block)');
  comTaskMemFree(block);
}

class KaleoProxy {
  #lib = null;
  #exports = null;
  #initialised = false;
  #mode = MODE.IMMEDIATE;
  #modeSet = false;
  #callback = null; // the registered koffi callback, once onEvent() ran
  #listeners = new Set();
  #malformedEvents = 0;
  #releaseAllocated = null; // set with a custom allocator
  #pending = []; // names of the device-side async calls queued or running
  #queue = Promise.resolve();
  #closing = null;

  // Loads the DLL from dllPath, or from KALEO_PROXY_DLL when none is given,
  // and resolves every export; throws when the file or an export is missing.
  open(dllPath = process.env.KALEO_PROXY_DLL) {
    if (this.#lib) throw new Error('the proxy is already open');
    if (typeof dllPath !== 'string' || dllPath.length === 0) {
      throw new TypeError('no proxy DLL path: pass one or set KALEO_PROXY_DLL');
    }
    let lib;
    try {
      lib = koffi.load(dllPath);
    } catch (err) {
      throw new Error(`cannot load the proxy from ${dllPath}: ${err.message}`);
    }
    try {
      this.#exports = bindExports(lib);
    } catch (err) {
      lib.unload();
      throw new Error(`${dllPath} is not the proxy: ${err.message}`);
    }
    this.#lib = lib;
    this.#closing = null;
    return this;
  }

  get isOpen() {
    return this.#lib !== null && this.#closing === null;
  }

  get isInitialised() {
    return this.#initialised;
  }

  // The last mode set through this object.
  get mode() {
    return this.#mode;
  }

  // Event texts that were not JSON and so reached no listener.
  get malformedEvents() {
    return this.#malformedEvents;
  }

  // Number of devices found, or INIT_NO_DEVICES.
  init() {
    const found = this.#callDevice('Init');
    this.#initialised = true;
    return found;
  }

  // Resolves to the number of device records removed, or UNINIT_NOT_INITIALISED.
  async uninit() {
    const result = await this.#callDeviceAsync('UnInit');
    this.#initialised = false;
    return result;
  }

  // Sends a request object (or a raw text) to Invoke. Returns { code, response }:
  // the function result and the parsed response object ({ message, result,
  // return }), or response null when the DLL stored none.
  invoke(request) {
    const text = typeof request === 'string' ? request : JSON.stringify(request);
    const out = [null];
    const code = this.#callDevice('Invoke', text, out);
    return { code, response: takeInvokeResponse(out[0]) };
  }

  // The three attach variants; each returns the device handle or throws a
  // KaleoProxyError carrying the proxy's "message" and "result".
  addHidDevice(pid, containerId) {
    checkInt32('pid', pid);
    if (pid === PID.HUE_BULB || ACCESSORY_PIDS.includes(pid)) {
      throw new RangeError(`pid ${pid} is not a HID/USB device: use addHueBulb() or addAccessoryApp()`);
    }
    if (typeof containerId !== 'string') throw new TypeError('containerId must be a string');
    return this.#attach({ pid, containerId });
  }

  addAccessoryApp(pid, index) {
    if (!ACCESSORY_PIDS.includes(pid)) throw new RangeError(`an accessory app has pid 770 or 818, not ${pid}`);
    checkInt32('index', index);
    return this.#attach({ pid, index });
  }

  addHueBulb(id) {
    checkInt32('id', id);
    return this.#attach({ pid: PID.HUE_BULB, id });
  }

  // Switches one device's data flow (handle given) or the global switch (no
  // handle). Returns the proxy's response; throws a KaleoProxyError when the
  // proxy refused.
  setDeviceState(enable, handle) {
    const param = { enable: enable === true ? 1 : enable === false ? 0 : enable };
    checkInt32('enable', param.enable);
    if (handle !== undefined && handle !== null) {
      checkInt32('handle', handle);
      param.device_handle = handle;
    }
    return this.#request('SetDeviceState', param);
  }

  // Detaches a device; resolves to the Win32 code of the detach.
  removeDevice(handle) {
    checkInt32('handle', handle);
    return this.#callDeviceAsync('RemoveDevice', handle);
  }

  // The placeholder export: always -1, attaching goes through the requests.
  addDeviceStub() {
    return this.#call('AddDevice');
  }

  // Chooses how lighting events arrive (MODE). Async: leaving mode 2 stops
  // the batch timer, which may wait for a batch blocked in our callback.
  async setMode(mode) {
    if (!Object.values(MODE).includes(mode)) throw new RangeError(`mode must be 0, 1 or 2, not ${mode}`);
    this.#refuseWhileClosing('SetOperatingMode');
    await this.#callAsync('SetOperatingMode', mode);
    this.#mode = mode;
    this.#modeSet = true;
  }

  async usePollingMode(enable) {
    this.#refuseWhileClosing('UsePollingMode');
    await this.#callAsync('UsePollingMode', enable ? 1 : 0);
    this.#mode = enable ? MODE.POLLING : MODE.IMMEDIATE;
    this.#modeSet = true;
  }

  // The lighting events queued since the last poll (mode 1), coalesced per
  // device and sub-device; [] in the other modes.
  pollEvents() {
    const block = this.#call('PollEvents');
    if (block === null) return []; // the DLL could not allocate; those events are gone
    let text;
    try {
      text = koffi.decode(block, 'char', -1);
    } finally {
      this.#call('FreeMalloc', block);
    }
    const events = JSON.parse(text);
    if (!Array.isArray(events)) throw new Error(`PollEvents returned ${text.slice(0, 80)}, not an array`);
    return events;
  }

  // Adds a listener for every event the proxy pushes (parsed); the first call
  // registers the native callback. Returns a function that removes the listener.
  onEvent(listener) {
    if (typeof listener !== 'function') throw new TypeError('listener must be a function');
    this.#refuseWhileClosing('SetNodeFFIEvent');
    if (!this.#callback) {
      const callback = koffi.register((text) => this.#dispatch(text), koffi.pointer(EventCallback));
      try {
        this.#call('SetNodeFFIEvent', callback);
      } catch (err) {
        koffi.unregister(callback);
        throw err;
      }
      this.#callback = callback;
    }
    this.#listeners.add(listener);
    return () => this.#listeners.delete(listener);
  }

  // Sets the allocator of the action entry's results: a native function
  // pointer (void *(*)(uint64_t)) and the JS function that releases its
  // blocks; null restores the DLL's own heap (released with FreeMalloc).
  setAllocator(allocator, release) {
    if (allocator !== null && typeof release !== 'function') {
      throw new TypeError('a custom allocator needs the function that releases its blocks');
    }
    this.#refuseWhileClosing('SetAllocator');
    this.#call('SetAllocator', allocator);
    this.#releaseAllocated = allocator === null ? null : release;
  }

  // The action entry: sends a request object (or raw text) and resolves to the
  // parsed result object, always carrying "Status". Async: actions 2 and 4
  // wait for reader threads.
  async action(request) {
    const text = typeof request === 'string' ? request : JSON.stringify(request);
    const block = await this.#callDeviceAsync('VxKaleoSDKProxy', text);
    if (block === null) throw new Error('the action entry could not allocate its result');
    let result;
    try {
      result = koffi.decode(block, 'char', -1);
    } finally {
      if (this.#releaseAllocated) this.#releaseAllocated(block);
      else this.#call('FreeMalloc', block);
    }
    this.#followInitState(request);
    return JSON.parse(result);
  }

  // The action entry without a result.
  async actionNoReturn(request) {
    const text = typeof request === 'string' ? request : JSON.stringify(request);
    await this.#callDeviceAsync('VxKaleoSDKProxyNoReturn', text);
    this.#followInitState(request);
  }

  // Uninitialises when needed, stops event delivery and unloads the DLL.
  // Resolves to uninit()'s result when it had to run it.
  close() {
    if (!this.#lib) return Promise.resolve(undefined);
    if (!this.#closing) this.#closing = this.#release();
    return this.#closing;
  }

  // Each step runs only once the one before it succeeded: if a step fails, a
  // native thread may still call the callback, so the DLL stays loaded and
  // the callback registered (a leak, not a crash) and the error propagates.
  async #release() {
    await this.#queue; // device calls already queued run first
    const result = this.#initialised ? await this.uninit() : undefined;
    // No reader thread runs now; stop the batch timer and wait out a tick in flight.
    if (this.#modeSet && this.#mode !== MODE.IMMEDIATE) await this.#callAsync('SetOperatingMode', MODE.IMMEDIATE);
    if (this.#callback) {
      await this.#callAsync('SetNodeFFIEvent', null);
      await drainEventLoop();
      koffi.unregister(this.#callback);
      this.#callback = null;
    }
    if (this.#releaseAllocated) this.#call('SetAllocator', null);
    this.#listeners.clear();
    this.#lib.unload();
    this.#lib = null;
    this.#exports = null;
    this.#releaseAllocated = null;
    this.#mode = MODE.IMMEDIATE;
    this.#modeSet = false;
    return result;
  }

  #attach(param) {
    const response = this.#request('AddDevice', param);
    const handle = response.return?.device_handle;
    if (!Number.isInteger(handle)) {
      throw new KaleoProxyError('AddDevice', 'the proxy answered SUCCESS without a device handle', ERROR.FUNCTION_FAILED, response);
    }
    return handle;
  }

  // One Invoke request whose outcome is the response's "result".
  #request(func, param) {
    const { code, response } = this.invoke({ func, param });
    if (!response || typeof response !== 'object') {
      throw new KaleoProxyError(func, 'no response', code);
    }
    const result = Number.isInteger(response.result) ? response.result : code;
    if (code !== ERROR.SUCCESS || result !== ERROR.SUCCESS) {
      const message = typeof response.message === 'string' ? response.message : `${func} failed`;
      throw new KaleoProxyError(func, message, code !== ERROR.SUCCESS ? code : result, response);
    }
    return response;
  }

  #dispatch(text) {
    let event;
    try {
      event = JSON.parse(text);
    } catch {
      ++this.#malformedEvents;
      return;
    }
    for (const listener of this.#listeners) {
      try {
        listener(event);
      } catch (err) {
        // The native thread must get its callback back; the fault surfaces
        // as an uncaught exception of the host, as an emitter's would.
        process.nextTick(() => { throw err; });
      }
    }
  }

  // Actions 1 and 2 start and stop the device side as Init and UnInit do.
  #followInitState(request) {
    let action;
    try {
      action = (typeof request === 'string' ? JSON.parse(request) : request)?.Action;
    } catch {
      return;
    }
    if (action === 1) this.#initialised = true;
    else if (action === 2) this.#initialised = false;
  }

  #call(name, ...args) {
    if (!this.#exports) throw new Error(`${name}: the proxy is not open`);
    return this.#exports[name](...args);
  }

  #callAsync(name, ...args) {
    if (!this.#exports) return Promise.reject(new Error(`${name}: the proxy is not open`));
    const fn = this.#exports[name];
    return new Promise((resolve, reject) => {
      fn.async(...args, (err, result) => (err ? reject(err) : resolve(result)));
    });
  }

  // Settings that close() is undoing may not be made again meanwhile.
  #refuseWhileClosing(name) {
    if (this.#closing) throw new Error(`${name}: the proxy is closing`);
  }

  // A synchronous request to the device side; refused while an async one runs.
  #callDevice(name, ...args) {
    this.#refuseWhileClosing(name);
    if (this.#pending.length > 0) {
      throw new Error(`${name}: ${this.#pending[0]} is still running; await it first`);
    }
    return this.#call(name, ...args);
  }

  // An async request to the device side; such requests run one at a time, in
  // the order they were made.
  #callDeviceAsync(name, ...args) {
    if (!this.#exports) return Promise.reject(new Error(`${name}: the proxy is not open`));
    this.#pending.push(name);
    const run = () => this.#callAsync(name, ...args);
    const result = this.#queue.then(run, run);
    const done = () => { this.#pending.splice(this.#pending.indexOf(name), 1); };
    this.#queue = result.then(done, done);
    return result;
  }
}

function bindExports(lib) {
  const bound = {};
  for (const [name, prototype] of Object.entries(EXPORTS)) {
    bound[name] = lib.func(prototype);
  }
  return bound;
}

// Decodes Invoke's UTF-16 response and returns the block to the COM allocator.
function takeInvokeResponse(block) {
  if (block === null || block === undefined) return null;
  let text;
  try {
    text = koffi.decode(block, 'char16_t', -1);
  } finally {
    coTaskMemFree(block);
  }
  return JSON.parse(text);
}

function checkInt32(name, value) {
  if (!Number.isInteger(value) || value < -0x80000000 || value > 0x7fffffff) {
    throw new TypeError(`${name} must be a 32-bit integer, not ${value}`);
  }
}

// Lets callbacks that native threads queued before the callback was cleared
// run while it is still registered.
async function drainEventLoop() {
  for (let turn = 0; turn < 3; ++turn) {
    await new Promise((resolve) => setImmediate(resolve));
  }
  await new Promise((resolve) => setTimeout(resolve, 20));
}

// The device messages an event carries: a lighting message itself (mode 0),
// the one message of an immediate event, or the batch of mode 2. Also takes
// the array pollEvents() returns.
function messagesOf(event) {
  if (Array.isArray(event)) return event;
  if (event && typeof event === 'object' && event.event === EVENT_NAME) {
    const { payload } = event;
    if (Array.isArray(payload)) return payload;
    return payload && typeof payload === 'object' ? [payload] : [];
  }
  return event && typeof event === 'object' ? [event] : [];
}

// 'lighting' (a bare message, mode 0), 'batch' (mode 2) or 'immediate' (a
// non-lighting event in any mode).
function eventKind(event) {
  if (event && typeof event === 'object' && event.event === EVENT_NAME) {
    return Array.isArray(event.payload) ? 'batch' : 'immediate';
  }
  return 'lighting';
}

function openProxy(dllPath) {
  return new KaleoProxy().open(dllPath);
}

module.exports = {
  KaleoProxy,
  KaleoProxyError,
  openProxy,
  messagesOf,
  eventKind,
  INIT_NO_DEVICES,
  UNINIT_NOT_INITIALISED,
  ERROR,
  MODE,
  PID,
  LIGHTING_EVENT_ID,
  EVENT_NAME,
  ACTION_FAILED,
};
