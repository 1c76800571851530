#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kelvara {

// The progress window of a run: phase title, explanation, a count line while fetching, a bar
// and the cancel button. It has no behaviour of its own; the run fills it and closes it. Its
// button and its close box both end it with the cancel result.
class TfrmProgressForm : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProgressForm(QWidget* parent = nullptr);

    QLabel* StaticText1() const { return staticText1_; }
    QLabel* StaticText2() const { return staticText2_; }
    QProgressBar* ProgressBar1() const { return progressBar1_; }
    QPushButton* BitBtn1() const { return bitBtn1_; }

Q_SIGNALS:
    // Emitted once the window is on screen; the run's first poll waits for it.
    void shown();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* staticText1_;
    QLabel* staticText2_;
    QProgressBar* progressBar1_;
    QPushButton* bitBtn1_;
};

}  // namespace kelvara
