#pragma once

#include <QFile>
#include <QObject>
#include <QString>

// The object a test page reaches as `window.korvaneDriver`: it relays the page's log lines and results to
// the driver, asks for a reload and hands over the page's verdict. Only the methods marked Q_INVOKABLE and
// the properties are visible to page script.
class DriverBridge : public QObject {
    Q_OBJECT
    Q_PROPERTY(int loadCount READ loadCount)
    Q_PROPERTY(QString environment READ environment)

  public:
    explicit DriverBridge(const QString& resultsPath, QObject* parent = nullptr);

    int loadCount() const { return loads_; }
    void countLoad() { ++loads_; }
    // Text the runner passes with --env, for pages that need a value only the runner knows.
    QString environment() const { return environment_; }
    void setEnvironment(const QString& text) { environment_ = text; }

    Q_INVOKABLE void log(const QString& text);
    Q_INVOKABLE void report(const QString& key, const QString& value);
    Q_INVOKABLE void done(const QString& verdict);
    Q_INVOKABLE void reload();
    Q_INVOKABLE double now() const;

  signals:
    void finished(const QString& verdict);
    void reloadRequested();

  private:
    QFile results_;
    int loads_ = 0;
    QString environment_;
    bool finished_ = false;
};
