#include "table/export_readback.h"

#include "core/messages.h"

#include <QStringList>

#include <array>
#include <vector>

namespace kelvara {

namespace {

constexpr std::array<UiLanguage, 2> kLanguages = {UiLanguage::English, UiLanguage::Russian};

// The export's lines. It ends every line with CR LF; a phrase may hold a lone CR or LF (an
// imported query can), so a text with CR LF is split there only.
QList<QStringView> exportLines(QStringView text) {
    QList<QStringView> lines;
    if (text.contains(u"\r\n")) {
        for (const QStringView line : text.tokenize(u"\r\n")) {
            lines.append(line);
        }
        if (!lines.isEmpty() && lines.back().isEmpty()) {
            lines.removeLast();  // after the last line break
        }
    } else {
        forEachLine(text, [&lines](QStringView line) { lines.append(line); });
    }
    return lines;
}

// The header's three lines in a language.
QStringList headerLines(UiLanguage language) {
    return GetMessageText(Msg::ExportHeader, language).split(QStringLiteral("\r\n"));
}

// The footer's last line without the domain after it.
QString footerStart(UiLanguage language) {
    QString footer =
        GetMessageText(Msg::ExportFooter, language).section(QStringLiteral("\r\n"), -1);
    footer.chop(QString::fromUtf16(kMakerDomain).size());
    return footer;
}

bool isFooter(QStringView line) {
    for (const UiLanguage l : kLanguages) {
        if (line.startsWith(footerStart(l))) {
            return true;
        }
    }
    return false;
}

bool allDigits(QStringView text) {
    if (text.isEmpty()) {
        return false;
    }
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return true;
}

// The phrase of a line after its group's "caption (n);": up to the last ";", which the main
// pages follow. None when the line does not end that way.
std::optional<QStringView> phraseAfter(QStringView line, qsizetype prefix) {
    const QStringView rest = line.sliced(prefix);
    const qsizetype last = rest.lastIndexOf(u';');
    if (last < 0 || !allDigits(rest.sliced(last + 1))) {
        return std::nullopt;
    }
    return rest.first(last);
}

// One way to read the start of a group's first line: "caption (count);".
struct Split {
    qsizetype caption = 0;  // the caption's length
    qsizetype prefix = 0;   // the length of "caption (count);"
    qsizetype count = 0;
};

std::vector<Split> splitsOf(QStringView line) {
    std::vector<Split> out;
    for (qsizetype at = line.indexOf(u" ("); at >= 0; at = line.indexOf(u" (", at + 1)) {
        qsizetype end = at + 2;
        while (end < line.size() && line[end] >= u'0' && line[end] <= u'9') {
            ++end;
        }
        const qsizetype digits = end - (at + 2);
        if (digits == 0 || digits > 9 || line.sliced(end).left(2) != u");") {
            continue;
        }
        const qsizetype count = line.sliced(at + 2, digits).toLongLong();
        if (count > 0) {
            out.push_back(Split{at, end + 2, count});
        }
    }
    return out;
}

class Reader {
public:
    explicit Reader(QStringView text) : lines_(exportLines(text)) {}

    ExportRead run() {
        if (!header()) {
            return read_;
        }
        ClusterList clusters;
        qsizetype i = 3;
        while (i < lines_.size()) {
            if (lines_[i].isEmpty()) {
                return footer(i, std::move(clusters));
            }
            if (!group(i, clusters)) {
                return read_;
            }
        }
        return fail(ExportProblem::NoFooter, lines_.size());
    }

private:
    ExportRead& fail(ExportProblem problem, qsizetype line) {
        read_.problem = problem;
        read_.line = line;
        return read_;
    }

    bool header() {
        qsizetype best = 0;  // lines that agree with one language's header
        for (const UiLanguage l : kLanguages) {
            const QStringList h = headerLines(l);
            qsizetype same = 0;
            while (same < h.size() && same < lines_.size() && lines_[same] == h[same]) {
                ++same;
            }
            if (same == h.size()) {
                return true;
            }
            best = std::max(best, same);
        }
        fail(ExportProblem::NoHeader, best + 1);
        return false;
    }

    ExportRead footer(qsizetype blank, ClusterList clusters) {
        if (blank + 1 >= lines_.size()) {
            return fail(ExportProblem::NoFooter, blank + 1);
        }
        if (!isFooter(lines_[blank + 1])) {
            return fail(ExportProblem::BadLine, blank + 2);
        }
        for (qsizetype k = blank + 2; k < lines_.size(); ++k) {
            if (!lines_[k].trimmed().isEmpty()) {
                return fail(ExportProblem::AfterFooter, k + 1);
            }
        }
        read_.clusters = std::move(clusters);
        return read_;
    }

