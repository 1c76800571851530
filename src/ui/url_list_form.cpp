#include "ui/url_list_form.h"

#include "clustering/url_display.h"
#include "tree/cluster_tree_model.h"
#include "tree/url_list.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kelvara {

TForm1::TForm1(const ResultStore& store, const TreeNode& node, int level, UrlOpener opener,
               QWidget* parent, UiLanguage language)
    : QDialog(parent), opener_(std::move(opener)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Список URL"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    setFont(font);

    listView1_ = new QTreeWidget(this);
    listView1_->setObjectName(QStringLiteral("ListView1"));
    listView1_->setRootIsDecorated(false);
    listView1_->setUniformRowHeights(true);
    listView1_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView1_->setSelectionMode(QAbstractItemView::SingleSelection);
    listView1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView1_->setCursor(Qt::PointingHandCursor);
    listView1_->setHeaderLabels(
        {QStringLiteral("#"), QStringLiteral("URL"), QStringLiteral("Совпадения"),
         language == UiLanguage::Russian ? QStringLiteral("Доля фраз") : QStringLiteral("Share")});
    listView1_->headerItem()->setTextAlignment(2, Qt::AlignCenter);
    listView1_->headerItem()->setTextAlignment(3, Qt::AlignCenter);
    QHeaderView* header = listView1_->header();
    header->setStretchLastSection(false);
    header->resizeSection(0, 50);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->resizeSection(2, 100);
    header->resizeSection(3, 80);
    listView1_->setStyleSheet(QStringLiteral(
        "QTreeView::item { border-right: 1px solid #d8d8d8; border-bottom: 1px solid #d8d8d8; }"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(listView1_);

    const bool cluster = level == 0;
    std::vector<UrlListRow> rows;
    if (cluster) {
        QStringList phrases;
        for (const auto& child : node.children) {
            phrases.append(child->Data.Caption);
        }
        rows = clusterUrlRows(store, phrases);
    } else {
        rows = phraseUrlRows(store, node.Data.Caption);
    }
    QFont link = listView1_->font();
    link.setUnderline(true);
    for (size_t i = 0; i < rows.size(); ++i) {
        auto* item = new QTreeWidgetItem(listView1_);
        item->setText(0, QString::number(i + 1));
        item->setText(1, rows[i].display);
        item->setText(2, cluster ? QString::number(rows[i].matches) : QStringLiteral("-"));
        item->setText(
            3, cluster ? phraseShareText(rows[i].matches, node.childCount()) : QStringLiteral("-"));
        item->setTextAlignment(3, Qt::AlignCenter);
        item->setFont(1, link);
        item->setForeground(1, QColor(0, 0, 255));
        item->setForeground(2, QColor(0, 0, 0));
        item->setTextAlignment(2, Qt::AlignCenter);
    }

    // Ten rows for a phrase, twenty for a cluster, from the height of the text "1".
    const int h = QFontMetrics(listView1_->font()).boundingRect(QStringLiteral("1")).height();
    const int outer = (cluster ? 20 : 10) * (h + 6) + 50;
    const int frame = frameGeometry().height() - geometry().height();
    resize(680, std::max(100, outer - std::max(0, frame)));

    connect(listView1_, &QTreeWidget::itemClicked, this, &TForm1::ListView1Click);
}

void TForm1::ListView1Click() {
    const QList<QTreeWidgetItem*> selected = listView1_->selectedItems();
    if (selected.isEmpty() || !opener_) {
        return;
    }
    if (const auto address = addressToOpen(selected.constFirst()->text(1))) {
        opener_(*address);
    }
}

}  // namespace kelvara
