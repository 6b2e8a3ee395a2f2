// A page written against the packed library's declarations, both as a module import and through the
// global that the <script> form defines. Lines marked @ts-expect-error must not compile: the declarations
// have to be as strict as the library.
import Korvane, { connect, detect, KorvaneError } from 'korvane';
import type { KorvaneErrorCode, PinState, Signer, LastError, ConnectOptions } from 'korvane';

const options: ConnectOptions = { prefer: 'extension', timeout: 3000 };

async function sign(id: string, hash: string): Promise<string> {
  const signer: Signer = await connect({ CaSubjectNames: 'C=ES, O=Example, CN=Example CA' }, options);
  const listing: string = await signer.getDigitalSignatureCertificates();
  const der: string = await signer.getCertificate(listing.split('|')[2]);
  const signature: string = await signer.signPkcs1(id, hash + der.length);
  const error: LastError = signer.lastError;
  const state: PinState = signer.pinState;
  const afresh: PinState = await signer.get('pinState');
  const retries: number = signer.pinRetryCount + (await signer.get('pinRetryCount'));
  const flags: boolean = signer.isPinMissing || signer.isPinInvalid || (await signer.get('isPinMissing'));
  const texts: string = signer.version + signer.lastErrorMessage + signer.pinModuleName + signer.testString;
  const low: number = signer.lastLowLevelError + signer.pinLength;
  console.log(error, state, afresh, retries, flags, texts, low, signer.kind, signer.hostVersion);
  await signer.processPinChar('1');
  await signer.deletePinChar();
  await signer.echo({ any: 'value' });
  await signer.testEvent();
  await signer.invoke('echo', ['x']);
  await signer.set('testString', 'text');
  signer.pin = '';
  signer.addEventListener('echo', function (this: Signer, text) { console.log(this.version, text); });
  await signer.close();

  // @ts-expect-error the PIN state is read-only
  signer.pinState = 'ok';
  // @ts-expect-error lastError is read-only
  signer.lastError = 0;
  // @ts-expect-error only pin and testString can be written
  await signer.set('version', '2');
  // @ts-expect-error signPkcs1 needs the hash
  await signer.signPkcs1(id);
  return signature;
}

function explain(e: unknown): string {
  if (e instanceof KorvaneError) {
    const code: KorvaneErrorCode = e.code;
    switch (code) {
      case 'not_allowed':
      case 'cancelled':
      case 'timeout':
      case 'pin_in_page':
      case 'malformed':
      case 'session_lost':
      case 'extension_missing':
      case 'host_missing':
      case 'version_mismatch':
        return `${code}: ${e.message} ${e.detail}`;
      default:
        return e.message;
    }
  }
  return String(e);
}

// @ts-expect-error not an error code of the library
const wrongCode: KorvaneErrorCode = 'card_missing';
// @ts-expect-error not a PIN state
const wrongState: PinState = 'blocked';

// The same library through the global of the <script> form.
const found: Promise<'plugin' | 'extension' | ''> = window.Korvane.detect({ timeout: 500 });
const same: boolean = Korvane === globalThis.Korvane && detect === Korvane.detect && Korvane.pluginAvailable();
console.log(sign, explain, wrongCode, wrongState, found, same, new Korvane.KorvaneError('closed').code);
