#include "ui/about_form.h"

#include "core/messages.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>

#include <cmath>

namespace kelvara {

namespace {

const QColor kLinkColour(52, 102, 153);

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& geometry) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(geometry);
    l->setAutoFillBackground(true);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(p);
    return l;
}

void setLook(QLabel* l, const QColor& colour, bool bold) {
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, colour);
    l->setPalette(p);
    QFont f = l->font();
    f.setBold(bold);
    l->setFont(f);
}

}  // namespace

QString TfrmAboutForm::productPage() {
    return QStringLiteral("https://") + QString::fromUtf16(kMakerDomain) +
           QStringLiteral("/kelvara/");
}

QString TfrmAboutForm::contactPage() {
    return QStringLiteral("https://") + QString::fromUtf16(kMakerDomain) +
           QStringLiteral("/contact/");
}

int TfrmAboutForm::fadeGrey(int k) {
    return k == 0 ? 0 : int(std::nearbyint(2.05 * k));
}

TfrmAboutForm::TfrmAboutForm(UiLanguage language, UrlOpener opener, QWidget* parent)
    : QDialog(parent), language_(language), opener_(std::move(opener)) {
    setObjectName(QStringLiteral("frmAboutForm"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    setFixedSize(377, 238);
    QFont base(QStringLiteral("Tahoma"));
    base.setPointSize(8);
    setFont(base);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, width(), height());
    Image1->setMouseTracking(true);

    Label1 = makeLabel(this, "Label1", QRect(14, 12, 250, 32));
    QFont title(QStringLiteral("Arial"));
    title.setPixelSize(20);
    title.setBold(true);
    Label1->setFont(title);

    Label3 = makeLabel(this, "Label3", QRect(16, 48, 160, 18));
    QFont version(QStringLiteral("Tahoma"));
    version.setPixelSize(13);
    version.setBold(true);
    Label3->setFont(version);

    Label4 = makeLabel(this, "Label4", QRect(200, 50, 170, 16));
    Label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    Label5 = makeLabel(this, "Label5", QRect(16, 82, 220, 16));
    Label5->setText(QStringLiteral("Web: ") + QString::fromUtf16(kMakerDomain));
    Label6 = makeLabel(this, "Label6", QRect(16, 102, 220, 16));
    for (QLabel* link : {Label5, Label6}) {
        link->setCursor(Qt::PointingHandCursor);
        link->setMouseTracking(true);
        link->installEventFilter(this);
    }
    Image1->installEventFilter(this);

    Label7 = makeLabel(this, "Label7", QRect(8, 146, 360, 40));
    Label7->setAlignment(Qt::AlignCenter);
    Label7->setWordWrap(true);

    Label8 = makeLabel(this, "Label8", QRect(10, 196, 260, 14));
    Label8->setText(QStringLiteral("© 2026 Tarvelo. All rights reserved."));
    Label9 = makeLabel(this, "Label9", QRect(10, 212, 260, 14));
    Label9->setText(QString::fromUtf16(kMakerDomain));

    Panel2 = makeLabel(this, "Panel2", QRect(292, 200, 76, 28));
    Panel2->setAlignment(Qt::AlignCenter);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel2->setLineWidth(1);
    Panel2->setCursor(Qt::PointingHandCursor);
    Panel2->installEventFilter(this);

    FormCreate();
}

void TfrmAboutForm::FormCreate() {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setLook(Label1, kLinkColour, true);
    setLook(Label3, kLinkColour, true);

    // The picture: white, and the rule at the hidden bevel's height, black in the middle and
    // fading to white 25 pixels before either edge.
    picture_ = QImage(frameGeometry().size().expandedTo(size()), QImage::Format_RGB32);
    picture_.fill(Qt::white);
    const int y = bevelTop_;
    const int w = Image1->width();
    for (int x = 150; x < w - 150; ++x) {
        picture_.setPixelColor(x, y, Qt::black);
    }
    for (int k = 0; k <= 124; ++k) {
        const int g = fadeGrey(k);
        picture_.setPixelColor(150 - k, y, QColor(g, g, g));
        picture_.setPixelColor(w - 150 + k, y, QColor(g, g, g));
    }
    Image1->setPixmap(QPixmap::fromImage(picture_));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->lower();
}

void TfrmAboutForm::FormShow() {
    setWindowTitle(GetMessageText(Msg::AboutCaption, language_));
    Panel2->setText(GetMessageText(Msg::Close, language_));
    Label1->setText(GetMessageText(Msg::AboutTitle, language_));
    Label3->setText(messageText(Msg::AboutVersion, language_, {GetVersionText(false)}));
    Label4->setText(GetMessageText(Msg::AboutCreatedBy, language_));
    Label6->setText(GetMessageText(Msg::AboutMail, language_));
    Label7->setText(GetMessageText(Msg::AboutText, language_));
    Label4->adjustSize();
    Label4->move(width() - Label4->width() - 5, Label4->y());
    highlight(nullptr);
}

void TfrmAboutForm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TfrmAboutForm::highlight(QLabel* link) {
    setLook(Label5, link == Label5 ? kLinkColour : QColor(Qt::black), link == Label5);
    setLook(Label6, link == Label6 ? kLinkColour : QColor(Qt::black), link == Label6);
}

bool TfrmAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        if (watched == Label5 || watched == Label6) {
            highlight(static_cast<QLabel*>(watched));
        } else if (watched == Image1) {
            highlight(nullptr);
        }
    } else if (event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label5 || watched == Label6) {
            if (opener_) {
                opener_(watched == Label5 ? productPage() : contactPage());
            }
            highlight(nullptr);
            return true;
        }
        if (watched == Panel2) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kelvara
