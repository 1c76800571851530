#include "ui/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QWidget>

#include <deque>

namespace kelvara {

namespace {

struct TestAnswers {
    std::deque<QMessageBox::StandardButton> answers;
    std::deque<std::optional<QString>> inputs;
    std::deque<std::optional<QString>> files;
    std::vector<Dialogs::Shown> shown;
    bool nonInteractive = false;
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
    if (a.nonInteractive) {
        return escapeButton(buttons);
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
    if (a.nonInteractive) {
        return text;
    }
    QInputDialog dlg(parent);
    dlg.setWindowTitle(titleOr(title));
    dlg.setLabelText(prompt);
    dlg.setTextValue(text);
    return dlg.exec() == QDialog::Accepted ? dlg.textValue() : text;
}

namespace {

std::optional<QString> runFileDialog(QWidget* parent, Dialogs::Kind kind, const QString& filter,
                                     const QString& defaultSuffix, const QString& start) {
    TestAnswers& a = answers();
    a.shown.push_back({kind, {}, filter, start, {}});
    if (!a.files.empty()) {
        const std::optional<QString> answer = a.files.front();
        a.files.pop_front();
        return answer;
    }
    if (a.nonInteractive) {
        return std::nullopt;
    }
    QFileDialog dlg(parent, {}, {}, filter);
    dlg.setAcceptMode(kind == Dialogs::Kind::SaveFile ? QFileDialog::AcceptSave
                                                      : QFileDialog::AcceptOpen);
    dlg.setFileMode(kind == Dialogs::Kind::SaveFile ? QFileDialog::AnyFile
                                                    : QFileDialog::ExistingFile);
    if (!defaultSuffix.isEmpty()) {
        dlg.setDefaultSuffix(defaultSuffix);
    }
    const QFileInfo info(start);
    if (info.isDir()) {
        dlg.setDirectory(start);
    } else if (!start.isEmpty()) {
        dlg.setDirectory(info.absolutePath());
        dlg.selectFile(info.fileName());
    }
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dlg.selectedFiles().constFirst();
}

}  // namespace

std::optional<QString> Dialogs::openFile(QWidget* parent, const QString& filter,
                                         const QString& defaultSuffix, const QString& dir) {
    return runFileDialog(parent, Kind::OpenFile, filter, defaultSuffix, dir);
}

std::optional<QString> Dialogs::saveFile(QWidget* parent, const QString& proposed,
                                         const QString& filter) {
    return runFileDialog(parent, Kind::SaveFile, filter, {}, proposed);
}

void Dialogs::setNextFile(std::optional<QString> path) {
    answers().files.push_back(std::move(path));
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

void Dialogs::setNonInteractive(bool on) {
    answers().nonInteractive = on;
}

void Dialogs::reset() {
    const bool nonInteractive = answers().nonInteractive;
    answers() = TestAnswers();
    answers().nonInteractive = nonInteractive;
}

}  // namespace kelvara
