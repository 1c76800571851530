#include "table/project_file.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <numeric>

namespace kelvara {

namespace {

constexpr QStringView kSignature = u"kelvara-project";
constexpr QByteArrayView kUtf8Bom = "\xEF\xBB\xBF";
constexpr char kSignatureBytes[] = "kelvara-project";

// ---- Texts ------------------------------------------------------------------------------------

// Texts are the rest of their line; the three characters that would break the line apart or be
// read as an escape are written as \\, \r and \n.
void appendEscaped(QString& out, QStringView text) {
    qsizetype plain = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c != u'\\' && c != u'\r' && c != u'\n') {
            continue;
        }
        out += text.sliced(plain, i - plain);
        out += c == u'\\' ? u"\\\\" : c == u'\r' ? u"\\r" : u"\\n";
        plain = i + 1;
    }
    out += text.sliced(plain);
}

// The reader works on the file's bytes: the records' keywords and escapes are ASCII, and a text
// becomes a string only once, straight from its UTF-8.
std::optional<QString> unescaped(QByteArrayView text) {
    if (!text.contains('\\')) {
        return QString::fromUtf8(text);
    }
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return QString::fromUtf8(out);
}

// A text shown inside a message: short, and without control characters.
QString shownText(QByteArrayView bytes) {
    constexpr qsizetype kShown = 60;
    const QString text = QString::fromUtf8(bytes.first(std::min(bytes.size(), kShown * 4)));
    QString out;
    for (qsizetype i = 0; i < text.size() && out.size() < kShown; ++i) {
        const QChar c = text[i];
        out += (c.unicode() < 0x20 || c.unicode() == 0x7F) ? QChar(u'?') : c;
    }
    if (text.size() > kShown) {
        out += u'…';
    }
    return out;
}
QString shownText(const QString& text) {
    return shownText(QByteArrayView(text.toUtf8()));
}

// ---- Numbers ----------------------------------------------------------------------------------

// Digits only, no sign or space: what the writer writes, nothing a locale might add.
std::optional<qint64> plainNumber(QByteArrayView text, bool negativeAllowed) {
    QByteArrayView digits = text;
    const bool negative = negativeAllowed && digits.startsWith('-');
    if (negative) {
        digits = digits.sliced(1);
    }
    if (digits.isEmpty() || digits.size() > 19) {
        return std::nullopt;
    }
    quint64 v = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        v = v * 10 + quint64(c - '0');  // 19 digits stay below 2^64
    }
    const quint64 limit = quint64(std::numeric_limits<qint64>::max()) + (negative ? 1 : 0);
    if (v > limit) {
        return std::nullopt;
    }
    return negative ? qint64(0 - v) : qint64(v);
}

// Calls f(line) for each line of the bytes; lines end at CR LF, LF or CR.
template <class F>
void forEachByteLine(QByteArrayView bytes, F&& f) {
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    const char* start = p;
    while (p != end) {
        const char c = *p;
        if (c == '\r' || c == '\n') {
            f(QByteArrayView(start, p - start));
            ++p;
            if (c == '\r' && p != end && *p == '\n') {
                ++p;
            }
            start = p;
        } else {
            ++p;
        }
    }
    if (start != end) {
        f(QByteArrayView(start, end - start));
    }
}

// ---- The reader -------------------------------------------------------------------------------

// The parts of the file, in the order they come.
enum Section { sHeader, sQueries, sClusters, sResults, sEnd };

