#include "clustering/link_graph.h"

#include "core/collation.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace kelvara {

WorkList phraseLines(const QStringList& phrases, const WorkList* runLines,
                     const ResultStore& store) {
    QHash<QString, TSerpEntry*> entryOf;
    if (runLines) {
        entryOf.reserve(qsizetype(runLines->size()));
        for (const WorkLine& line : *runLines) {
            if (line.entry && !entryOf.contains(line.text)) {
                entryOf.insert(line.text, line.entry);
            }
        }
    }
    WorkList work;
    work.reserve(size_t(phrases.size()));
    for (const QString& p : phrases) {
        TSerpEntry* entry = entryOf.value(p);
        work.push_back({p, entry ? entry : findEntry(store, p)});
    }
    return work;
}

namespace {

// Results are told apart as toCaseFolded() tells them apart. An ASCII text folds to its ASCII
// lower case, so it is hashed and compared that way as it stands; any other text is folded first
// (its folded form is then compared the same way, which changes nothing in it).
char16_t asciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}
// Hashes the characters with the bit of ASCII's lower case set (0x20): equal under FoldedEqual
// gives equal hashes; four characters at a time.
struct FoldedHash {
    size_t operator()(QStringView v) const noexcept {
        constexpr std::uint64_t kMul = 0xff51afd7ed558ccdULL;
        const char16_t* p = v.utf16();
        const qsizetype n = v.size();
        std::uint64_t h = 0x9E3779B97F4A7C15ULL ^ std::uint64_t(n);
        qsizetype i = 0;
        for (; i + 4 <= n; i += 4) {
            std::uint64_t w;
            std::memcpy(&w, p + i, sizeof w);
            h = (h ^ (w | 0x0020002000200020ULL)) * kMul;
            h ^= h >> 32;
        }
        for (; i < n; ++i) {
            h = (h ^ std::uint64_t(p[i] | 0x20)) * kMul;
        }
        return size_t(h ^ (h >> 29));
    }
};
struct FoldedEqual {
    bool operator()(QStringView a, QStringView b) const noexcept {
        if (a.size() != b.size()) {
            return false;
        }
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (asciiLower(a[i].unicode()) != asciiLower(b[i].unicode())) {
                return false;
            }
        }
        return true;
    }
};

}  // namespace

LinkGraph::LinkGraph(const WorkList& work, int threshold, bool hardMethod)
    : k_(std::max(1, threshold)), hard_(hardMethod) {
    const size_t n = work.size();
    texts_.reserve(n);
    ids_.reserve(qsizetype(n));
    itemStart_.reserve(n + 1);
    // Keys are views of the work's texts (alive while this runs) or of folded copies.
    std::unordered_map<QStringView, std::int32_t, FoldedHash, FoldedEqual> itemIds;
    itemIds.reserve(n * 4);
    std::vector<QString> folded;
    for (size_t i = 0; i < n; ++i) {
        const WorkLine& line = work[i];
        texts_.push_back(line.text);
        // The first line of a text answers for it, as the store's lookup would.
        if (const QString foldedText = line.text.toCaseFolded(); !ids_.contains(foldedText)) {
            ids_.insert(foldedText, int(i));
        }
        itemStart_.push_back(std::int32_t(items_.size()));
        if (!line.entry) {
            continue;
        }
        const size_t begin = items_.size();
        for (const auto& url : line.entry->Urls) {
            QStringView key = url.text;
            if (!isAscii(key)) {
                folded.push_back(url.text.toCaseFolded());
                key = folded.back();  // a QString's characters stay put when it is moved
            }
            const auto [it, added] = itemIds.try_emplace(key, std::int32_t(itemTexts_.size()));
            if (added) {
                itemTexts_.push_back(url.text);
            }
            if (std::find(items_.begin() + qsizetype(begin), items_.end(), it->second) ==
                items_.end()) {
                items_.push_back(it->second);
            }
        }
    }
    itemStart_.push_back(std::int32_t(items_.size()));

    postStart_.assign(itemTexts_.size() + 1, 0);
    for (const std::int32_t item : items_) {
        ++postStart_[size_t(item) + 1];
    }
    for (size_t i = 1; i < postStart_.size(); ++i) {
        postStart_[i] += postStart_[i - 1];
    }
    posts_.resize(items_.size());
    std::vector<std::int32_t> fill(postStart_.begin(), postStart_.end() - 1);
    for (size_t p = 0; p < n; ++p) {
        for (std::int32_t j = itemStart_[p]; j < itemStart_[p + 1]; ++j) {
            posts_[size_t(fill[size_t(items_[size_t(j)])]++)] = std::int32_t(p);
        }
    }
}

