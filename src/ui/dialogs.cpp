#include "ui/dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QWidget>

#include <deque>

namespace kelvara {

namespace {

struct TestAnswers {
    std::deque<QMessageBox::StandardButton> answers;
    std::deque<std::optional<QString>> inputs;
    std::vector<Dialogs::Shown> shown;
};

TestAnswers& answers() {
    static TestAnswers a;
    return a;
}

QString titleOr(const QString& title) {
    return title.isEmpty() ? QApplication::applicationDisplayName() : title;
}

QMessageBox::StandardButton escapeButton(QMessageBox::StandardButtons buttons) {
    for (QMessageBox::StandardButton b : {QMessageBox::Cancel, QMessageBox::No, QMessageBox::Ok}) {
        if (buttons & b) {
            return b;
        }
    }
    return QMessageBox::NoButton;
}

QMessageBox::StandardButton showBox(QWidget* parent, QMessageBox::Icon icon, Dialogs::Kind kind,
                                    const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons) {
    TestAnswers& a = answers();
    a.shown.push_back({kind, titleOr(title), text, {}, buttons});
    if (!a.answers.empty()) {
        const QMessageBox::StandardButton b = a.answers.front();
        a.answers.pop_front();
        return b;
    }
    QMessageBox box(icon, titleOr(title), text, buttons, parent);
    box.setEscapeButton(escapeButton(buttons));
    const int result = box.exec();
    const auto b = QMessageBox::StandardButton(result);
    return (buttons & b) ? b : escapeButton(buttons);
}

}  // namespace

QMessageBox::StandardButton Dialogs::question(QWidget* parent, const QString& text,
                                              QMessageBox::StandardButtons buttons,
                                              const QString& title) {
    return showBox(parent, QMessageBox::Question, Kind::Question, title, text, buttons);
}

void Dialogs::error(QWidget* parent, const QString& text, const QString& title) {
    showBox(parent, QMessageBox::Critical, Kind::Error, title, text, QMessageBox::Ok);
}

void Dialogs::information(QWidget* parent, const QString& text, const QString& title) {
    showBox(parent, QMessageBox::Information, Kind::Information, title, text, QMessageBox::Ok);
}

QString Dialogs::InputBox(QWidget* parent, const QString& title, const QString& prompt,
                          const QString& text) {
    TestAnswers& a = answers();
    a.shown.push_back({Kind::Input, titleOr(title), prompt, text, {}});
    if (!a.inputs.empty()) {
        const std::optional<QString> answer = a.inputs.front();
        a.inputs.pop_front();
        return answer ? *answer : text;
    }
    QInputDialog dlg(parent);
    dlg.setWindowTitle(titleOr(title));
    dlg.setLabelText(prompt);
    dlg.setTextValue(text);
    return dlg.exec() == QDialog::Accepted ? dlg.textValue() : text;
}

void Dialogs::setNextAnswer(QMessageBox::StandardButton answer) {
    answers().answers.push_back(answer);
}

void Dialogs::setNextInput(std::optional<QString> text) {
    answers().inputs.push_back(std::move(text));
}

const std::vector<Dialogs::Shown>& Dialogs::shown() {
    return answers().shown;
}

void Dialogs::reset() {
    answers() = TestAnswers();
}

}  // namespace kelvara