class Parser {
public:
    ProjectRead run(QByteArrayView bytes) {
        if (bytes.startsWith(kUtf8Bom)) {
            bytes = bytes.sliced(kUtf8Bom.size());
        }
        // The first line alone: a file of a newer format is recognised as such whatever follows,
        // and a binary file is no project whatever it holds.
        qsizetype firstEnd = 0;
        while (firstEnd < bytes.size() && bytes[firstEnd] != '\r' && bytes[firstEnd] != '\n') {
            ++firstEnd;
        }
        if (!signature(bytes.first(firstEnd))) {
            return done();
        }
        if (!bytes.isValidUtf8()) {
            fail(ProjectProblem::NotUtf8, badUtf8Line(bytes));
            return done();
        }
        line_ = 0;
        forEachByteLine(bytes, [this](QByteArrayView line) {
            ++line_;
            if (!failed_ && line_ > 1) {
                record(line);
            }
        });
        if (!failed_ && section_ != sEnd) {
            fail(ProjectProblem::Truncated, line_);
        }
        if (!failed_) {
            finish();
        }
        return done();
    }

private:
    ProjectRead done() {
        ProjectRead r;
        if (failed_) {
            r.error = error_;
        } else {
            r.project = std::move(project_);
        }
        return r;
    }

    void fail(ProjectProblem problem, qsizetype line, const QString& detail = {},
              const QString& value = {}, qsizetype otherLine = 0) {
        if (!failed_) {
            failed_ = true;
            error_ = ProjectError{problem, line, detail, value, otherLine};
        }
    }

    bool signature(QByteArrayView line) {
        const QByteArrayView sig = kSignatureBytes;
        if (!line.startsWith(sig) || (line.size() > sig.size() && line[sig.size()] != ' ')) {
            fail(ProjectProblem::NotProject, 1);
            return false;
        }
        const QByteArrayView number = line.sliced(std::min(line.size(), sig.size() + 1));
        const std::optional<qint64> version = plainNumber(number, false);
        if (!version || *version < 1) {
            fail(ProjectProblem::BadValue, 1, QStringLiteral("version"), shownText(number));
            return false;
        }
        if (*version > kProjectFormatVersion) {
            fail(ProjectProblem::NewerVersion, 1, QString::number(*version));
            return false;
        }
        return true;
    }

    // The first line whose bytes are not UTF-8 (only looked for once the file is known bad).
    static qsizetype badUtf8Line(QByteArrayView bytes) {
        qsizetype line = 0;
        qsizetype bad = 0;
        forEachByteLine(bytes, [&](QByteArrayView l) {
            ++line;
            if (bad == 0 && !l.isValidUtf8()) {
                bad = line;
            }
        });
        return bad != 0 ? bad : std::max<qsizetype>(line, 1);
    }

    // Moves on to a later section, or refuses a record that belongs to an earlier one.
    bool enter(Section section, QByteArrayView keyword) {
        if (section_ > section) {
            fail(ProjectProblem::OutOfPlace, line_, QString::fromLatin1(keyword));
            return false;
        }
        if (section_ == sHeader && section != sHeader && !headerComplete()) {
            return false;
        }
        section_ = section;
        return true;
    }

    bool headerComplete() {
        static constexpr std::array<const char*, 3> kRequired = {"method", "threshold", "region"};
        for (size_t i = 0; i < kRequired.size(); ++i) {
            if (headerLine_[i] == 0) {
                fail(ProjectProblem::Missing, 0, QString::fromLatin1(kRequired[i]));
                return false;
            }
        }
        return true;
    }

    std::optional<QString> text(QByteArrayView raw) {
        std::optional<QString> t = unescaped(raw);
        if (!t) {
            fail(ProjectProblem::BadText, line_);
        }
        return t;
    }

    // "+" or "-", then the text after one space.
    bool checkAndText(QByteArrayView keyword, QByteArrayView rest, bool* checked, QString* out) {
        if (rest.isEmpty() || (rest[0] != '+' && rest[0] != '-') ||
            (rest.size() > 1 && rest[1] != ' ')) {
            fail(ProjectProblem::BadValue, line_, QString::fromLatin1(keyword),
                 shownText(rest.first(std::min<qsizetype>(rest.size(), 2))));
            return false;
        }
        *checked = rest[0] == '+';
        std::optional<QString> t = text(rest.size() > 1 ? rest.sliced(2) : QByteArrayView());
        if (!t) {
            return false;
        }
        *out = std::move(*t);
        return true;
    }

