#pragma once

#include <QWebPage>

// A web page that relays script console output and dialogs to standard output, so that a failing page
// leaves its story in the test log.
class DriverPage : public QWebPage {
    Q_OBJECT

  public:
    using QWebPage::QWebPage;

  protected:
    void javaScriptConsoleMessage(const QString& message, int line, const QString& source) override;
    void javaScriptAlert(QWebFrame* frame, const QString& message) override;
    bool javaScriptConfirm(QWebFrame* frame, const QString& message) override;
};
