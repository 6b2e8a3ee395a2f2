// Names of the store that tests/fixtures/make-pki builds; the pages reach its certificates through them.
var FIXTURE = {
    root: 'C=ES, O=Brindlemoor Pruebas, CN=Korvane Test Root CA',
    int1: 'C=ES, O=Brindlemoor Pruebas, SERIALNUMBER=Q2826004J, CN=Korvane Test Intermediate 1',
    int2: 'C=ES, S=Madrid, O=Brindlemoor Pruebas, OU=Unit One, OU=Signing Services, CN=Korvane Test Intermediate 2',
    unrelated: 'C=PT, O=Unrelated Trust, CN=Unrelated Test CA',
    // The accented root as the page sees it in a listing: the two bytes of "ó" became blanks.
    accentedListed: 'C=ES, O=Brindlemoor Pruebas, CN=Autoridad de Certificaci  n Pruebas',
    dashed: 'C=ES, O=Brindle-moor, CN=Korvane-Dash CA - Tier-2',
    goodSubject: 'C=ES, SN=GARCIA, G=ANA, SERIALNUMBER=12345678Z, CN="GARCIA PEREZ, ANA (FIRMA)"',
    // Serial 00 DE AD BE EF 01 23 45 67 89, least significant octet first.
    goodSerial: 'iWdFIwHvvq3eAA==',
    // The certificate behind a PIN: its fixture name (certs/NAME.pem), subject and PIN. run-page points
    // them at the emulated PIV card's signing certificate when the page runs beside the card.
    card: 'card',
    cardSubject: 'C=ES, O=Brindlemoor Pruebas, CN=Card Holder',
    pin: '1234'
};

// The runner's settings ("name=value&name=value", the driver's environment text or the page's #fragment)
// may replace the values above.
(function () {
    var text = window.korvaneDriver && window.korvaneDriver.environment
        ? window.korvaneDriver.environment : location.hash.replace(/^#/, '');
    text.split('&').forEach(function (pair) {
        var eq = pair.indexOf('=');
        var key = eq > 0 ? decodeURIComponent(pair.substr(0, eq)) : '';
        if (Object.prototype.hasOwnProperty.call(FIXTURE, key)) FIXTURE[key] = decodeURIComponent(pair.substr(eq + 1));
    });
})();

// Splits a listing into {issuer, subject, id} records.
function parseListing(text) {
    var out = [];
    if (!text) return out;
    var f = text.split('|');
    for (var i = 0; i + 2 < f.length; i += 3) out.push({ issuer: f[i], subject: f[i + 1], id: f[i + 2] });
    if (f.length % 3 !== 0) out.malformed = true;
    return out;
}

function findBySubject(list, pattern) {
    for (var i = 0; i < list.length; i++) if (list[i].subject.indexOf(pattern) >= 0) return list[i];
    return null;
}

// Base64 of a byte array (numbers 0..255).
function bytesToBase64(bytes) {
    var s = '';
    for (var i = 0; i < bytes.length; i++) s += String.fromCharCode(bytes[i]);
    return btoa(s);
}

// A hash-shaped value of n octets; the plug-in signs it as given, so any octets serve.
function sampleHash(n, seed) {
    var b = [];
    for (var i = 0; i < n; i++) b.push((i * 37 + seed * 11 + 5) & 0xff);
    return bytesToBase64(b);
}

// The identifier part of a serial number given in hex as the CA issued it: the DER content octets
// (a leading zero when the top bit is set), least significant first, in Base64.
function serialPart(hex) {
    if (hex.length % 2) hex = '0' + hex;
    if (parseInt(hex.charAt(0), 16) >= 8) hex = '00' + hex;
    var b = [];
    for (var i = hex.length - 2; i >= 0; i -= 2) b.push(parseInt(hex.substr(i, 2), 16));
    return bytesToBase64(b);
}