int LinkGraph::idOf(QStringView text) const {
    return ids_.value(text.toString().toCaseFolded(), -1);
}

template <class F>
void LinkGraph::forEachNeighbour(int u, std::vector<std::int32_t>& count, std::vector<int>& touched,
                                 F&& f) const {
    for (std::int32_t j = itemStart_[size_t(u)]; j < itemStart_[size_t(u) + 1]; ++j) {
        const std::int32_t item = items_[size_t(j)];
        for (std::int32_t q = postStart_[size_t(item)]; q < postStart_[size_t(item) + 1]; ++q) {
            const int p = posts_[size_t(q)];
            if (p == u) {
                continue;
            }
            if (count[size_t(p)]++ == 0) {
                touched.push_back(p);
            }
            if (count[size_t(p)] == k_) {
                f(p);
            }
        }
    }
    for (const int p : touched) {
        count[size_t(p)] = 0;
    }
    touched.clear();
}

std::vector<int> LinkGraph::neighbours(int id) const {
    std::vector<int> out;
    if (id < 0 || id >= size()) {
        return out;
    }
    std::vector<std::int32_t> count(texts_.size(), 0);
    std::vector<int> touched;
    forEachNeighbour(id, count, touched, [&](int p) { out.push_back(p); });
    std::sort(out.begin(), out.end());
    return out;
}

QStringList LinkGraph::shared(int a, int b) const {
    QStringList out;
    if (a < 0 || b < 0 || a >= size() || b >= size()) {
        return out;
    }
    const auto bBegin = items_.begin() + itemStart_[size_t(b)];
    const auto bEnd = items_.begin() + itemStart_[size_t(b) + 1];
    for (std::int32_t j = itemStart_[size_t(a)]; j < itemStart_[size_t(a) + 1]; ++j) {
        if (std::find(bBegin, bEnd, items_[size_t(j)]) != bEnd) {
            out.append(itemTexts_[size_t(items_[size_t(j)])]);
        }
    }
    return out;
}

// Breadth-first from both ends, the smaller frontier first; a level that meets the other side is
// finished so that the shortest of its meetings is taken.
std::vector<int> LinkGraph::chainBetween(int a, int b) const {
    const size_t n = texts_.size();
    constexpr int kUnseen = -1;
    std::vector<int> dist[2] = {std::vector<int>(n, kUnseen), std::vector<int>(n, kUnseen)};
    std::vector<int> parent[2] = {std::vector<int>(n, -1), std::vector<int>(n, -1)};
    std::vector<int> front[2] = {{a}, {b}};
    dist[0][size_t(a)] = 0;
    dist[1][size_t(b)] = 0;
    std::vector<std::int32_t> count(n, 0);
    std::vector<int> touched;
    while (!front[0].empty() && !front[1].empty()) {
        const int x = front[0].size() <= front[1].size() ? 0 : 1;
        const int y = 1 - x;
        std::vector<int> next;
        int best = std::numeric_limits<int>::max();
        int meetFrom = -1, meetAt = -1;
        for (const int u : front[size_t(x)]) {
            forEachNeighbour(u, count, touched, [&](int p) {
                if (dist[y][size_t(p)] != kUnseen) {
                    const int length = dist[x][size_t(u)] + 1 + dist[y][size_t(p)];
                    if (length < best) {
                        best = length;
                        meetFrom = u;
                        meetAt = p;
                    }
                }
                if (dist[x][size_t(p)] == kUnseen) {
                    dist[x][size_t(p)] = dist[x][size_t(u)] + 1;
                    parent[x][size_t(p)] = u;
                    next.push_back(p);
                }
            });
        }
        if (meetAt >= 0) {
            std::vector<int> path;  // from x's end to the meeting, then on to y's end
            for (int v = meetFrom; v != -1; v = parent[x][size_t(v)]) {
                path.push_back(v);
            }
            std::reverse(path.begin(), path.end());
            for (int v = meetAt; v != -1; v = parent[y][size_t(v)]) {
                path.push_back(v);
            }
            if (x == 1) {
                std::reverse(path.begin(), path.end());
            }
            return path;
        }
        front[size_t(x)] = std::move(next);
    }
    return {};
}

