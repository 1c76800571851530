#include "core/profile_file.h"

namespace kelvara {

namespace {

QStringView trimmedView(QStringView s) {
    return s.trimmed();
}

// The section name of a header line, or nullopt when the line is no header.
std::optional<QStringView> headerName(QStringView line) {
    const QStringView t = trimmedView(line);
    if (!t.startsWith(u'[')) {
        return std::nullopt;
    }
    const qsizetype close = t.indexOf(u']');
    if (close < 0) {
        return std::nullopt;
    }
    return trimmedView(t.mid(1, close - 1));
}

bool sameName(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

std::optional<int> parseInteger(QStringView text) {
    QStringView t = text.trimmed();
    bool negative = false;
    if (t.startsWith(u'+') || t.startsWith(u'-')) {
        negative = t.startsWith(u'-');
        t = t.mid(1);
    }
    int base = 10;
    if (t.startsWith(u"0x", Qt::CaseInsensitive)) {
        base = 16;
        t = t.mid(2);
    } else if (t.startsWith(u'$')) {
        base = 16;
        t = t.mid(1);
    }
    if (t.isEmpty()) {
        return std::nullopt;
    }
    long long v = 0;
    for (QChar c : t) {
        const int d = c.isDigit() && c.unicode() < 128 ? c.unicode() - '0'
                      : (base == 16 && QStringLiteral("abcdef").contains(c.toLower()))
                          ? c.toLower().unicode() - 'a' + 10
                          : -1;
        if (d < 0) {
            return std::nullopt;
        }
        v = v * base + d;
        if (v > 0x1'0000'0000LL) {
            return std::nullopt;
        }
    }
    if (negative) {
        v = -v;
    }
    if (base == 16 && !negative && v <= 0xFFFF'FFFFLL) {
        return int(static_cast<unsigned>(v));  // hexadecimal spells the bits
    }
    if (v < -2147483648LL || v > 2147483647LL) {
        return std::nullopt;
    }
    return int(v);
}

ProfileFile::ProfileFile(QString path, AnsiCodec codec)
    : path_(std::move(path)), codec_(std::move(codec)) {}

std::optional<FileError> ProfileFile::load() {
    lines_.clear();
    ReadResult r = readWholeFile(path_, kSmallFileReadLimit);
    if (r.missing) {
        return std::nullopt;
    }
    if (r.error) {
        return r.error;
    }
    loadText(decodeTextFile(r.bytes, codec_));
    return std::nullopt;
}

void ProfileFile::loadText(QStringView text) {
    lines_ = splitLines(text);
}

qsizetype ProfileFile::findSection(QStringView section) const {
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const auto name = headerName(lines_[i]);
        if (name && sameName(*name, section)) {
            return i;
        }
    }
    return -1;
}

qsizetype ProfileFile::sectionEnd(qsizetype header) const {
    qsizetype i = header + 1;
    while (i < lines_.size() && !headerName(lines_[i])) {
        ++i;
    }
    return i;
}

qsizetype ProfileFile::findKey(qsizetype header, QStringView key) const {
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        const QStringView line = lines_[i];
        const QStringView t = line.trimmed();
        if (t.startsWith(u';')) {
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && sameName(line.first(eq).trimmed(), key)) {
            return i;
        }
    }
    return -1;
}

std::optional<QString> ProfileFile::value(QStringView section, QStringView key) const {
    const qsizetype h = findSection(section);
    if (h < 0) {
        return std::nullopt;
    }
    const qsizetype k = findKey(h, key);
    if (k < 0) {
        return std::nullopt;
    }
    const QString& line = lines_[k];
    QStringView v = QStringView(line).mid(line.indexOf(u'=') + 1).trimmed();
    // A value in matching quotes loses them.
    if (v.size() >= 2 &&
        ((v.front() == u'"' && v.back() == u'"') || (v.front() == u'\'' && v.back() == u'\''))) {
        v = v.mid(1, v.size() - 2);
    }
    return v.toString();
}

QString ProfileFile::readString(QStringView section, QStringView key, const QString& def) const {
    return value(section, key).value_or(def);
}

int ProfileFile::readInteger(QStringView section, QStringView key, int def) const {
    const auto v = value(section, key);
    if (!v) {
        return def;
    }
    return parseInteger(*v).value_or(def);
}

void ProfileFile::writeString(QStringView section, QStringView key, const QString& value) {
    const QString line = key.toString() + QLatin1Char('=') + value;
    qsizetype h = findSection(section);
    if (h < 0) {
        lines_.append(QLatin1Char('[') + section.toString() + QLatin1Char(']'));
        lines_.append(line);
        return;
    }
    const qsizetype k = findKey(h, key);
    if (k >= 0) {
        lines_[k] = line;
        return;
    }
    // After the section's last non-blank line.
    qsizetype at = sectionEnd(h);
    while (at > h + 1 && lines_[at - 1].trimmed().isEmpty()) {
        --at;
    }
    lines_.insert(at, line);
}

std::optional<FileError> ProfileFile::flush() const {
    QString text;
    for (const QString& l : lines_) {
        text += l;
        text += u"\r\n";
    }
    // The settings hold the service URL with its key: readable by the owner alone.
    return writeUtf8Text(path_, text, FileAccess::OwnerOnly);
}

}  // namespace kelvara
