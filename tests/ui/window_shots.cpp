// Not a test: draws the windows into PNG files, for a look at them.
//   kelvara_window_shots OUTDIR en|ru
#include "search/http_transport.h"
#include "support/service_double.h"
#include "tree/cluster_tree_model.h"
#include "ui/about_form.h"
#include "ui/dialogs.h"
#include "ui/main_form.h"
#include "ui/progress_form.h"
#include "ui/url_list_form.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

using namespace kelvara;

int main(int argc, char** argv) {
    httpGlobalInit();
    QApplication app(argc, argv);
    Dialogs::setNonInteractive(true);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    const bool ru = argc > 2 && QByteArray(argv[2]) == "ru";
    const QString suffix = ru ? u"-ru"_qs : u"-en"_qs;
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
            app.quit();
        });
    });
    return app.exec();
}
