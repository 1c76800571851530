#pragma once

#include "core/platform.h"
#include "ui/shell_open.h"

#include <QDialog>
#include <QImage>

class QLabel;

namespace kelvara {

// The about window: name, version, credits and two links to the maker's site, on white, with a
// horizontal rule that fades out towards both edges.
class TfrmAboutForm : public QDialog {
    Q_OBJECT
public:
    TfrmAboutForm(UiLanguage language, UrlOpener opener, QWidget* parent = nullptr);

    // The addresses behind the two links.
    static QString productPage();
    static QString contactPage();
    // The grey of the rule's fade k pixels from where the black part ends (0 for k = 0).
    static int fadeGrey(int k);

    const QImage& picture() const { return picture_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void highlight(QLabel* link);  // null: neither

    UiLanguage language_;
    UrlOpener opener_;
    QImage picture_;
    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Panel2;
    int bevelTop_ = 137;
};

}  // namespace kelvara
