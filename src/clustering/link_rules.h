#pragma once

#include "core/platform.h"
#include "core/serp_entry.h"
#include "core/textfile.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

namespace kelvara {

// What links two queries before the engine counts: some hosts can be left out (a marketplace
// that ranks for everything chains unrelated topics), and results can be compared by host
// instead of by whole URL. The engine itself is not changed: it runs on reduced copies of the
// URL lists, and the store keeps every URL.

// The host of a URL as the rules compare it: the part after "//" (the whole text without one) up
// to "/", "?" or "#", without user name and port, letters in lower case, labels in Punycode
// decoded, a final "." and a leading "www." removed. Empty when there is none.
QString urlHostKey(QStringView url);
// The same for a host name on its own.
QString hostKey(QStringView host);
// The host key of a URL without making a string where the URL holds it as written: a view into
// the URL, else into `scratch` (which then holds the key).
QStringView urlHostKeyView(QStringView url, QString& scratch);

struct StringViewHash {
    using is_transparent = void;
    size_t operator()(QStringView v) const noexcept { return size_t(qHash(v)); }
};
struct StringViewEqual {
    using is_transparent = void;
    bool operator()(QStringView a, QStringView b) const noexcept { return a == b; }
};
using HostSet = std::unordered_set<QString, StringViewHash, StringViewEqual>;

// One unusable line of a host list.
struct HostListProblem {
    enum Kind { NotAHost, TooLong };
    qsizetype line = 0;  // from 1
    Kind kind = NotAHost;
    QString text;  // the line's start, shortened
};

// The ignored hosts: "example.com" (also "www.example.com") or "*.example.com" (that host and
// every host below it).
class HostList {
public:
    // Reads a list: one host per line, "#" to the end of a line is a comment, blank lines are
    // skipped; a whole URL stands for its host. Unusable lines are skipped and reported (the
    // first `keepProblems` of them in full, all of them in *problemCount).
    static HostList parse(QStringView text, std::vector<HostListProblem>* problems = nullptr,
                          qsizetype* problemCount = nullptr, qsizetype keepProblems = 20);

    bool empty() const { return exact_.empty() && below_.empty(); }
    qsizetype size() const { return qsizetype(exact_.size() + below_.size()); }
    // Whether a host key (see hostKey) is on the list.
    bool matchesKey(QStringView key) const;
    bool matchesUrl(QStringView url) const;

private:
    HostSet exact_;
    HostSet below_;  // "*.x": x and every host that ends in ".x"
    // Bit filters over a hash of each listed key, taken from its end, so that one pass over a
    // host gives the hash of the host and of every parent domain: most hosts are passed without
    // a look-up in the sets.
    struct Filter {
        std::vector<std::uint64_t> bits;
        bool mayHold(std::uint64_t hash) const {
            if (bits.empty()) {
                return false;
            }
            const std::uint64_t bit = hash & (std::uint64_t(bits.size()) * 64 - 1);
            return (bits[size_t(bit / 64)] >> (bit % 64)) & 1;
        }
        void build(const HostSet& keys);
    };
    Filter exactFilter_;
    Filter belowFilter_;
};

// A host list file as read: the list, what was unusable, and a read error (a missing file is no
// error: nothing is ignored then).
struct HostListFile {
    HostList list;
    std::vector<HostListProblem> problems;
    qsizetype problemCount = 0;
    bool missing = false;
    std::optional<FileError> error;
};
inline constexpr qint64 kHostListReadLimit = qint64(256) << 20;
HostListFile loadHostList(const QString& path, const AnsiCodec& codec);
// What was unusable in a host list, in words, or "" when nothing was.
QString hostListProblemText(const HostListFile& file, const QString& path, UiLanguage language);

// The rules of one run. The defaults change nothing.
struct LinkRules {
    std::shared_ptr<const HostList> ignored;  // null or empty: no host is left out
    bool byHost = false;                      // compare hosts instead of whole URLs

    bool active() const { return byHost || (ignored && !ignored->empty()); }
};

// Reduces one URL list at a time (see reducedUrls), keeping the host keys it has made for reuse.
class UrlReducer {
public:
    explicit UrlReducer(const LinkRules& rules);
    // Fills `out` (empty, of the input's collation) and returns true when the list changes.
    bool reduce(const SortedStrings& in, SortedStrings& out);

private:
    bool byHost_;
    const HostList* ignored_;
    HostSet interned_;
    std::vector<QString> keys_;
};

// The URL list a query has under the rules, in the collation's order, each item once: URLs on
// ignored hosts left out; by host, the host keys of the rest.
SortedStrings reducedUrls(const SortedStrings& urls, const LinkRules& rules);

// The work as the engine sees it under the rules. Without active rules it is the work itself;
// otherwise a line whose list changes refers to an entry of its own (lines that shared an entry
// share its copy), the others to their entries as before.
class LinkWork {
public:
    LinkWork() = default;
    LinkWork(const WorkList& work, const LinkRules& rules);

    const WorkList& lines() const { return source_ ? *source_ : lines_; }
    void clear();

private:
    const WorkList* source_ = nullptr;
    WorkList lines_;
    std::vector<std::unique_ptr<TSerpEntry>> entries_;
};

}  // namespace kelvara
