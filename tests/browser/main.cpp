// korvane-browser: runs one page in QtWebKit with plug-ins enabled and exits with the page's verdict.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>

#include "BrowserDriver.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("korvane-browser");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Loads a page with plug-ins enabled. The page calls korvaneDriver.done(\"PASS\") or done(reason).");
    parser.addHelpOption();
    parser.addPositionalArgument("page", "File path or URL of the page");
    QCommandLineOption results("results", "Write the page's reported results to FILE", "FILE");
    QCommandLineOption screenshot("screenshot", "Save a PNG of the view to FILE when done", "FILE");
    QCommandLineOption timeout("timeout", "Seconds to wait for a verdict (default 30)", "SECONDS", "30");
    QCommandLineOption env("env", "Text the page reads as korvaneDriver.environment", "TEXT");
    QCommandLineOption size("size", "View size (default 1024x768)", "WxH", "1024x768");
    parser.addOptions({results, screenshot, timeout, env, size});
    parser.process(app);

    const QStringList pages = parser.positionalArguments();
    if (pages.size() != 1) {
        parser.showHelp(3);
    }

    DriverOptions options;
    const QString page = pages.front();
    options.url = QFileInfo::exists(page) ? QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath())
                                          : QUrl::fromUserInput(page);
    options.resultsPath = parser.value(results);
    options.screenshotPath = parser.value(screenshot);
    options.environment = parser.value(env);
    bool ok = false;
    const double seconds = parser.value(timeout).toDouble(&ok);
    if (!ok || seconds <= 0) {
        std::fprintf(stderr, "korvane-browser: bad --timeout\n");
        return 3;
    }
    options.timeoutMs = static_cast<int>(seconds * 1000);
    const QStringList dims = parser.value(size).split('x');
    if (dims.size() != 2 || dims[0].toInt() <= 0 || dims[1].toInt() <= 0) {
        std::fprintf(stderr, "korvane-browser: bad --size\n");
        return 3;
    }
    options.width = dims[0].toInt();
    options.height = dims[1].toInt();

    BrowserDriver driver(options);
    driver.start();
    app.exec();
    return driver.exitCode();
}
