#include "ui/progress_form.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace kelvara {

TfrmProgressForm::TfrmProgressForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmProgressForm"));
    setWindowTitle(QStringLiteral("Progress"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    setFixedSize(320, 222);

    staticText1_ = new QLabel(this);
    staticText1_->setObjectName(QStringLiteral("StaticText1"));
    staticText1_->setAlignment(Qt::AlignCenter);
    staticText1_->setWordWrap(true);
    staticText1_->setFixedSize(272, 65);

    staticText2_ = new QLabel(this);
    staticText2_->setObjectName(QStringLiteral("StaticText2"));
    staticText2_->setAlignment(Qt::AlignCenter);

    progressBar1_ = new QProgressBar(this);
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setFixedWidth(272);
    progressBar1_->setRange(0, 0);
    progressBar1_->setTextVisible(false);

    bitBtn1_ = new QPushButton(QStringLiteral("Cancel"), this);
    bitBtn1_->setObjectName(QStringLiteral("BitBtn1"));
    bitBtn1_->setFixedSize(75, 30);
    connect(bitBtn1_, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 16);
    layout->addWidget(staticText1_, 0, Qt::AlignHCenter);
    layout->addWidget(staticText2_, 0, Qt::AlignHCenter);
    layout->addWidget(progressBar1_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    layout->addWidget(bitBtn1_, 0, Qt::AlignHCenter);
}

void TfrmProgressForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // After the window has been shown and the modal loop runs.
    QTimer::singleShot(0, this, &TfrmProgressForm::shown);
}

}  // namespace kelvara
