#include "DriverPage.h"

#include <QFileInfo>
#include <cstdio>

void DriverPage::javaScriptConsoleMessage(const QString& message, int line, const QString& source) {
    if (source.isEmpty()) {
        std::printf("console: %s\n", qPrintable(message));
    } else {
        std::printf("console: %s (%s:%d)\n", qPrintable(message), qPrintable(QFileInfo(source).fileName()),
                    line);
    }
    std::fflush(stdout);
}

void DriverPage::javaScriptAlert(QWebFrame*, const QString& message) {
    // A modal dialog would block the run; the text goes to the log instead.
    std::printf("alert: %s\n", qPrintable(message));
    std::fflush(stdout);
}

bool DriverPage::javaScriptConfirm(QWebFrame*, const QString& message) {
    std::printf("confirm: %s (answered yes)\n", qPrintable(message));
    std::fflush(stdout);
    return true;
}
