// Test harness shared by the browser pages: checks, a queue of steps that may wait, and the hand-over of
// results and the verdict to the driver (window.korvaneDriver). Opened in an ordinary browser, the page
// logs to the console instead.
var T = (function () {
    var failures = [];
    var finished = false;
    var driver = window.korvaneDriver || null;

    function show(v) {
        if (typeof v === 'string') return JSON.stringify(v.length > 120 ? v.substr(0, 120) + '...' : v);
        if (v === undefined) return 'undefined';
        try { return JSON.stringify(v); } catch (e) { return String(v); }
    }
    function log(text) {
        if (driver) driver.log(text); else console.log(text);
    }
    function fail(what) {
        failures.push(what);
        log('FAIL ' + what);
    }
    function ok(cond, what) {
        if (cond) log('ok   ' + what); else fail(what);
        return !!cond;
    }
    function eq(actual, expected, what) {
        return ok(actual === expected, what + ': got ' + show(actual) + (actual === expected ? '' : ', want ' + show(expected)));
    }
    // Runs fn and gives back the exception it raised (null when it raised none).
    function raised(fn) {
        try { fn(); } catch (e) { return e; }
        return null;
    }
    function report(key, value) {
        if (driver) driver.report(key, String(value)); else console.log('result ' + key + ' = ' + value);
    }
    function finish() {
        if (finished) return;
        finished = true;
        var verdict = failures.length ? 'FAIL: ' + failures.join('; ') : 'PASS';
        log(verdict);
        if (driver) driver.done(verdict);
        document.title = verdict.substr(0, 60);
    }
    // Steps run in order; a step that takes an argument gets `next` and must call it (or T.waitFor); a step
    // that returns a promise is done when the promise settles (a rejection fails the page).
    function run(steps) {
        var i = 0;
        function next() {
            if (finished) return;
            if (i >= steps.length) { finish(); return; }
            var step = steps[i++];
            try {
                var result = step.length > 0 ? step(next) : step();
                if (step.length > 0) return;
                if (result && typeof result.then === 'function') {
                    result.then(function () { setTimeout(next, 0); }, function (e) {
                        fail('step ' + i + ' rejected: ' + (e && e.message ? e.message : e));
                        finish();
                    });
                } else {
                    setTimeout(next, 0);
                }
            } catch (e) {
                fail('step ' + i + ' threw ' + (e && e.message ? e.message : e));
                finish();
            }
        }
        setTimeout(next, 0);
    }
    // Polls cond every 10 ms; calls next once it holds, or records a failure after timeoutMs.
    function waitFor(cond, timeoutMs, what, next) {
        var start = Date.now();
        (function poll() {
            var ready = false;
            try { ready = cond(); } catch (e) { ready = false; }
            if (ready) { log('ok   ' + what); next(); return; }
            if (Date.now() - start > timeoutMs) { fail(what + ' (waited ' + timeoutMs + ' ms)'); next(); return; }
            setTimeout(poll, 10);
        })();
    }
    window.onerror = function (message, source, line) {
        fail('uncaught error: ' + message + ' at line ' + line);
        finish();
    };
    function failed() { return failures.length > 0; }
    return { failed: failed, ok: ok, eq: eq, fail: fail, raised: raised, report: report, finish: finish, run: run,
             waitFor: waitFor, log: log, show: show, driver: driver };
})();