    bool headerField(int slot, QByteArrayView keyword) {
        if (!enter(sHeader, keyword)) {
            return false;
        }
        if (headerLine_[size_t(slot)] != 0) {
            fail(ProjectProblem::Duplicate, line_, QString::fromLatin1(keyword), {},
                 headerLine_[size_t(slot)]);
            return false;
        }
        headerLine_[size_t(slot)] = line_;
        return true;
    }

    void badValue(QByteArrayView keyword, QByteArrayView value) {
        fail(ProjectProblem::BadValue, line_, QString::fromLatin1(keyword), shownText(value));
    }

    void record(QByteArrayView line) {
        if (section_ == sEnd) {
            if (!line.trimmed().isEmpty()) {
                fail(ProjectProblem::AfterEnd, line_);
            }
            return;
        }
        if (line.isEmpty()) {
            return;  // a blank line left by an editor means nothing
        }
        const qsizetype space = line.indexOf(' ');
        const QByteArrayView keyword = space < 0 ? line : line.first(space);
        const QByteArrayView rest = space < 0 ? QByteArrayView() : line.sliced(space + 1);

        // The most frequent records first.
        if (keyword == "url") {
            if (section_ != sResults || !result_) {
                fail(ProjectProblem::OutOfPlace, line_, QStringLiteral("url"));
                return;
            }
            if (result_->urls.size() >= kMaxProjectUrls) {
                fail(ProjectProblem::TooManyUrls, line_, shownText(result_->query));
                return;
            }
            if (std::optional<QString> t = text(rest)) {
                result_->urls.append(std::move(*t));
            }
            return;
        }
        result_ = nullptr;  // a URL belongs to the result right above it
        if (keyword == "phrase") {
            if (section_ != sClusters || project_.clusters.empty()) {
                fail(ProjectProblem::OutOfPlace, line_, QStringLiteral("phrase"));
                return;
            }
            ProjectPhrase p;
            if (checkAndText(keyword, rest, &p.checked, &p.text)) {
                project_.clusters.back().phrases.push_back(std::move(p));
            }
        } else if (keyword == "result") {
            if (!enter(sResults, keyword)) {
                return;
            }
            const qsizetype gap = rest.indexOf(' ');
            const QByteArrayView stampText = gap < 0 ? rest : rest.first(gap);
            const std::optional<qint64> stamp = plainNumber(stampText, true);
            if (!stamp) {
                badValue(keyword, stampText);
                return;
            }
            std::optional<QString> query = text(gap < 0 ? QByteArrayView() : rest.sliced(gap + 1));
            if (!query) {
                return;
            }
            if (const auto it = resultLines_.constFind(*query); it != resultLines_.cend()) {
                fail(ProjectProblem::Duplicate, line_, shownText(*query), {}, it.value());
                return;
            }
            resultLines_.insert(*query, line_);
            project_.results.push_back(ProjectResult{std::move(*query), *stamp, {}});
            result_ = &project_.results.back();
        } else if (keyword == "cluster") {
            if (!enter(sClusters, keyword)) {
                return;
            }
            ProjectCluster c;
            if (checkAndText(keyword, rest, &c.checked, &c.caption)) {
                project_.clusters.push_back(std::move(c));
            }
        } else if (keyword == "query") {
            if (!enter(sQueries, keyword)) {
                return;
            }
            if (std::optional<QString> t = text(rest)) {
                queryLines_.append(std::move(*t));
            }
        } else if (keyword == "method") {
            if (!headerField(0, keyword)) {
                return;
            }
            if (rest != "soft" && rest != "hard") {
                badValue(keyword, rest);
                return;
            }
            project_.hardMethod = rest == "hard";
        } else if (keyword == "threshold") {
            if (!headerField(1, keyword)) {
                return;
            }
            const std::optional<qint64> v = plainNumber(rest, false);
            if (!v || *v < 1 || *v > 10) {
                badValue(keyword, rest);
                return;
            }
            project_.threshold = int(*v);
        } else if (keyword == "region") {
            if (!headerField(2, keyword)) {
                return;
            }
            const std::optional<qint64> v = plainNumber(rest, false);
            if (!v || *v > std::numeric_limits<int>::max()) {
                badValue(keyword, rest);
                return;
            }
            project_.region = int(*v);
        } else if (keyword == "origin") {
            if (!headerField(3, keyword)) {
                return;
            }
            if (std::optional<QString> t = text(rest)) {
                project_.origin = std::move(*t);
            }
        } else if (keyword == "end") {
            if (space >= 0) {
                badValue(keyword, rest);
                return;
            }
            enter(sEnd, keyword);
        } else {
            fail(ProjectProblem::UnknownRecord, line_, shownText(keyword));
        }
    }

