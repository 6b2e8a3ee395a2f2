#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWebView>

#include "DriverBridge.h"
#include "DriverPage.h"

struct DriverOptions {
    QUrl url;
    QString resultsPath;     // key<TAB>value lines reported by the page, then the verdict
    QString screenshotPath;  // PNG of the view, taken when the page finishes or times out
    QString environment;     // text handed to the page as korvaneDriver.environment
    int timeoutMs = 30000;
    int width = 1024;
    int height = 768;
};

// Loads one page with plug-ins and script enabled, exposes `korvaneDriver` to it and ends the event loop
// with the page's verdict: 0 for "PASS", 1 for any other verdict, 2 when the page gives none in time.
class BrowserDriver : public QObject {
    Q_OBJECT

  public:
    explicit BrowserDriver(const DriverOptions& options);

    void start();
    int exitCode() const { return exitCode_; }

  private:
    void onWindowObjectCleared();
    void onFinished(const QString& verdict);
    void onTimeout();
    void finish(int code);
    void saveScreenshot();

    DriverOptions options_;
    QWebView view_;
    DriverPage page_;
    DriverBridge bridge_;
    QTimer timeout_;
    int exitCode_ = 2;
    bool finishing_ = false;
};
