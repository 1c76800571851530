#include "ui/tree_images.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#ifndef KELVARA_TREE_IMAGES_PNG
#include <QSvgRenderer>
#endif

#include <array>
#include <memory>

// Resources of a static library must be registered by hand; outside any namespace.
static void initTreeImages() {
    Q_INIT_RESOURCE(tree_images);
}

namespace kelvara {

namespace {

#ifndef KELVARA_TREE_IMAGES_PNG
// Renders the picture at the exact pixel size asked for, so nothing is scaled from a bitmap;
// no image plugin is needed.
class SvgIconEngine : public QIconEngine {
public:
    explicit SvgIconEngine(std::shared_ptr<QSvgRenderer> renderer)
        : renderer_(std::move(renderer)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pm = scaledPixmap((QSizeF(rect.size()) * scale).toSize(), mode, state, scale);
        painter->drawPixmap(rect, pm);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // `size` is in device pixels already; `scale` only tags the result.
    QPixmap scaledPixmap(const QSize& px, QIcon::Mode mode, QIcon::State, qreal scale) override {
        const quint64 key =
            (quint64(px.width()) << 32) | (quint64(px.height()) << 2) | quint64(mode);
        auto it = cache_.constFind(key);
        if (it != cache_.constEnd()) {
            return *it;
        }
        QPixmap pm(px);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            renderer_->render(&p, QRectF(QPointF(0, 0), QSizeF(px)));
        }
        if (mode == QIcon::Disabled && qApp) {
            QStyleOption opt;
            pm = QApplication::style()->generatedIconPixmap(mode, pm, &opt);
        }
        pm.setDevicePixelRatio(scale);
        cache_.insert(key, pm);
        return pm;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }

    QIconEngine* clone() const override { return new SvgIconEngine(renderer_); }

    QString key() const override { return QStringLiteral("kelvara-svg"); }

    bool isNull() override { return !renderer_->isValid(); }

private:
    std::shared_ptr<QSvgRenderer> renderer_;
    QHash<quint64, QPixmap> cache_;
};
#endif

}  // namespace

QIcon TreeImages::icon(int index) {
    static std::array<QIcon, kCount> icons;
    static std::array<bool, kCount> loaded{};
    if (index < 0 || index >= kCount) {
        return {};
    }
    if (!loaded[size_t(index)]) {
        loaded[size_t(index)] = true;
        initTreeImages();
#ifdef KELVARA_TREE_IMAGES_PNG
        // Rendered beforehand, "<index>_<size>.png", at the sizes the build chose.
        const QDir images(QStringLiteral(":/tree_images"));
        const QString prefix = QString::number(index) + u'_';
        for (const QString& name :
             images.entryList({prefix + QStringLiteral("*.png")}, QDir::Files)) {
            const int size = name.sliced(prefix.size()).chopped(4).toInt();
            if (size > 0) {
                icons[size_t(index)].addFile(images.filePath(name), QSize(size, size));
            }
        }
#else
        const QString path = QStringLiteral(":/tree_images/%1.svg").arg(index);
        if (QFile::exists(path)) {
            auto renderer = std::make_shared<QSvgRenderer>(path);
            if (renderer->isValid()) {
                icons[size_t(index)] = QIcon(new SvgIconEngine(std::move(renderer)));
            }
        }
#endif
    }
    return icons[size_t(index)];
}

}  // namespace kelvara