    void finish() {
        if (!queryLines_.isEmpty()) {
            project_.queries = queryLines_.join(u'\n');
        }
        // Only results of the tree's phrases mean anything; others are passed over.
        QSet<QStringView> phrases;
        for (const ProjectCluster& c : project_.clusters) {
            for (const ProjectPhrase& p : c.phrases) {
                phrases.insert(QStringView(p.text));
            }
        }
        std::erase_if(project_.results, [&phrases](const ProjectResult& r) {
            return !phrases.contains(QStringView(r.query));
        });
    }

    Project project_;
    QStringList queryLines_;
    Section section_ = sHeader;
    std::array<qsizetype, 4> headerLine_{};  // method, threshold, region, origin
    QHash<QString, qsizetype> resultLines_;  // query -> its line
    ProjectResult* result_ = nullptr;        // the result the next URL belongs to
    qsizetype line_ = 0;
    bool failed_ = false;
    ProjectError error_;
};

// ---- Merging into the store -------------------------------------------------------------------

std::unique_ptr<TSerpEntry> entryOf(const ProjectResult& r) {
    auto e = std::make_unique<TSerpEntry>(r.stamp);
    e->Urls.reserve(r.urls.size());
    for (const QString& u : r.urls) {
        e->Urls.add(u);
    }
    return e;
}

// A result the store holds already: the newer one stays, in the store's own entry.
void keepNewer(TSerpEntry& held, const ProjectResult& r) {
    if (r.stamp <= held.Stamp) {
        return;
    }
    std::unique_ptr<TSerpEntry> fresh = entryOf(r);
    held.Stamp = fresh->Stamp;
    held.Urls = std::move(fresh->Urls);
}

// Below this many results each goes into the store on its own; above it they are sorted once and
// merged, since inserting one by one into a sorted array of n lines moves O(n) lines each time.
constexpr size_t kBulkMergeFrom = 64;

}  // namespace

