// Not a test: draws the windows into PNG files, for a look at them.
//   kelvara_window_shots OUTDIR en|ru
#include "search/http_transport.h"
#include "support/service_double.h"
#include "tree/cluster_tree_model.h"
#include "ui/about_form.h"
#include "ui/cluster_tree_view.h"
#include "ui/dialogs.h"
#include "ui/main_form.h"
#include "ui/progress_form.h"
#include "ui/qt_translations.h"
#include "ui/url_list_form.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

using namespace kelvara;

namespace {

// Lets the event loop run for a while, so that what loads in the background is drawn.
void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    httpGlobalInit();
    QApplication app(argc, argv);
    Dialogs::setNonInteractive(true);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    const bool ru = argc > 2 && QByteArray(argv[2]) == "ru";
    const QString suffix = ru ? u"-ru"_qs : u"-en"_qs;
    // Qt's standard buttons and dialogs in the window's language, as the program loads them.
    if (ru && !installQtTranslations(UiLanguage::Russian)) {
        qWarning("Qt's Russian translations are missing: the standard buttons stay English");
    }
    QTemporaryDir dir;
    QFile::copy(QCoreApplication::applicationDirPath() + u"/regions.txt"_qs,
                dir.filePath(u"regions.txt"_qs));

    test::ServiceDouble service;
    const QStringList topics = {u"окна пвх"_qs,           u"пластиковые окна"_qs,
                                u"двери межкомнатные"_qs, u"купить двери"_qs,
                                u"натяжные потолки"_qs,   u"потолки цена"_qs};
    service.setResponder([](const QString& q) {
        QStringList urls;
        const QString topic = q.section(u' ', 0, 0);
        for (int i = 0; i < 10; ++i) {
            urls << QStringLiteral("https://%1-site%2.ru/%3")
                        .arg(topic.size())
                        .arg(i)
                        .arg(i < 3          ? QString()
                             : q.size() % 2 ? u"page"_qs
                                            : u"x"_qs);
        }
        test::ServiceAnswer a = test::ServiceAnswer::urls(urls);
        a.delayMs = 120;
        return a;
    });

    TfrmMainForm::Environment env;
    env.platform.executableDir = dir.path() + u'/';
    env.platform.language = ru ? UiLanguage::Russian : UiLanguage::English;
    env.platform.codePage = "windows-1251";
    env.search.transport = std::make_shared<CurlTransport>();
    env.search.codePage = "windows-1251";
    env.opener = [](const QString&) {};
    TfrmMainForm w(env);
    w.show();
    QTimer::singleShot(300, [&] {
        w.grab().save(out + u"/main-before"_qs + suffix + u".png"_qs);
        w.findChild<QLineEdit*>(u"LabeledEdit2"_qs)->setText(service.searchUrl());
        w.findChild<QPlainTextEdit*>(u"Memo1"_qs)->setPlainText(topics.join(u'\n'));
        QTimer::singleShot(1500, [&] {
            w.progressForm()->grab().save(out + u"/progress"_qs + suffix + u".png"_qs);
        });
        w.Button1Click();
        w.grab().save(out + u"/main-after"_qs + suffix + u".png"_qs);
        w.aboutForm()->show();
        QTimer::singleShot(200, [&] {
            w.aboutForm()->grab().save(out + u"/about"_qs + suffix + u".png"_qs);
            w.aboutForm()->hide();
            const TreeNode* cluster = w.treeModel().nodeOf(w.treeModel().index(0, 0));
            TForm1 phrase(w.store(), *cluster->children[0], 1, env.opener);
            phrase.show();
            phrase.grab().save(out + u"/urls-phrase"_qs + suffix + u".png"_qs);
            TForm1 whole(w.store(), *cluster, 0, env.opener);
            whole.show();
            whole.grab().save(out + u"/urls-cluster"_qs + suffix + u".png"_qs);
            if (ru) {
                // The bundled sample imported and clustered, as the run command shows it.
                const QString samples = QCoreApplication::applicationDirPath() + u"/samples"_qs;
                w.importAndRun(samples + u"/queries-ru.csv"_qs);
                w.tree()->expandToDepth(0);
                settle(200);
                // The tree's delete question over the window, as the user meets it.
                QMessageBox box(QMessageBox::Question, w.windowTitle(),
                                u"Удалить выбранные категории?"_qs,
                                QMessageBox::Yes | QMessageBox::Cancel, &w);
                box.show();
                settle(100);
                QPixmap shot = w.grab();
                const QPixmap dialog = box.grab();
                QPainter painter(&shot);
                const QPoint at((shot.width() - dialog.width()) / 2,
                                (shot.height() - dialog.height()) / 2);
                painter.drawPixmap(at, dialog);
                painter.setPen(Qt::darkGray);
                painter.drawRect(QRect(at, dialog.size()).adjusted(-1, -1, 0, 0));
                painter.end();
                shot.save(out + u"/main-ru-question.png"_qs);
                box.hide();
                // The import's open dialog (Qt's own, the same on every desktop).
                QFileDialog open(&w, {}, samples, u"CSV (*.csv)"_qs);
                open.setOption(QFileDialog::DontUseNativeDialog);
                open.setFileMode(QFileDialog::ExistingFile);
                open.resize(640, 400);
                open.show();
                settle(500);  // the folder is listed in the background
                open.grab().save(out + u"/open-dialog-ru.png"_qs);
            }
            // exit(), not quit(): quit() asks the windows to close, and the run left unsaved work.
            app.exit(0);
        });
    });
    return app.exec();
}
