// Korvane page library: one promise-based signing API over either path to the signer.
//   - Browsers that load NPAPI plug-ins (QtWebKit): an <object type="application/x-korvane"> in the page.
//   - Chromium and Firefox: the Korvane extension, whose content script announces itself to the page and
//     carries the calls to the native program korvane-host.
//
//   Korvane.connect({ CaSubjectNames: 'C=.., O=.., CN=..' }).then(function (signer) {
//       return signer.signPkcs1(id, hashBase64);          // methods give promises
//   }).then(function (signature) { ... signer.lastError ... }, function (e) { e.code, e.message });
//
// Methods keep the plug-in's names: getDigitalSignatureCertificates, getCertificate, signPkcs1,
// processPinChar, deletePinChar, echo, testEvent (invoke(name, args) calls any other by name). The plug-in's properties (version, lastError,
// lastLowLevelError, lastErrorMessage, pinLength, isPinMissing, isPinInvalid, pinModuleName, pinRetryCount,
// pin, testString) read synchronously as they stood after the last call; get(name) reads one afresh and
// set(name, value) writes one ("pin" and "testString"); assigning signer.pin = '' also writes it, in call order.
// Engine refusals resolve with empty text and the error properties tell why, as with the plug-in; failures
// of the path itself reject with a KorvaneError carrying a code and a text.
// On the extension path the user decides in Korvane's own window: the first call of a site asks whether it
// may use the certificates (not_allowed when denied), and each signPkcs1 is confirmed there, with the card
// PIN typed in that window (cancelled, timeout). The page's PIN calls (processPinChar, deletePinChar, a
// non-empty pin) reject with pin_in_page there: signPkcs1 alone signs.
// Written without arrow functions, classes or async, so that QtWebKit 5.212 runs it too.
(function (global) {
    'use strict';

    var MIME_TYPE = 'application/x-korvane';
    var VERSION_FAMILY = '@KORVANE_SERIES@.';
    var PROTOCOL = 1;
    var METHODS = ['getDigitalSignatureCertificates', 'getCertificate', 'signPkcs1', 'processPinChar',
                   'deletePinChar', 'echo', 'testEvent'];
    var STATE = ['version', 'lastError', 'lastLowLevelError', 'lastErrorMessage', 'pinLength', 'isPinMissing',
                 'isPinInvalid', 'pinModuleName', 'pinRetryCount', 'pinState'];
    var WRITABLE = ['pin', 'testString'];

    var TEXTS = {
        extension_missing: 'extension missing: this browser has neither the Korvane plug-in nor the Korvane ' +
            'extension; install the extension (or enable it) and reload the page',
        host_missing: 'host missing: the Korvane extension is installed but could not start the program ' +
            'korvane-host; install korvane-host for this browser',
        version_mismatch: 'version mismatch: this page needs Korvane ' + VERSION_FAMILY + 'x (protocol ' +
            PROTOCOL + ')',
        plugin_failed: 'plug-in failed: the Korvane plug-in is installed but its object did not start',
        host_disconnected: 'host disconnected: korvane-host ended the connection',
        extension_restarted: 'extension restarted: the Korvane extension was restarted',
        closed: 'closed: this signer was closed',
        pin_in_page: 'PIN in page: Korvane asks for the PIN in its own window; call signPkcs1 alone, without ' +
            'processPinChar, deletePinChar or pin',
        session_lost: 'session lost: the page came back from the browser\'s cache; the next call opens a new ' +
            'session'
    };
    // Values nested deeper than this cannot travel on the extension path.
    var MAX_DEPTH = 32;
    // Calls that may wait for the user (the site permission, a signature) have the window's own time limit;
    // the others get an answer within this many ms or reject with timeout.
    var REQUEST_TIMEOUT = 30000;
    // Faults after which the page's session on the extension path is gone; the next call opens a new one.
    var SESSION_ENDS = ['host_missing', 'host_disconnected', 'extension_restarted', 'not_allowed', 'session_lost'];

    function KorvaneError(code, detail) {
        var text = TEXTS[code];
        this.name = 'KorvaneError';
        this.code = code;
        // Faults of the path have their own text; the signer's own faults (script_error, unknown_member,
        // too_large, bad_origin and the like) and the extension's answers (not_allowed, cancelled, timeout)
        // carry their own.
        this.message = text ? (detail ? text + ' (' + detail + ')' : text) : (detail || code);
        this.detail = detail || '';
    }
    KorvaneError.prototype = Object.create(Error.prototype);
    KorvaneError.prototype.constructor = KorvaneError;
    KorvaneError.prototype.toString = function () { return this.name + ' [' + this.code + ']: ' + this.message; };

    function fail(code, detail) { return Promise.reject(new KorvaneError(code, detail)); }

    function pluginAvailable() {
        var mimes = global.navigator && global.navigator.mimeTypes;
        var mime = mimes && mimes[MIME_TYPE];
        return !!(mime && mime.enabledPlugin);
    }

    function sameFamily(version) {
        return typeof version === 'string' && version.indexOf(VERSION_FAMILY) === 0;
    }

    // ---- The signer: calls in order, a snapshot of the properties, event listeners ----

    function Signer(path) {
        var self = this;
        var snapshot = { version: '', lastError: 0, lastLowLevelError: 0, lastErrorMessage: '', pinLength: 0,
                         isPinMissing: false, isPinInvalid: false, pinModuleName: '', pinRetryCount: 0,
                         pinState: 'unknown', pin: '', testString: '' };
        var queue = Promise.resolve();
        var listeners = {};

        this.kind = path.kind;
        this._snapshot = snapshot;
        this._update = function (state) {
            if (!state) return;
            for (var i = 0; i < STATE.length; i++) {
                if (Object.prototype.hasOwnProperty.call(state, STATE[i])) snapshot[STATE[i]] = state[STATE[i]];
            }
        };
        // Every call waits for the one before it, as the plug-in's calls run one at a time.
        this._call = function (fn) {
            var result = queue.then(fn);
            queue = result.then(function () {}, function () {});
            return result;
        };
        this._fire = function (name, args) {
            var key = name.indexOf('on') === 0 ? name : 'on' + name;
            var list = (listeners[key] || []).slice();
            for (var i = 0; i < list.length; i++) {
                try { list[i].apply(self, args || []); } catch (e) { setTimeout(function () { throw e; }, 0); }
            }
        };
        this.addEventListener = function (name, fn) {
            var key = name.indexOf('on') === 0 ? name : 'on' + name;
            (listeners[key] = listeners[key] || []).push(fn);
            if (path.listen) path.listen(key);
        };
        this.removeEventListener = function (name, fn) {
            var key = name.indexOf('on') === 0 ? name : 'on' + name;
            var list = listeners[key] || [];
            var at = list.indexOf(fn);
            if (at >= 0) list.splice(at, 1);
        };
        this.get = function (name) {
            return self._call(function () { return path.get(name); }).then(function (value) {
                snapshot[name] = name === 'pin' ? '' : value;
                return value;
            });
        };
        this.set = function (name, value) {
            if (WRITABLE.indexOf(name) < 0) return fail('script_error', 'the property ' + name + ' is read-only');
            return self._call(function () { return path.set(name, value); }).then(function () {
                if (name === 'testString') snapshot.testString = String(value);
            });
        };
        this.close = function () {
            return self._call(function () { return path.close(); });
        };
        // Calls a method by its name, for members this library does not list; an unknown name rejects with
        // unknown_member.
        this.invoke = function (name, args) {
            return self._call(function () { return path.invoke(String(name), Array.prototype.slice.call(args || [])); });
        };
        METHODS.forEach(function (name) {
            self[name] = function () {
                var args = Array.prototype.slice.call(arguments);
                return self._call(function () { return path.invoke(name, args); });
            };
        });
        STATE.forEach(function (name) {
            Object.defineProperty(self, name, { enumerable: true, get: function () { return snapshot[name]; } });
        });
        WRITABLE.forEach(function (name) {
            Object.defineProperty(self, name, {
                enumerable: true,
                get: function () { return name === 'pin' ? '' : snapshot[name]; },
                set: function (value) {
                    self.set(name, value).catch(function (e) {
                        if (global.console) global.console.error('Korvane: writing ' + name + ' failed: ' + e);
                    });
                }
            });
        });
        path.attach(this);
    }

    // ---- Path 1: the NPAPI plug-in ----

    function pluginPath(params, options) {
        var doc = global.document;
        var object = doc.createElement('object');
        object.setAttribute('type', MIME_TYPE);
        object.setAttribute('width', '1');
        object.setAttribute('height', '1');
        Object.keys(params).forEach(function (name) {
            var param = doc.createElement('param');
            param.setAttribute('name', name);
            param.setAttribute('value', String(params[name]));
            object.appendChild(param);
        });
        (options.container || doc.body || doc.documentElement).appendChild(object);

        var signer = null;
        function refresh() {
            var state = {};
            for (var i = 0; i < STATE.length; i++) {
                var value = object[STATE[i]];
                if (value !== undefined) state[STATE[i]] = value;
            }
            signer._update(state);
        }
        // Script exceptions of the plug-in become rejections; the plug-in keeps its own text of the last one.
        function guarded(fn) {
            try {
                var value = fn();
                refresh();
                return value;
            } catch (e) {
                var text = '';
                try { text = object.getLastException(); } catch (ignored) { text = ''; }
                throw new KorvaneError('script_error', text || (e && e.message) || String(e));
            }
        }
        var path = {
            kind: 'plugin',
            attach: function (s) {
                signer = s;
                refresh();
            },
            // NPAPI methods are not script functions: called directly, with as many arguments as given.
            invoke: function (name, args) {
                if (typeof object[name] !== 'function') {
                    throw new KorvaneError('unknown_member', 'The specified member does not exist: ' + name);
                }
                return guarded(function () {
                    switch (args.length) {
                    case 0: return object[name]();
                    case 1: return object[name](args[0]);
                    case 2: return object[name](args[0], args[1]);
                    default: return object[name](args[0], args[1], args[2]);
                    }
                });
            },
            get: function (name) { return guarded(function () { return object[name]; }); },
            set: function (name, value) { guarded(function () { object[name] = value; }); },
            close: function () {
                if (object.parentNode) object.parentNode.removeChild(object);
            },
            listen: function (key) {
                if (path.listening[key]) return;
                path.listening[key] = true;
                object.addEventListener(key.substr(2), function () {
                    signer._fire(key, Array.prototype.slice.call(arguments));
                }, false);
            },
            listening: {}
        };
        // The browser makes the plug-in's object once the element is laid out.
        var deadline = Date.now() + (options.pluginTimeout || 5000);
        return new Promise(function (resolve, reject) {
            (function poll() {
                var ready = false;
                try { ready = typeof object.version === 'string' && object.version !== ''; } catch (e) { ready = false; }
                if (ready) {
                    if (!sameFamily(object.version)) {
                        reject(new KorvaneError('version_mismatch', 'the plug-in is ' + object.version));
                        return;
                    }
                    resolve(path);
                    return;
                }
                if (Date.now() > deadline) { reject(new KorvaneError('plugin_failed')); return; }
                setTimeout(poll, 20);
            })();
        });
    }

    // ---- Path 2: the extension and korvane-host ----

    // One channel per page: the content script's announcement, replies by id, events.
    var channel = null;
    function extensionChannel() {
        if (channel) return channel;
        var origin = global.location.origin;
        var nextId = 0;
        var pending = {};
        channel = {
            hello: null,
            helloWaiters: [],
            signer: null,
            post: function (message) {
                message.korvane = 'page';
                global.postMessage(message, origin);
            },
            // Resolves with the reply; waitsForUser leaves the time limit to the extension's window.
            request: function (message, waitsForUser, timeout) {
                var problem = unsendable(message);
                if (problem) {
                    return Promise.resolve({ ok: false, error: { code: 'malformed', message: 'malformed: ' + problem } });
                }
                var id = ++nextId;
                message.id = id;
                return new Promise(function (resolve) {
                    var timer = null;
                    pending[id] = {
                        resolve: function (reply) {
                            clearTimeout(timer);
                            resolve(reply);
                        }
                    };
                    if (!waitsForUser) {
                        timer = setTimeout(function () {
                            settle(id, { ok: false, error: { code: 'timeout', message: 'timeout: korvane-host did not answer' } });
                        }, timeout || REQUEST_TIMEOUT);
                    }
                    channel.post(message);
                });
            }
        };
        function settle(id, reply) {
            var waiting = pending[id];
            if (!waiting) return;
            delete pending[id];
            waiting.resolve(reply);
        }
        function settleAll(code, text) {
            Object.keys(pending).forEach(function (id) {
                settle(id, { ok: false, error: { code: code, message: text } });
            });
        }
        // A page restored from the back/forward cache lost its connection while cached, and nothing answers
        // what was in flight: those calls reject, and the next call opens a new session.
        global.addEventListener('pageshow', function (event) {
            if (!event.persisted) return;
            settleAll('session_lost', '');
            if (channel.signer) channel.signer._sessionLost('session_lost', '');
        });
        global.addEventListener('message', function (event) {
            if (event.source !== global || event.origin !== origin) return;
            var data = event.data;
            if (!data || typeof data !== 'object' || data.korvane !== 'extension') return;
            if (data.type === 'hello') {
                channel.hello = data;
                var waiters = channel.helloWaiters;
                channel.helloWaiters = [];
                for (var i = 0; i < waiters.length; i++) waiters[i](data);
                return;
            }
            if (data.type === 'event') {
                if (channel.signer) channel.signer._fire(data.name, data.args);
                return;
            }
            if (data.type === 'host-closed') {
                // The session lived in that host; the next call opens a new one.
                if (channel.signer) channel.signer._sessionLost(data.code, data.message);
                // Without its background the content script has nobody to answer what is in flight.
                if (data.code === 'extension_restarted') settleAll(data.code, data.message);
                return;
            }
            settle(data.id, data);
        });
        return channel;
    }

    // Why a request cannot travel as JSON, or '' when it can: a BigInt, a cycle, or nesting too deep. Checked
    // here so that such a call rejects at once, the same in every browser.
    function unsendable(message) {
        try {
            JSON.stringify(message);
        } catch (e) {
            return /BigInt/i.test(String(e)) ? 'a BigInt cannot be sent' : 'a value that contains itself cannot be sent';
        }
        // Each argument, like a written value, may nest MAX_DEPTH deep.
        var stack = [[message.args, 0], [message.value, 1], [message.params, 1]];
        while (stack.length) {
            var top = stack.pop();
            var value = top[0];
            if (value === null || typeof value !== 'object') continue;
            if (top[1] > MAX_DEPTH) return 'values nested deeper than ' + MAX_DEPTH + ' cannot be sent';
            var keys = Object.keys(value);
            for (var i = 0; i < keys.length; i++) stack.push([value[keys[i]], top[1] + 1]);
        }
        return '';
    }

    // Resolves with the content script's announcement, or null when none came within timeout ms.
    function waitForExtension(timeout) {
        var ch = extensionChannel();
        if (ch.hello) return Promise.resolve(ch.hello);
        return new Promise(function (resolve) {
            var done = false;
            var timer = null;
            function finish(hello) {
                if (done) return;
                done = true;
                clearInterval(timer);
                resolve(hello);
            }
            ch.helloWaiters.push(finish);
            // The announcement at load may have gone out before this script listened: ask again.
            ch.post({ type: 'ping' });
            timer = setInterval(function () { ch.post({ type: 'ping' }); }, 100);
            setTimeout(function () { finish(null); }, timeout);
        });
    }

    function extensionPath(params, options) {
        var ch = extensionChannel();
        var signer = null;
        var opened = null;
        var hostVersion = '';

        function unwrap(reply) {
            if (reply.state && signer) signer._update(reply.state);
            if (reply.ok) return reply.result;
            var error = reply.error || {};
            if (SESSION_ENDS.indexOf(error.code) >= 0) {
                opened = null;
            }
            throw new KorvaneError(error.code || 'failed', error.message || '');
        }
        function open() {
            if (opened) return opened;
            var texts = {};
            Object.keys(params).forEach(function (name) { texts[name] = String(params[name]); });
            // The site's first call waits for the user's permission.
            opened = ch.request({ type: 'open', params: texts }, true).then(function (reply) {
                var host = reply.host;
                if (reply.ok && host && (!sameFamily(host.version) || host.protocol !== PROTOCOL)) {
                    throw new KorvaneError('version_mismatch', 'korvane-host is ' + host.version +
                                           ', protocol ' + host.protocol);
                }
                if (host) hostVersion = host.version;
                return unwrap(reply);
            });
            opened.catch(function () { opened = null; });
            return opened;
        }
        function send(message, waitsForUser) {
            return open().then(function () {
                return ch.request(message, waitsForUser, options.requestTimeout);
            }).then(unwrap);
        }
        var path = {
            kind: 'extension',
            attach: function (s) {
                signer = s;
                ch.signer = s;
                s._sessionLost = function () { opened = null; };
            },
            open: open,
            hostVersion: function () { return hostVersion; },
            invoke: function (name, args) {
                if (name === 'processPinChar' || name === 'deletePinChar') return fail('pin_in_page');
                return send({ type: 'invoke', member: name, args: args }, name === 'signPkcs1');
            },
            get: function (name) { return send({ type: 'get', member: name }); },
            set: function (name, value) {
                if (name === 'pin' && value !== '' && value !== null && value !== undefined) return fail('pin_in_page');
                return send({ type: 'set', member: name, value: value });
            },
            close: function () {
                if (!opened) return undefined;
                opened = null;
                return ch.request({ type: 'close' }).then(function () {});
            }
        };
        return path;
    }

    // ---- Entry point ----

    // Finds the signer and opens a session with the page parameters (CaSubjectNames and the like).
    // options: prefer ('plugin' or 'extension'), timeout (ms to wait for the extension, default 1500),
    // container (where the plug-in's object goes, default the body), requestTimeout (ms the extension path
    // waits for an answer to a call that does not wait for the user, default 30000).
    function connect(params, options) {
        params = params || {};
        options = options || {};
        var usePlugin = pluginAvailable() && options.prefer !== 'extension';
        if (usePlugin) {
            return pluginPath(params, options).then(function (path) { return new Signer(path); });
        }
        return waitForExtension(options.timeout || 1500).then(function (hello) {
            if (!hello) {
                if (pluginAvailable()) {
                    return pluginPath(params, options).then(function (path) { return new Signer(path); });
                }
                throw new KorvaneError('extension_missing');
            }
            if (!sameFamily(hello.extension)) {
                throw new KorvaneError('version_mismatch', 'the extension is ' + hello.extension);
            }
            var path = extensionPath(params, options);
            var signer = new Signer(path);
            return path.open().then(function () {
                signer.hostVersion = path.hostVersion();
                signer.extensionVersion = hello.extension;
                return signer;
            });
        });
    }

    global.Korvane = {
        connect: connect,
        KorvaneError: KorvaneError,
        pluginAvailable: pluginAvailable,
        // Resolves with 'plugin', 'extension' or '' (neither), without opening anything.
        detect: function (options) {
            if (pluginAvailable()) return Promise.resolve('plugin');
            return waitForExtension((options && options.timeout) || 1500).then(function (hello) {
                return hello ? 'extension' : '';
            });
        }
    };
})(window);