QString projectErrorText(const ProjectError& e, UiLanguage language) {
    const bool ru = language == UiLanguage::Russian;
    const QString line = QString::number(e.line);
    QString text;
    switch (e.problem) {
        case ProjectProblem::NotProject:
            return ru ? QStringLiteral("это не проект Kelvara (первая строка не «%1 N»)")
                            .arg(kSignature)
                      : QStringLiteral("it is not a Kelvara project (line 1 is not \"%1 N\")")
                            .arg(kSignature);
        case ProjectProblem::NewerVersion:
            return ru ? QStringLiteral(
                            "проект сохранён более новой версией Kelvara (формат %1, а "
                            "эта версия читает форматы до %2); обновите программу")
                            .arg(e.detail, QString::number(kProjectFormatVersion))
                      : QStringLiteral(
                            "the project was saved by a newer version of Kelvara "
                            "(format %1; this version reads formats up to %2); update "
                            "the program to open it")
                            .arg(e.detail, QString::number(kProjectFormatVersion));
        case ProjectProblem::Truncated:
            return ru ? QStringLiteral(
                            "файл обрезан: он кончается на строке %1 без "
                            "завершающей строки «end»")
                            .arg(line)
                      : QStringLiteral(
                            "the file is cut short: it ends at line %1 without the "
                            "closing line \"end\"")
                            .arg(line);
        case ProjectProblem::Missing:
            return ru ? QStringLiteral("в заголовке нет поля «%1»").arg(e.detail)
                      : QStringLiteral("the header lacks the field \"%1\"").arg(e.detail);
        case ProjectProblem::NotUtf8:
            text = ru ? QStringLiteral("текст не в кодировке UTF-8")
                      : QStringLiteral("the text is not UTF-8");
            break;
        case ProjectProblem::UnknownRecord:
            text = ru ? QStringLiteral("неизвестная запись «%1»").arg(e.detail)
                      : QStringLiteral("unknown record \"%1\"").arg(e.detail);
            break;
        case ProjectProblem::BadValue:
            text =
                ru ? QStringLiteral("«%1» не годится как значение поля «%2»").arg(e.value, e.detail)
                   : QStringLiteral("\"%1\" is not a valid value of \"%2\"").arg(e.value, e.detail);
            break;
        case ProjectProblem::BadText:
            text = ru ? QStringLiteral("за обратной косой чертой не стоит \\, n или r")
                      : QStringLiteral("a backslash is not followed by \\, n or r");
            break;
        case ProjectProblem::OutOfPlace:
            text = ru ? QStringLiteral(
                            "запись «%1» стоит не на своём месте (порядок: заголовок, "
                            "query, cluster и их phrase, result и их url, end)")
                            .arg(e.detail)
                      : QStringLiteral(
                            "the record \"%1\" is out of place (the order is: header, "
                            "query, cluster with its phrase lines, result with its url "
                            "lines, end)")
                            .arg(e.detail);
            break;
        case ProjectProblem::Duplicate:
            // One arg() for both: a "%2" inside the text must stay as it is.
            text = ru ? QStringLiteral("«%1» дан второй раз (впервые в строке %2)")
                            .arg(e.detail, QString::number(e.otherLine))
                      : QStringLiteral("\"%1\" is given a second time (first at line %2)")
                            .arg(e.detail, QString::number(e.otherLine));
            break;
        case ProjectProblem::TooManyUrls:
            text = ru ? QStringLiteral("у результата «%1» больше %2 URL")
                            .arg(e.detail, QString::number(kMaxProjectUrls))
                      : QStringLiteral("the result of \"%1\" holds more than %2 URLs")
                            .arg(e.detail, QString::number(kMaxProjectUrls));
            break;
        case ProjectProblem::AfterEnd:
            text = ru ? QStringLiteral("текст после завершающей строки «end»")
                      : QStringLiteral("text after the closing line \"end\"");
            break;
    }
    return (ru ? QStringLiteral("строка %1: ") : QStringLiteral("line %1: ")).arg(line) + text;
}

ProjectRead parseProject(QByteArrayView bytes) {
    return Parser().run(bytes);
}

bool looksLikeProject(QByteArrayView bytes) {
    if (bytes.startsWith(kUtf8Bom)) {
        bytes = bytes.sliced(kUtf8Bom.size());
    }
    const QByteArray signature = kSignature.toLatin1();
    return bytes.startsWith(signature) &&
           (bytes.size() == signature.size() || bytes[signature.size()] == ' ' ||
            bytes[signature.size()] == '\r' || bytes[signature.size()] == '\n');
}

ProjectRead loadProject(const QString& path) {
    ReadResult r = readWholeFile(path, kProjectReadLimit);
    if (r.missing) {
        ProjectRead out;
        out.fileError =
            FileError{path, QStringLiteral("No such file or directory"), QStringLiteral("read")};
        return out;
    }
    if (r.error) {
        ProjectRead out;
        out.fileError = std::move(r.error);
        return out;
    }
    return parseProject(r.bytes);
}