    // How many lines from `from` on begin with the split's prefix and end with the main pages,
    // up to limit.
    qsizetype run(qsizetype from, QStringView prefix, qsizetype limit) const {
        qsizetype n = 0;
        while (n < limit && from + n < lines_.size() && lines_[from + n].startsWith(prefix) &&
               phraseAfter(lines_[from + n], prefix.size())) {
            ++n;
        }
        return n;
    }

    // The group whose first line is lines_[i]; moves i past it.
    bool group(qsizetype& i, ClusterList& clusters) {
        const QStringView first = lines_[i];
        // Of the ways to split the first line, the best is one whose count is exactly the run of
        // lines that begin alike and whose caption is one of its phrases (as the clustering names
        // a group); then one whose count is the run; then one whose count fits in the run (two
        // groups of one caption in a row). The leftmost wins among equals.
        int bestRank = -1;
        Split best;
        qsizetype longestRun = 0;
        std::optional<Split> partial;  // the split that got furthest, for the message
        for (const Split& s : splitsOf(first)) {
            const QStringView prefix = first.first(s.prefix);
            const qsizetype n = run(i, prefix, s.count + 1);
            if (n < s.count) {
                if (!partial || n > longestRun) {
                    partial = s;
                    longestRun = n;
                }
                continue;
            }
            int rank = n == s.count ? 1 : 0;
            if (rank == 1) {
                const QStringView caption = first.first(s.caption);
                for (qsizetype k = 0; k < s.count; ++k) {
                    if (*phraseAfter(lines_[i + k], s.prefix) == caption) {
                        rank = 2;
                        break;
                    }
                }
            }
            if (rank > bestRank) {
                bestRank = rank;
                best = s;
            }
        }
        if (bestRank < 0) {
            if (!partial || longestRun == 0) {
                fail(ExportProblem::BadLine, i + 1);
            } else {
                read_.group = first.first(partial->caption).toString();
                read_.count = partial->count;
                read_.found = longestRun;
                fail(ExportProblem::ShortGroup, i + longestRun + 1);
            }
            return false;
        }
        Cluster c{first.first(best.caption).toString(), {}};
        c.phrases.reserve(best.count);
        for (qsizetype k = 0; k < best.count; ++k) {
            c.phrases.append(phraseAfter(lines_[i + k], best.prefix)->toString());
        }
        clusters.push_back(std::move(c));
        i += best.count;
        return true;
    }

    QList<QStringView> lines_;
    ExportRead read_;
};

}  // namespace

ExportRead parseExport(QStringView text) {
    return Reader(text).run();
}

ExportRead readExport(const QString& path, const AnsiCodec& codec) {
    ReadResult r = readWholeFile(path);
    if (r.missing) {
        ExportRead out;
        out.fileError =
            FileError{path, QStringLiteral("No such file or directory"), QStringLiteral("read")};
        return out;
    }
    if (r.error) {
        ExportRead out;
        out.fileError = std::move(r.error);
        return out;
    }
    return parseExport(decodeTextFile(r.bytes, codec));
}

QString exportReadProblem(const ExportRead& read, UiLanguage language) {
    if (read.fileError) {
        return read.fileError->message();
    }
    if (read.clusters) {
        return {};
    }
    const bool ru = language == UiLanguage::Russian;
    const QString line = QString::number(read.line);
    switch (read.problem) {
        case ExportProblem::NoHeader:
            return ru ? QStringLiteral(
                            "это не экспорт Kelvara: строка %1 не совпадает с "
                            "заголовком экспорта («%2»)")
                            .arg(line, headerLines(language).join(u" / "))
                      : QStringLiteral(
                            "it is not a Kelvara export: line %1 does not match the "
                            "export's header (\"%2\")")
                            .arg(line, headerLines(language).join(u" / "));
        case ExportProblem::BadLine:
            return ru ? QStringLiteral(
                            "строка %1 не строка экспорта («группа (число);запрос;"
                            "главных»)")
                            .arg(line)
                      : QStringLiteral(
                            "line %1 is not a line of an export (\"group "
                            "(count);query;main pages\")")
                            .arg(line);
        case ExportProblem::ShortGroup:
            return ru ? QStringLiteral("строка %1: в группе «%2» %3 запросов, а строк у неё %4")
                            .arg(line, read.group, QString::number(read.count),
                                 QString::number(read.found))
                      : QStringLiteral(
                            "line %1: the group \"%2\" counts %3 queries but has %4 "
                            "lines")
                            .arg(line, read.group, QString::number(read.count),
                                 QString::number(read.found));
        case ExportProblem::NoFooter:
            return ru ? QStringLiteral("файл кончается на строке %1 без последних строк экспорта")
                            .arg(line)
                      : QStringLiteral(
                            "the file ends at line %1 without the export's closing "
                            "lines")
                            .arg(line);
        case ExportProblem::AfterFooter:
            return ru ? QStringLiteral("строка %1: текст после последней строки экспорта").arg(line)
                      : QStringLiteral("line %1: text after the export's closing line").arg(line);
    }
    return {};
}

}  // namespace kelvara
