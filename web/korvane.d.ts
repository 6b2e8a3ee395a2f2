// Types of the Korvane page library, for `import Korvane from 'korvane'` and for the global `Korvane` that
// korvane.js defines when loaded with a <script> tag.

/** Why a call failed on the way to the signer (the engine's own refusals resolve; see `lastError`). */
export type KorvaneErrorCode =
  // Finding the signer
  | 'extension_missing' // neither the plug-in nor the extension answered
  | 'host_missing' // the extension is there, korvane-host is not installed for this browser
  | 'version_mismatch' // the plug-in, extension or korvane-host is of another version family
  | 'plugin_failed' // the plug-in is installed but its object did not start
  // The extension path
  | 'host_disconnected' // korvane-host ended the connection
  | 'extension_restarted' // the extension was restarted or updated
  | 'not_allowed' // the user denied the site, or removed its permission
  | 'cancelled' // the user cancelled in Korvane's window or closed it
  | 'timeout' // Korvane's window was left unanswered, or the path did not answer in time
  | 'pin_in_page' // processPinChar, deletePinChar or a non-empty pin: Korvane asks for the PIN itself
  | 'malformed' // arguments JSON cannot carry: a BigInt, a cycle, nesting deeper than 32
  | 'session_lost' // the page came back from the back/forward cache; the next call opens a new session
  | 'closed' // the signer was closed
  // korvane-host's answers to a request
  | 'too_large'
  | 'reply_too_large'
  | 'no_session'
  | 'unknown_member'
  | 'bad_origin' // not https (loopback http only for development)
  | 'origin_changed'
  | 'script_error' // the signer raised a script exception (bad arguments and the like)
  | 'failed'; // a failure that came without a code

/** A rejection of the library: `code` says what failed, `message` says it for people. */
export declare class KorvaneError extends Error {
  constructor(code: KorvaneErrorCode, detail?: string);
  readonly name: 'KorvaneError';
  readonly code: KorvaneErrorCode;
  /** The signer's or the path's own text, '' when there is none. */
  readonly detail: string;
}

/**
 * Values of `lastError` after a call: 0 none, 2 certificate not found, 3 invalid encoding (bad Base64, or a
 * hash that is not 16, 20, 32, 48 or 64 octets), 5 wrong PIN, 11 PIN required, 12 the operation failed.
 */
export type LastError = 0 | 2 | 3 | 5 | 11 | 12;

/** The PIN state of the card the last call concerned. */
export type PinState = 'ok' | 'finalTry' | 'locked' | 'unknown';

/** Page parameters of a session, as the plug-in's <param> elements: texts by name. */
export interface ConnectParams {
  /** Certificate authorities whose certificates are listed, "C=.., O=.., CN=.." joined by "|". */
  CaSubjectNames?: string;
  [name: string]: string | number | boolean | undefined;
}

export interface ConnectOptions {
  /** Which path to use when both are there; the plug-in by default. */
  prefer?: 'plugin' | 'extension';
  /** Milliseconds to wait for the extension to announce itself (default 1500). */
  timeout?: number;
  /** How long the plug-in's object may take to start, in ms (default 5000). */
  pluginTimeout?: number;
  /** Where the plug-in's <object> goes (default the body). */
  container?: Element;
  /** Extension path: ms to wait for a call that does not wait for the user (default 30000), then timeout. */
  requestTimeout?: number;
}

export type SignerEvent = 'echo' | 'test' | 'onecho' | 'ontest' | (string & {});
export type SignerListener = (this: Signer, ...args: unknown[]) => void;

/** Property names `get` reads afresh. */
export type SignerProperty =
  | 'version'
  | 'lastError'
  | 'lastLowLevelError'
  | 'lastErrorMessage'
  | 'pinLength'
  | 'isPinMissing'
  | 'isPinInvalid'
  | 'pinModuleName'
  | 'pinRetryCount'
  | 'pinState'
  | 'pin'
  | 'testString';

/**
 * One session with the signer. Calls run one at a time in the order made; the properties hold what the
 * last call left.
 */
export interface Signer {
  /** The path to the signer. */
  readonly kind: 'plugin' | 'extension';
  /** korvane-host's version (extension path only). */
  readonly hostVersion?: string;
  /** The extension's version (extension path only). */
  readonly extensionVersion?: string;

  /**
   * The signing certificates issued under the session's CaSubjectNames: "issuer|subject|id" for each,
   * all joined by "|"; '' when there are none.
   */
  getDigitalSignatureCertificates(): Promise<string>;
  /** The certificate's DER in Base64, '' when not found (then `lastError` is 2). */
  getCertificate(id: string): Promise<string>;
  /**
   * Signs a hash (Base64 of 16, 20, 32, 48 or 64 octets) with the certificate's key: the PKCS#1 v1.5
   * signature in Base64, or '' with `lastError` telling why.
   */
  signPkcs1(id: string, hashBase64: string): Promise<string>;
  /** Plug-in path only: one character of the PIN, typed on the page's keypad. */
  processPinChar(c: string): Promise<void>;
  /** Plug-in path only: removes the last PIN character. */
  deletePinChar(): Promise<void>;
  echo(message: unknown): Promise<unknown>;
  testEvent(): Promise<void>;
  /** Calls a method by its name; an unknown one rejects with `unknown_member`. */
  invoke(name: string, args?: ArrayLike<unknown>): Promise<unknown>;

  /** Reads one property afresh. */
  get(name: 'version' | 'lastErrorMessage' | 'pinModuleName' | 'pin' | 'testString'): Promise<string>;
  get(name: 'lastError'): Promise<LastError>;
  get(name: 'lastLowLevelError' | 'pinLength' | 'pinRetryCount'): Promise<number>;
  get(name: 'isPinMissing' | 'isPinInvalid'): Promise<boolean>;
  get(name: 'pinState'): Promise<PinState>;
  get(name: string): Promise<unknown>;
  /** Writes "pin" (on the extension path only '' is accepted) or "testString". */
  set(name: 'pin' | 'testString', value: string): Promise<void>;
  /** Ends the session. */
  close(): Promise<void>;

  addEventListener(name: SignerEvent, listener: SignerListener): void;
  removeEventListener(name: SignerEvent, listener: SignerListener): void;

  readonly version: string;
  readonly lastError: LastError;
  /** The platform's own error code of the last failure (CryptoAPI or NSS), 0 when none. */
  readonly lastLowLevelError: number;
  readonly lastErrorMessage: string;
  readonly pinLength: number;
  readonly isPinMissing: boolean;
  readonly isPinInvalid: boolean;
  readonly pinModuleName: string;
  readonly pinRetryCount: number;
  readonly pinState: PinState;
  /** Always reads ''; assigning writes it (in call order; a failure is logged to the console). */
  pin: string;
  testString: string;
}

export interface KorvaneLibrary {
  /** Finds the signer and opens a session with the page parameters. */
  connect(params?: ConnectParams, options?: ConnectOptions): Promise<Signer>;
  /** Which signer this browser has, without opening anything. */
  detect(options?: { timeout?: number }): Promise<'plugin' | 'extension' | ''>;
  /** Whether the browser lists the Korvane plug-in. */
  pluginAvailable(): boolean;
  KorvaneError: typeof KorvaneError;
}

export declare const connect: KorvaneLibrary['connect'];
export declare const detect: KorvaneLibrary['detect'];
export declare const pluginAvailable: KorvaneLibrary['pluginAvailable'];
declare const Korvane: KorvaneLibrary;
export default Korvane;

declare global {
  /** Defined by korvane.js (and by importing the module). */
  var Korvane: KorvaneLibrary;
}