QByteArray projectBytes(const Project& p) {
    qsizetype size = 200 + p.queries.size() + p.origin.size();
    for (const ProjectCluster& c : p.clusters) {
        size += c.caption.size() + 12;
        for (const ProjectPhrase& ph : c.phrases) {
            size += ph.text.size() + 12;
        }
    }
    for (const ProjectResult& r : p.results) {
        size += r.query.size() + 30;
        for (const QString& u : r.urls) {
            size += u.size() + 6;
        }
    }
    // The text goes to UTF-8 a piece at a time, so that the whole file is never held twice (as
    // UTF-16 and as UTF-8): fresh memory is dear, and a large project is tens of megabytes.
    constexpr qsizetype kPiece = qsizetype(1) << 20;
    QByteArray bytes;
    bytes.reserve(size * 2);  // room is taken only where it is written
    QString out;
    out.reserve(kPiece + 4096);
    const auto flush = [&] {
        bytes += out.toUtf8();
        out.truncate(0);  // keeps its room
    };
    const auto lineEnd = [&] {
        out += u"\r\n";
        if (out.size() >= kPiece) {
            flush();
        }
    };
    const auto field = [&](QStringView keyword, QStringView text) {
        out += keyword;
        if (!text.isEmpty()) {
            out += u' ';
            appendEscaped(out, text);
        }
        lineEnd();
    };
    const auto checked = [&](QStringView keyword, bool on, QStringView text) {
        out += keyword;
        out += on ? u" +" : u" -";
        if (!text.isEmpty()) {
            out += u' ';
            appendEscaped(out, text);
        }
        lineEnd();
    };

    out += kSignature;
    out += u' ';
    out += QString::number(kProjectFormatVersion);
    out += u"\r\n";
    field(u"method", p.hardMethod ? u"hard" : u"soft");
    field(u"threshold", QString::number(p.threshold));
    field(u"region", QString::number(p.region));
    if (!p.origin.isEmpty()) {
        field(u"origin", p.origin);
    }
    if (!p.queries.isEmpty()) {
        for (const QStringView line : QStringView(p.queries).tokenize(u'\n')) {
            field(u"query", line);
        }
    }
    for (const ProjectCluster& c : p.clusters) {
        checked(u"cluster", c.checked, c.caption);
        for (const ProjectPhrase& ph : c.phrases) {
            checked(u"phrase", ph.checked, ph.text);
        }
    }
    for (const ProjectResult& r : p.results) {
        out += u"result ";
        out += QString::number(r.stamp);
        if (!r.query.isEmpty()) {
            out += u' ';
            appendEscaped(out, r.query);
        }
        lineEnd();
        for (const QString& u : r.urls) {
            field(u"url", u);
        }
    }
    out += u"end\r\n";
    flush();
    return bytes;
}

std::optional<FileError> saveProject(const QString& path, const Project& project) {
    return writeBytesAtomically(path, projectBytes(project));
}

std::vector<ProjectResult> projectResults(const std::vector<ProjectCluster>& clusters,
                                          const ResultStore& store) {
    qsizetype phrases = 0;
    for (const ProjectCluster& c : clusters) {
        phrases += qsizetype(c.phrases.size());
    }
    // Most phrases are the very texts the store holds: a hash probe settles those without the
    // collated binary search.
    QHash<QStringView, qsizetype> exact;
    if (phrases >= 256 && phrases * 16 >= store.size()) {
        exact.reserve(store.size());
        for (qsizetype i = 0; i < store.size(); ++i) {
            exact.insert(QStringView(store.text(i)), i);
        }
    }
    // Each phrase text once, with the place of its entry in the store.
    std::vector<std::pair<qsizetype, const QString*>> found;
    found.reserve(size_t(phrases));
    QSet<QStringView> seen;
    seen.reserve(phrases);
    for (const ProjectCluster& c : clusters) {
        for (const ProjectPhrase& p : c.phrases) {
            if (seen.contains(QStringView(p.text))) {
                continue;
            }
            seen.insert(QStringView(p.text));
            qsizetype at = exact.value(QStringView(p.text), -1);
            if (at >= 0 || store.find(p.text, &at)) {
                found.emplace_back(at, &p.text);
            }
        }
    }
    // In the store's order, so that opening the file finds them sorted already and need not sort
    // (stable: case variants of one query keep their tree order).
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ProjectResult> out;
    out.reserve(found.size());
    for (const auto& [at, text] : found) {
        const TSerpEntry& entry = *store[at].object;
        out.push_back(ProjectResult{*text, entry.Stamp, entry.Urls.texts()});
    }
    return out;
}

