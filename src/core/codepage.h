#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace kelvara {

// Conversion between a code page named as the programs name them ("windows-1251", "cp866",
// "Shift_JIS", "UTF-8", ...) and UTF-16, through the system: Qt's converters on Linux, and
// MultiByteToWideChar / WideCharToMultiByte on Windows, where Qt knows no code page by name.

// Whether the code page can be converted both ways.
bool codePageKnown(const QByteArray& name);
// The bytes as text; bytes of an unknown code page are read as Latin-1.
QString codePageDecode(const QByteArray& name, QByteArrayView bytes);
// The text in the code page; characters it cannot hold become "?", and *lossless tells whether
// any did. An unknown code page writes Latin-1.
QByteArray codePageEncode(const QByteArray& name, QStringView text, bool* lossless = nullptr);

}  // namespace kelvara
