#pragma once

#include <QMessageBox>
#include <QString>

#include <optional>
#include <vector>

class QWidget;

namespace kelvara {

// Every message, confirmation and input box of the program goes through here, so that a test
// can give the next answers in advance and drive the real windows without a modal box.
class Dialogs {
public:
    // A question box (question icon). Returns the button pressed; closing the box counts as the
    // escape button (Cancel or No when offered).
    static QMessageBox::StandardButton question(
        QWidget* parent, const QString& text,
        QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::Cancel,
        const QString& title = {});
    // An error box: error icon, one OK button.
    static void error(QWidget* parent, const QString& text, const QString& title = {});
    // An information box: information icon, one OK button.
    static void information(QWidget* parent, const QString& text, const QString& title = {});
    // An input box: returns the text entered, or `text` unchanged when the user cancels.
    static QString InputBox(QWidget* parent, const QString& title, const QString& prompt,
                            const QString& text);

    // File dialogs: the chosen file, or nullopt when the user cancels. The open dialog appends
    // defaultSuffix to a name typed without an extension; the save dialog asks before replacing.
    static std::optional<QString> openFile(QWidget* parent, const QString& filter,
                                           const QString& defaultSuffix, const QString& dir = {});
    static std::optional<QString> saveFile(QWidget* parent, const QString& proposed,
                                           const QString& filter);

    // What was shown, for tests.
    enum class Kind { Question, Error, Information, Input, OpenFile, SaveFile };
    struct Shown {
        Kind kind;
        QString title;
        QString text;   // the message, or an input box's prompt
        QString value;  // an input box's initial text
        QMessageBox::StandardButtons buttons;
    };

    // Test hooks: queued answers are used in order instead of showing a box. An input answer
    // of nullopt is a cancel.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    static void setNextInput(std::optional<QString> text);
    static void setNextFile(std::optional<QString> path);
    // With no answer queued, answer as the escape key would instead of waiting for a person
    // (tests and other unattended runs never block on a box).
    static void setNonInteractive(bool on);
    static const std::vector<Shown>& shown();
    static void reset();
};

}  // namespace kelvara
