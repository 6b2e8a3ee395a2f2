#include "BrowserDriver.h"

#include <QApplication>
#include <QPixmap>
#include <QWebFrame>
#include <QWebSettings>
#include <cstdio>

BrowserDriver::BrowserDriver(const DriverOptions& options)
    : options_(options), page_(&view_), bridge_(options.resultsPath) {
    QWebSettings* settings = QWebSettings::globalSettings();
    settings->setAttribute(QWebSettings::PluginsEnabled, true);
    settings->setAttribute(QWebSettings::JavascriptEnabled, true);
    settings->setAttribute(QWebSettings::LocalContentCanAccessFileUrls, true);
    bridge_.setEnvironment(options.environment);

    view_.setPage(&page_);
    view_.resize(options.width, options.height);

    connect(page_.mainFrame(), &QWebFrame::javaScriptWindowObjectCleared, this,
            &BrowserDriver::onWindowObjectCleared);
    connect(page_.mainFrame(), &QWebFrame::loadFinished, this, [](bool ok) {
        if (!ok) {
            std::printf("driver: the page did not load completely\n");
            std::fflush(stdout);
        }
    });
    connect(&bridge_, &DriverBridge::finished, this, &BrowserDriver::onFinished);
    connect(&bridge_, &DriverBridge::reloadRequested, this, [this] {
        // Reload from the event loop, not from inside the page script that asked for it.
        QTimer::singleShot(0, &view_, &QWebView::reload);
    });

    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, &BrowserDriver::onTimeout);
}

void BrowserDriver::start() {
    view_.show();
    timeout_.start(options_.timeoutMs);
    view_.load(options_.url);
}

void BrowserDriver::onWindowObjectCleared() {
    // Called before any script of every new document, reloads included.
    bridge_.countLoad();
    page_.mainFrame()->addToJavaScriptWindowObject("korvaneDriver", &bridge_);
}

void BrowserDriver::onFinished(const QString& verdict) {
    std::printf("verdict: %s\n", qPrintable(verdict));
    std::fflush(stdout);
    finish(verdict == "PASS" ? 0 : 1);
}

void BrowserDriver::onTimeout() {
    std::printf("verdict: none within %d ms\n", options_.timeoutMs);
    std::fflush(stdout);
    bridge_.report("verdict", "TIMEOUT");
    finish(2);
}

void BrowserDriver::finish(int code) {
    if (finishing_) {
        return;
    }
    finishing_ = true;
    exitCode_ = code;
    timeout_.stop();
    // Let the page paint what it wrote last before the picture is taken and the loop ends.
    QTimer::singleShot(options_.screenshotPath.isEmpty() ? 0 : 300, this, [this] {
        saveScreenshot();
        QApplication::exit(exitCode_);
    });
}

void BrowserDriver::saveScreenshot() {
    if (options_.screenshotPath.isEmpty()) {
        return;
    }
    QPixmap picture = view_.grab();
    if (picture.isNull() || !picture.save(options_.screenshotPath, "PNG")) {
        std::printf("driver: could not save the screenshot to %s\n", qPrintable(options_.screenshotPath));
        if (exitCode_ == 0) {
            exitCode_ = 1;
        }
    } else {
        std::printf("driver: screenshot saved to %s\n", qPrintable(options_.screenshotPath));
    }
    std::fflush(stdout);
}
