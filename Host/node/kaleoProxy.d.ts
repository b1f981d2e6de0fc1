// Types of the Node.js host's binding to VxKaleoSDKProxy64.dll (kaleoProxy.js).

export declare const INIT_NO_DEVICES: -1;
export declare const UNINIT_NOT_INITIALISED: 1627;
export declare const LIGHTING_EVENT_ID: 2;
export declare const EVENT_NAME: 'onKaleoSdkLightingCallback';
/** "Status" of the action entry when the request could not be handled (E_FAIL). */
export declare const ACTION_FAILED: -2147467259;

/** Win32 codes the proxy answers with. */
export declare const ERROR: Readonly<{
  SUCCESS: 0;
  BAD_FORMAT: 11;
  INVALID_DATA: 13;
  INVALID_PARAMETER: 87;
  ALREADY_EXISTS: 183;
  DEVICE_NOT_CONNECTED: 1167;
  NOT_FOUND: 1168;
  INVALID_INDEX: 1413;
  UNKNOWN_PRODUCT: 1605;
  UNKNOWN_FEATURE: 1606;
  FUNCTION_FAILED: 1627;
  CREATE_FAILED: 1631;
  EMPTY: 4306;
  OBJECT_NOT_FOUND: 4312;
}>;

/** How lighting events reach the host. */
export declare const MODE: Readonly<{ IMMEDIATE: 0; POLLING: 1; BATCHED: 2 }>;
export type Mode = 0 | 1 | 2;

/** Product ids that select the attach variant; any other pid is a HID/USB device. */
export declare const PID: Readonly<{ HUE_BULB: 769; ACCESSORY_APP: 770; ACCESSORY_APP_KEYBOARD: 818 }>;
export type AccessoryPid = 770 | 818;

/** The device handle: the proxy's 32-bit key of the device. */
export type DeviceHandle = number;

/** Response object of Invoke. */
export interface InvokeResponse {
  message: string;
  result: number;
  return: { device_handle: DeviceHandle } | null;
}

export interface InvokeResult {
  /** The function result of Invoke (0 whenever a handler ran). */
  code: number;
  /** The parsed response, or null when the DLL stored none. */
  response: InvokeResponse | null;
}

/** A message a device side wrote into its data pipe, stamped by the proxy. */
export interface DeviceMessage {
  device_handle: DeviceHandle;
  eventId: number;
  linkDeviceSeqId?: number;
  [member: string]: unknown;
}

/** A non-lighting event (any mode) or a batch of lighting events (mode 2). */
export interface WrappedEvent {
  event: 'onKaleoSdkLightingCallback';
  payload: DeviceMessage | DeviceMessage[];
}

/** What a listener receives: a bare lighting message in mode 0, else a wrapped event. */
export type KaleoEvent = DeviceMessage | WrappedEvent;
export type EventKind = 'lighting' | 'immediate' | 'batch';

/** Result object of the action entry. */
export interface ActionResult {
  Status: number;
  [member: string]: unknown;
}

export interface ActionRequest {
  Action: number;
  [member: string]: unknown;
}

/** A request the proxy refused: its "message" and "result". */
export declare class KaleoProxyError extends Error {
  readonly name: 'KaleoProxyError';
  /** The request: "AddDevice" or "SetDeviceState". */
  readonly func: string;
  /** The proxy's "result" (or Invoke's code when that already failed). */
  readonly result: number;
  readonly response: InvokeResponse | null;
}

export declare class KaleoProxy {
  /** Loads the DLL (default: KALEO_PROXY_DLL) and resolves every export. */
  open(dllPath?: string): this;
  readonly isOpen: boolean;
  readonly isInitialised: boolean;
  /** The last mode set through this object. */
  readonly mode: Mode;
  /** Event texts that were not JSON and reached no listener. */
  readonly malformedEvents: number;

  /** Number of published devices found, or INIT_NO_DEVICES. */
  init(): number;
  /** Number of device records removed, or UNINIT_NOT_INITIALISED. */
  uninit(): Promise<number>;

  invoke(request: object | string): InvokeResult;
  /** Throws KaleoProxyError when the proxy refuses; returns the device handle. */
  addHidDevice(pid: number, containerId: string): DeviceHandle;
  addAccessoryApp(pid: AccessoryPid, index: number): DeviceHandle;
  addHueBulb(id: number): DeviceHandle;
  /** One device's data switch, or the global one without a handle. */
  setDeviceState(enable: boolean | number, handle?: DeviceHandle): InvokeResponse;
  /** Resolves to the Win32 code of the detach. */
  removeDevice(handle: DeviceHandle): Promise<number>;
  /** The placeholder export; always -1. */
  addDeviceStub(): number;

  setMode(mode: Mode): Promise<void>;
  usePollingMode(enable: boolean): Promise<void>;
  /** The coalesced lighting events queued since the last poll (mode 1), else []. */
  pollEvents(): DeviceMessage[];
  /** Registers the native callback on first use; returns a remover. */
  onEvent(listener: (event: KaleoEvent) => void): () => boolean;

  /**
   * A native allocator (void *(*)(uint64_t)) for the action entry's results and
   * the function releasing its blocks; null restores the DLL's heap.
   */
  setAllocator(allocator: unknown | null, release?: (block: unknown) => void): void;
  action(request: ActionRequest | string): Promise<ActionResult>;
  actionNoReturn(request: ActionRequest | string): Promise<void>;

  /** Uninit if needed, stop event delivery, unload; resolves to uninit's result if it ran. */
  close(): Promise<number | undefined>;
}

export declare function openProxy(dllPath?: string): KaleoProxy;
/** The device messages an event (or a polled array) carries. */
export declare function messagesOf(event: KaleoEvent | DeviceMessage[]): DeviceMessage[];
export declare function eventKind(event: KaleoEvent): EventKind;
