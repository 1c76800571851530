// kelvara: the windowed program.
#include "core/codepage.h"
#include "search/http_transport.h"
#include "ui/main_form.h"
#include "ui/qt_translations.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

namespace {

// What the command line asks of the window.
struct WindowArguments {
    QString importFile;   // --import FILE.csv: as though chosen with the import button
    QString openFile;     // FILE: a project or an exported CSV to open, as a file manager asks
    QByteArray codePage;  // --codepage NAME: the files' code page, for a sample made elsewhere
    QString error;
};

WindowArguments parseWindowArguments(const QStringList& arguments) {
    WindowArguments out;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption import(QStringLiteral("import"), QString(), QStringLiteral("file"));
    const QCommandLineOption codepage(QStringLiteral("codepage"), QString(),
                                      QStringLiteral("name"));
    parser.addOptions({import, codepage});
    if (!parser.parse(arguments)) {
        out.error = parser.errorText();
        return out;
    }
    for (const QCommandLineOption& option : {import, codepage}) {
        if (parser.values(option).size() > 1) {
            out.error = QStringLiteral("--%1 is given twice").arg(option.names().first());
            return out;
        }
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        out.error = QStringLiteral("unexpected argument \"%1\"").arg(files[1]);
        return out;
    }
    if (!files.isEmpty()) {
        out.openFile = files.first();
        if (out.openFile.isEmpty()) {
            out.error = QStringLiteral("the file name is empty");
            return out;
        }
        if (parser.isSet(import)) {
            out.error = QStringLiteral("give either --import FILE.csv or a file to open, not both");
            return out;
        }
    }
    if (parser.isSet(import)) {
        out.importFile = parser.value(import);
        if (out.importFile.isEmpty()) {
            out.error = QStringLiteral("the --import file name is empty");
            return out;
        }
    }
    if (parser.isSet(codepage)) {
        out.codePage = parser.value(codepage).toLatin1();
        // A name the converters do not know would silently read everything as Latin-1.
        if (!kelvara::codePageKnown(out.codePage)) {
            out.error = QStringLiteral("unknown code page \"%1\"").arg(parser.value(codepage));
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread: the transport's one-time set-up.
    kelvara::httpGlobalInit();
    QApplication app(argc, argv);
    const WindowArguments arguments = parseWindowArguments(QCoreApplication::arguments());
    if (!arguments.error.isEmpty()) {
        const QString text = QStringLiteral(
                                 "kelvara: %1\nUsage: kelvara [--import FILE.csv | FILE] "
                                 "[--codepage NAME]\n"
                                 "FILE is a project (.kelvara) or a CSV file of the export.")
                                 .arg(arguments.error);
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return 2;
    }
    kelvara::TfrmMainForm::Environment env;
    env.platform = kelvara::PlatformFacts::system();
    if (!arguments.codePage.isEmpty()) {
        env.platform.codePage = arguments.codePage;
    }
    env.search.transport = std::make_shared<kelvara::CurlTransport>();
    env.search.clock = env.platform.clock;
    env.search.codePage = env.platform.codePage;
    // Standard buttons and dialogs speak the interface language; a missing translation leaves
    // them English, which is no reason to stop.
    kelvara::installQtTranslations(env.platform.language);
    kelvara::TfrmMainForm window(std::move(env));
    window.show();
    if (!arguments.importFile.isEmpty()) {
        QTimer::singleShot(0, &window,
                           [&window, file = arguments.importFile] { window.importAndRun(file); });
    }
    if (!arguments.openFile.isEmpty()) {
        window.openAtStart(arguments.openFile);
    }
    return app.exec();
}
