#pragma once

#include "core/platform.h"
#include "core/serp_entry.h"
#include "ui/shell_open.h"

#include <QDialog>

class QTreeWidget;

namespace kelvara {

struct TreeNode;

// "Список URL": the result URLs behind a row of the cluster tree. For a phrase, its URLs in
// stored order; for a cluster, the URLs most shared among its phrases, at most 20, with their
// counts. A click on a row opens its address in the browser. Made afresh for every click.
class TForm1 : public QDialog {
    Q_OBJECT
public:
    // For a cluster a fourth column gives the share of its phrases that have each URL; its
    // header is in the interface language.
    TForm1(const ResultStore& store, const TreeNode& node, int level, UrlOpener opener,
           QWidget* parent = nullptr, UiLanguage language = UiLanguage::Russian);

    QTreeWidget* ListView1() const { return listView1_; }

private:
    void ListView1Click();

    QTreeWidget* listView1_;
    UrlOpener opener_;
};

}  // namespace kelvara
