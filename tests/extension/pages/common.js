// Helpers of the page-library pages: they run unchanged through the plug-in (QtWebKit) and through the
// extension (Chromium, Firefox), so every check here holds on both paths.
var ROOT_CA = FIXTURE.root;

// Settings from the runner, as name=value pairs joined by "&".
var SETTINGS = (function () {
    var out = {};
    var text = T.driver && T.driver.environment ? T.driver.environment : location.hash.replace(/^#/, '');
    text.split('&').forEach(function (pair) {
        var at = pair.indexOf('=');
        if (at > 0) out[decodeURIComponent(pair.substr(0, at))] = decodeURIComponent(pair.substr(at + 1));
    });
    return out;
})();

function connect(ca) {
    var params = ca === undefined ? {} : { CaSubjectNames: ca };
    return Korvane.connect(params).then(function (signer) {
        T.log('signer through the ' + signer.kind + ', version ' + signer.version);
        return signer;
    });
}

// Resolves with the rejection of promise (checked to carry code), failing when it resolves instead.
function rejects(promise, code, what) {
    return promise.then(function (value) {
        T.fail(what + ': resolved with ' + T.show(value) + ' instead of rejecting with ' + code);
        return null;
    }, function (e) {
        T.eq(e && e.code, code, what + ': rejection code');
        T.ok(e instanceof Korvane.KorvaneError && typeof e.message === 'string' && e.message.length > 0,
             what + ': a KorvaneError with a text (' + T.show(e && e.message) + ')');
        return e;
    });
}

// The PIN state a page reads after a call, as one check.
function pinState(signer, what, error, missing, invalid, module, retries) {
    T.eq(signer.lastError, error, what + ': lastError');
    T.eq(signer.isPinMissing, missing, what + ': isPinMissing');
    T.eq(signer.isPinInvalid, invalid, what + ': isPinInvalid');
    T.eq(signer.pinModuleName, module, what + ': pinModuleName');
    T.eq(signer.pinRetryCount, retries, what + ': pinRetryCount');
}

// Types text one character at a time, as a keypad does.
function type(signer, text) {
    var p = Promise.resolve();
    text.split('').forEach(function (c) { p = p.then(function () { return signer.processPinChar(c); }); });
    return p;
}

function list(signer) {
    return signer.getDigitalSignatureCertificates().then(function (text) {
        T.eq(signer.lastError, 0, 'listing: lastError');
        var out = parseListing(text);
        T.ok(!out.malformed, 'listing: three fields per certificate');
        return out;
    });
}
