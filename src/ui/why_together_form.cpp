#include "ui/why_together_form.h"

#include "clustering/url_display.h"

#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kelvara {

namespace {

QString tx(UiLanguage language, const char16_t* english, const char16_t* russian) {
    return QString::fromUtf16(language == UiLanguage::Russian ? russian : english);
}

void addShared(QTreeWidgetItem* parent, const QStringList& shared, bool byHost) {
    for (const QString& s : shared) {
        auto* item = new QTreeWidgetItem(parent);
        item->setText(0, byHost ? s : urlDisplayText(s));
    }
}

}  // namespace

WhyTogetherForm::WhyTogetherForm(const QString& a, const QString& b, const WhyTogether& answer,
                                 const Run& run, UiLanguage language, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("WhyTogetherForm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tx(language, u"Why together", u"Почему вместе"));
    resize(680, 420);

    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(this);
    heading->setObjectName(QStringLiteral("heading"));
    heading->setWordWrap(true);
    heading->setTextFormat(Qt::PlainText);
    layout->addWidget(heading);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("list"));
    list_->setHeaderHidden(true);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(list_);

    const QString what =
        run.byHost ? tx(language, u"hosts", u"хостов") : tx(language, u"URLs", u"URL");
    QString text = QStringLiteral("\"%1\"\n\"%2\"\n").arg(a, b);
    if (!answer.known) {
        text += tx(language, u"At least one of these phrases was not in the last run.",
                   u"Хотя бы одной из этих фраз не было в последнем запуске.");
        heading->setText(text);
        return;
    }
    text +=
        (run.hardMethod ? tx(language, u"Hard method, threshold %1.", u"Жёсткий метод, порог %1.")
                        : tx(language, u"Soft method, threshold %1.", u"Мягкий метод, порог %1."))
            .arg(run.threshold);
    heading->setText(text);

    auto* shared = new QTreeWidgetItem(list_);
    shared->setText(0, tx(language, u"Shared %1: %2", u"Общих %1: %2")
                           .arg(what, QString::number(answer.shared.size())));
    addShared(shared, answer.shared, run.byHost);
    shared->setExpanded(true);
    if (run.hardMethod || answer.direct) {
        return;
    }
    auto* chain = new QTreeWidgetItem(list_);
    chain->setExpanded(true);
    if (answer.chain.empty()) {
        chain->setText(0, tx(language, u"No chain of links joins them.",
                             u"Никакая цепочка связей их не соединяет."));
        return;
    }
    chain->setText(
        0, tx(language, u"Linked through a chain of %1 links:", u"Связаны цепочкой из %1 звеньев:")
               .arg(answer.chain.size()));
    for (const LinkStep& step : answer.chain) {
        auto* link = new QTreeWidgetItem(chain);
        link->setText(0, QStringLiteral("%1  →  %2  (%3)")
                             .arg(step.from, step.to, QString::number(step.shared.size())));
        addShared(link, step.shared, run.byHost);
        link->setExpanded(true);
    }
}

}  // namespace kelvara
