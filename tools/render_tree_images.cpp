// Renders the tree's SVG pictures to PNG files, for a build without Qt Svg (the Windows
// cross-build): render_tree_images QRC OUT_DIR writes OUT_DIR/<alias>_<size>.png for every
// picture the resource file lists, at the sizes the tree and its menu ask for.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: render_tree_images QRC OUT_DIR\n");
        return 2;
    }
    QFile qrc(args[1]);
    if (!qrc.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    const QString list = QString::fromUtf8(qrc.readAll());
    const QDir base = QFileInfo(args[1]).absoluteDir();
    const QDir out(args[2]);
    QDir().mkpath(out.path());
    static const QRegularExpression entry(
        QStringLiteral(R"(<file alias="(\d+)\.svg">([^<]+)</file>)"));
    int pictures = 0;
    for (const QRegularExpressionMatch& m : entry.globalMatch(list)) {
        QSvgRenderer renderer(base.filePath(m.captured(2)));
        if (!renderer.isValid()) {
            std::fprintf(stderr, "cannot render %s\n", qPrintable(m.captured(2)));
            return 1;
        }
        for (int size : {16, 20, 24, 32, 40, 48, 64}) {
            QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            {
                QPainter p(&image);
                renderer.render(&p, QRectF(0, 0, size, size));
            }
            const QString file =
                out.filePath(QStringLiteral("%1_%2.png").arg(m.captured(1)).arg(size));
            if (!image.save(file)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                return 1;
            }
        }
        ++pictures;
    }
    return pictures > 0 ? 0 : 1;
}
