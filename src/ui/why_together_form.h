#pragma once

#include "clustering/link_graph.h"
#include "core/platform.h"

#include <QDialog>

class QTreeWidget;

namespace kelvara {

// "Why together": the results two phrases share and, for the soft method when they share fewer
// than the threshold, the chain of links that joined them in the last run. Not modal: it reads
// what it shows once, when it opens.
class WhyTogetherForm : public QDialog {
    Q_OBJECT
public:
    struct Run {
        int threshold = 3;
        bool hardMethod = false;
        bool byHost = false;
    };
    WhyTogetherForm(const QString& a, const QString& b, const WhyTogether& answer, const Run& run,
                    UiLanguage language, QWidget* parent = nullptr);

    QTreeWidget* list() const { return list_; }

private:
    QTreeWidget* list_;
};

}  // namespace kelvara