void mergeProjectResults(ResultStore& store, std::vector<ProjectResult> results) {
    const Collation& collation = store.collation();
    if (results.size() < kBulkMergeFrom) {
        for (size_t k = 0; k < results.size(); ++k) {
            const ProjectResult& r = results[k];
            const auto same = [&](const ProjectResult& earlier) {
                return collation.equal(earlier.query, r.query);
            };
            if (std::any_of(results.begin(), results.begin() + qsizetype(k), same)) {
                continue;  // the first result of a query counts
            }
            qsizetype at = 0;
            if (store.find(r.query, &at)) {
                keepNewer(*store[at].object, r);
            } else {
                store.add(r.query, entryOf(r));
            }
        }
        return;
    }
    // A file the program wrote lists its results in the store's order: then nothing is sorted.
    std::vector<size_t> order(results.size());
    std::iota(order.begin(), order.end(), size_t(0));
    // The store is ordered by compare(); the keys agree with it in the user's locales, but not
    // in every one (in the C locale they tell letter case apart). The order is checked while the
    // equal queries are gathered, and sorted again by compare() itself when it does not hold.
    std::vector<size_t> distinct;
    const auto gather = [&] {
        distinct.clear();
        distinct.reserve(order.size());
        for (size_t i = 0; i < order.size();) {
            size_t first = order[i];  // the earliest of the file counts
            size_t k = i + 1;
            for (; k < order.size(); ++k) {
                const int c = collation.compare(results[order[i]].query, results[order[k]].query);
                if (c > 0) {
                    return false;
                }
                if (c < 0) {
                    break;
                }
                first = std::min(first, order[k]);
            }
            distinct.push_back(first);
            i = k;
        }
        return true;
    };
    if (!gather()) {
        std::vector<Collation::Key> keys;
        keys.reserve(results.size());
        for (const ProjectResult& r : results) {
            keys.push_back(collation.key(r.query));
        }
        const auto compare = [&](size_t a, size_t b) {
            return collation.compareKeys(keys[a], results[a].query, keys[b], results[b].query);
        };
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return compare(a, b) < 0; });
        keys.clear();
        if (!gather()) {
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return collation.compare(results[a].query, results[b].query) < 0;
            });
            gather();
        }
    }

    ResultStore merged(collation);
    merged.reserve(store.size() + qsizetype(distinct.size()));
    qsizetype i = 0;
    size_t j = 0;
    while (i < store.size() || j < distinct.size()) {
        int c = 0;
        if (i == store.size()) {
            c = 1;
        } else if (j == distinct.size()) {
            c = -1;
        } else {
            c = collation.compare(store[i].text, results[distinct[j]].query);
        }
        if (c <= 0) {
            if (c == 0) {
                keepNewer(*store[i].object, results[distinct[j]]);
                ++j;
            }
            merged.add(std::move(store[i].text), std::move(store[i].object));
            ++i;
        } else {
            ProjectResult& r = results[distinct[j]];
            std::unique_ptr<TSerpEntry> e = entryOf(r);
            merged.add(std::move(r.query), std::move(e));
            ++j;
        }
    }
    store = std::move(merged);
}

QString withProjectExtension(const QString& name) {
    qsizetype base = name.lastIndexOf(u'/');
#ifdef Q_OS_WIN
    base = std::max(base, name.lastIndexOf(u'\\'));
#endif
    const QString extension = QString::fromUtf16(kProjectExtension);
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool has = dot > base && name.sliced(dot).compare(extension, Qt::CaseInsensitive) == 0;
    return has ? name : name + extension;
}

}  // namespace kelvara
