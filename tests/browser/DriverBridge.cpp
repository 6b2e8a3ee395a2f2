#include "DriverBridge.h"

#include <QElapsedTimer>
#include <QTextStream>
#include <cstdio>

namespace {
// One clock for the whole run, so page timings do not depend on Date's millisecond resolution.
QElapsedTimer& runClock() {
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}
}  // namespace

DriverBridge::DriverBridge(const QString& resultsPath, QObject* parent) : QObject(parent) {
    runClock();
    if (!resultsPath.isEmpty()) {
        results_.setFileName(resultsPath);
        if (!results_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            std::fprintf(stderr, "driver: cannot write %s\n", qPrintable(resultsPath));
        }
    }
}

void DriverBridge::log(const QString& text) {
    std::printf("page: %s\n", qPrintable(text));
    std::fflush(stdout);
}

void DriverBridge::report(const QString& key, const QString& value) {
    // Results are one line each; a line break inside a value would split it for the runner.
    QString flat = value;
    flat.replace('\n', ' ').replace('\r', ' ');
    if (results_.isOpen()) {
        QTextStream out(&results_);
        out << key << '\t' << flat << '\n';
        out.flush();
        results_.flush();
    }
}

void DriverBridge::done(const QString& verdict) {
    // Only the first verdict counts: a page that reports twice must not turn a failure into a pass.
    if (finished_) {
        return;
    }
    finished_ = true;
    report("verdict", verdict);
    emit finished(verdict);
}

void DriverBridge::reload() {
    emit reloadRequested();
}

double DriverBridge::now() const {
    return static_cast<double>(runClock().nsecsElapsed()) / 1e6;
}