WhyTogether LinkGraph::whyTogether(QStringView a, QStringView b) const {
    WhyTogether out;
    const int ia = idOf(a);
    const int ib = idOf(b);
    if (ia < 0 || ib < 0) {
        return out;
    }
    out.known = true;
    out.shared = shared(ia, ib);
    out.direct = ia != ib && out.shared.size() >= k_;
    if (hard_ || out.direct || ia == ib) {
        return out;
    }
    const std::vector<int> path = chainBetween(ia, ib);
    for (size_t i = 1; i < path.size(); ++i) {
        out.chain.push_back(
            {texts_[size_t(path[i - 1])], texts_[size_t(path[i])], shared(path[i - 1], path[i])});
    }
    return out;
}

// Depth-first search with low links, without recursion (a chain of thousands of phrases would
// go as deep).
std::optional<std::vector<int>> LinkGraph::articulationPoints(const std::vector<int>& members,
                                                              size_t limit) const {
    if (members.size() > limit) {
        return std::nullopt;
    }
    const size_t m = members.size();
    std::vector<int> local(texts_.size(), -1);
    for (size_t i = 0; i < m; ++i) {
        if (members[i] >= 0 && members[i] < size()) {
            local[size_t(members[i])] = int(i);
        }
    }
    std::vector<std::vector<int>> adjacent(m);
    std::vector<std::int32_t> count(texts_.size(), 0);
    std::vector<int> touched;
    for (size_t i = 0; i < m; ++i) {
        if (local[size_t(members[i])] != int(i)) {
            continue;  // a repeated or unknown member
        }
        forEachNeighbour(members[i], count, touched, [&](int p) {
            if (local[size_t(p)] >= 0) {
                adjacent[i].push_back(local[size_t(p)]);
            }
        });
    }
    std::vector<int> order(m, -1), low(m, 0), parent(m, -1), children(m, 0);
    std::vector<bool> cut(m, false);
    std::vector<std::pair<int, size_t>> stack;  // node, next edge
    int clock = 0;
    for (size_t root = 0; root < m; ++root) {
        if (order[root] >= 0) {
            continue;
        }
        order[root] = low[root] = clock++;
        stack.push_back({int(root), 0});
        while (!stack.empty()) {
            const int v = stack.back().first;
            const size_t e = stack.back().second;
            if (e < adjacent[size_t(v)].size()) {
                ++stack.back().second;
                const int w = adjacent[size_t(v)][e];
                if (order[size_t(w)] < 0) {
                    parent[size_t(w)] = v;
                    ++children[size_t(v)];
                    order[size_t(w)] = low[size_t(w)] = clock++;
                    stack.push_back({w, 0});
                } else if (w != parent[size_t(v)]) {
                    low[size_t(v)] = std::min(low[size_t(v)], order[size_t(w)]);
                }
                continue;
            }
            stack.pop_back();
            const int p = parent[size_t(v)];
            if (p >= 0) {
                low[size_t(p)] = std::min(low[size_t(p)], low[size_t(v)]);
                if (parent[size_t(p)] >= 0 && low[size_t(v)] >= order[size_t(p)]) {
                    cut[size_t(p)] = true;
                }
            }
        }
        cut[root] = children[root] > 1;
    }
    std::vector<int> out;
    for (size_t i = 0; i < m; ++i) {
        if (cut[i]) {
            out.push_back(members[i]);
        }
    }
    return out;
}

LinkGraphBuild::LinkGraphBuild(const WorkList& work, LinkRules rules, int threshold,
                               bool hardMethod) {
    work_.reserve(work.size());
    copies_.reserve(work.size());
    for (const WorkLine& line : work) {
        TSerpEntry* copy = nullptr;
        if (line.entry) {
            copies_.push_back(std::make_unique<TSerpEntry>(line.entry->Stamp));
            copy = copies_.back().get();
            copy->Urls = line.entry->Urls;
        }
        work_.push_back({line.text, copy});
    }
    thread_ = std::thread([this, rules = std::move(rules), threshold, hardMethod] {
        const LinkWork reduced(work_, rules);
        LinkGraph graph(reduced.lines(), threshold, hardMethod);
        const std::lock_guard lock(mutex_);
        graph_ = std::move(graph);
        made_ = true;
        madeCv_.notify_all();
    });
}

LinkGraphBuild::~LinkGraphBuild() {
    thread_.join();
}

bool LinkGraphBuild::ready() const {
    const std::lock_guard lock(mutex_);
    return made_;
}

const LinkGraph& LinkGraphBuild::graph() const {
    std::unique_lock lock(mutex_);
    madeCv_.wait(lock, [this] { return made_; });
    return graph_;
}

}  // namespace kelvara
