#include "reference_engine.h"

#include "core/stringlist.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace kelvara::test {

QStringList GetCombinations(const QStringList& list, int K, int start) {
    QStringList result;
    const qsizetype n = list.size();
    if (start > n - 1) {
        return result;
    }
    for (qsizetype p = start; p <= n - 1; ++p) {
        if (K <= 1) {
            result.append(list[p]);
        } else {
            const QStringList sub = GetCombinations(list, K - 1, int(p + 1));
            for (const QString& t : sub) {
                result.append(list[p] + u'|' + t);
            }
        }
    }
    return result;
}

std::vector<std::vector<int>> combinationPositions(int n, int k, int start) {
    std::vector<std::vector<int>> result;
    for (int p = start; p <= n - 1; ++p) {
        if (k <= 1) {
            result.push_back({p});
        } else {
            for (std::vector<int>& tail : combinationPositions(n, k - 1, p + 1)) {
                tail.insert(tail.begin(), p);
                result.push_back(std::move(tail));
            }
        }
    }
    return result;
}

namespace {

using QueryList = SortedStringList<int>;  // query text -> its first work-list position

// Queries recorded under one combination key: insertion order, membership ignoring letter case,
// and a repeated recording replaces the stored text (its case may differ) in place.
struct MemberSet {
    explicit MemberSet(const Collation& c) : index(c) {}
    QStringList texts;
    SortedStringList<int> index;  // text -> position in texts

    void record(const QString& text) {
        qsizetype at = 0;
        if (index.find(text, &at)) {
            texts[index[at].object] = text;
        } else {
            index.add(text, int(texts.size()));
            texts.append(text);
        }
    }
};

// A soft group: its sorted lines (object = work-list position, -1 for none) and every entry
// that has joined it.
struct SoftGroup {
    explicit SoftGroup(const Collation& c) : lines(c) {}
    SortedStringList<int> lines;
    std::vector<TSerpEntry*> members;
};

class Reference {
public:
    Reference(const WorkList& work, TStringListDynArray& groups, bool hard, int threshold,
              GroupingProgress& progress, const std::function<bool()>& stop, const Collation& c)
        : work_(work),
          groups_(groups),
          hard_(hard),
          k_(std::max(1, threshold)),
          progress_(progress),
          stop_(stop),
          c_(c),
          urlIndex_(c) {}

    void run() {
        progress_.FTotalIterations = std::int32_t(work_.size());
        progress_.FSuccessIterations = 0;
        progress_.FStatus = gsProcess;
        for (const WorkLine& line : work_) {
            if (line.entry) {
                line.entry->GroupIndex = -1;
            }
        }
        groups_.clear();
        for (qsizetype i = 0; i < qsizetype(work_.size()); ++i) {
            const TSerpEntry* e = work_[size_t(i)].entry;
            if (!e) {
                continue;
            }
            for (const auto& url : e->Urls) {
                qsizetype at = 0;
                if (!urlIndex_.find(url.text, &at)) {
                    at = urlIndex_.add(url.text, std::make_unique<QueryList>(c_)).index;
                }
                urlIndex_[at].object->add(work_[size_t(i)].text, int(i));
            }
        }
        if (hard_) {
            runHard();
        } else {
            runSoft();
        }
        if (!stopped()) {
            progress_.FStatus = gsSuccess;
        }
    }

private:
    bool stopped() {
        if (!stopSeen_ && stop_ && stop_()) {
            stopSeen_ = true;
        }
        return stopSeen_;
    }

    TSerpEntry* entry(int pos) const { return work_[size_t(pos)].entry; }
    const QString& text(int pos) const { return work_[size_t(pos)].text; }

    int overlap(const TSerpEntry* a, const TSerpEntry* b, bool stopAtK) const {
        int count = 0;
        for (const auto& url : a->Urls) {
            if (b->Urls.contains(url.text)) {
                ++count;
                if (stopAtK && count >= k_) {
                    break;
                }
            }
        }
        return count;
    }

    const QueryList& queriesOf(const QString& url) const {
        return *urlIndex_[urlIndex_.indexOf(url)].object;
    }

    // ---- soft ----

    void runSoft() {
        for (int i = 0; i < int(work_.size()); ++i) {
            if (stopped()) {
                break;
            }
            TSerpEntry* ei = entry(i);
            if (ei) {
                for (const auto& url : ei->Urls) {
                    const QueryList& list = queriesOf(url.text);
                    for (const auto& line : list) {
                        const int o = line.object;
                        TSerpEntry* eo = entry(o);
                        if (o == i || (eo->GroupIndex >= 0 && eo->GroupIndex == ei->GroupIndex)) {
                            continue;
                        }
                        if (overlap(ei, eo, true) < k_) {
                            continue;
                        }
                        join(i, o);
                    }
                }
            }
            if (!ei || ei->GroupIndex < 0) {
                auto g = std::make_unique<SoftGroup>(c_);
                g->lines.add(text(i), -1);
                soft_.push_back(std::move(g));
            }
            ++progress_.FSuccessIterations;
        }
        for (auto& g : soft_) {
            if (!g) {
                groups_.push_back(nullptr);
            } else {
                groups_.push_back(std::make_unique<QStringList>(g->lines.texts()));
            }
        }
    }

    void join(int i, int o) {
        TSerpEntry* ei = entry(i);
        TSerpEntry* eo = entry(o);
        const int gi = ei->GroupIndex;
        const int go = eo->GroupIndex;
        if (gi < 0 && go < 0) {
            auto g = std::make_unique<SoftGroup>(c_);
            g->lines.add(text(i), int(i));
            g->lines.add(text(o), int(o));
            g->members = {ei, eo};
            soft_.push_back(std::move(g));
            ei->GroupIndex = eo->GroupIndex = int(soft_.size()) - 1;
        } else if (gi >= 0 && go < 0) {
            soft_[size_t(gi)]->lines.add(text(o), int(o));
            soft_[size_t(gi)]->members.push_back(eo);
            eo->GroupIndex = gi;
        } else if (gi < 0) {
            soft_[size_t(go)]->lines.add(text(i), int(i));
            soft_[size_t(go)]->members.push_back(ei);
            ei->GroupIndex = go;
        } else if (soft_[size_t(gi)]->lines.size() > soft_[size_t(go)]->lines.size()) {
            merge(go, gi);
        } else {
            merge(gi, go);
        }
    }

    void merge(int from, int into) {
        std::unique_ptr<SoftGroup> a = std::move(soft_[size_t(from)]);
        SoftGroup& b = *soft_[size_t(into)];
        for (const auto& line : a->lines) {
            entry(line.object)->GroupIndex = into;
            b.lines.add(line.text, int(line.object));
        }
        // Every entry that joined A belongs to B now, also one whose text B already held through
        // another line: otherwise its GroupIndex would name the emptied slot.
        for (TSerpEntry* e : a->members) {
            e->GroupIndex = into;
            b.members.push_back(e);
        }
    }

    // ---- hard ----

    // A combination key: the "|"-joined URLs, and the URLs themselves, which keep apart two
    // different sets of URLs whose joined texts happen to read alike (a URL holding "|").
    struct ComboKey {
        QString joined;
        QStringList urls;
        std::unique_ptr<MemberSet> members;
    };

    int compareKeys(const QString& joinedA, const QStringList& urlsA, const QString& joinedB,
                    const QStringList& urlsB) const {
        if (const int r = c_.compare(joinedA, joinedB)) {
            return r;
        }
        for (qsizetype x = 0; x < urlsA.size() && x < urlsB.size(); ++x) {
            if (const int r = c_.compare(urlsA[x], urlsB[x])) {
                return r;
            }
        }
        return 0;
    }

    void runHard() {
        std::vector<ComboKey> comboIndex;  // sorted by compareKeys
        bool broke = false;
        for (int i = 0; i < int(work_.size()); ++i) {
            if (stopped()) {
                broke = true;
                break;
            }
            const TSerpEntry* ei = entry(i);
            if (ei) {
                for (const auto& url : ei->Urls) {
                    const QueryList& list = queriesOf(url.text);
                    for (const auto& line : list) {
                        const int o = line.object;
                        if (o == i) {
                            continue;
                        }
                        const TSerpEntry* eo = entry(o);
                        SortedStrings pairUrls(c_);
                        for (const auto& v : ei->Urls) {
                            if (eo->Urls.contains(v.text)) {
                                pairUrls.add(v.text);
                            }
                        }
                        if (pairUrls.size() < k_) {
                            continue;
                        }
                        const QStringList texts = pairUrls.texts();
                        const QStringList keys = GetCombinations(texts, k_, 0);
                        const std::vector<std::vector<int>> positions =
                            combinationPositions(int(texts.size()), k_);
                        for (size_t x = 0; x < positions.size(); ++x) {
                            QStringList urls;
                            for (int pos : positions[x]) {
                                urls.append(texts[pos]);
                            }
                            const QString& key = keys[qsizetype(x)];
                            auto at = std::lower_bound(comboIndex.begin(), comboIndex.end(), 0,
                                                       [&](const ComboKey& k, int) {
                                                           return compareKeys(k.joined, k.urls, key,
                                                                              urls) < 0;
                                                       });
                            if (at == comboIndex.end() ||
                                compareKeys(at->joined, at->urls, key, urls) != 0) {
                                at = comboIndex.insert(
                                    at, ComboKey{key, urls, std::make_unique<MemberSet>(c_)});
                            }
                            at->members->record(text(i));
                            at->members->record(text(o));
                        }
                    }
                }
            }
            ++progress_.FSuccessIterations;
        }
        if (broke || stopped()) {
            return;
        }
        SortedStrings placed(c_);
        std::vector<std::vector<QStringList>> sizeBuckets;
        for (const ComboKey& key : comboIndex) {
            const qsizetype s = key.members->texts.size();
            if (qsizetype(sizeBuckets.size()) < s) {
                sizeBuckets.resize(size_t(s));
            }
            sizeBuckets[size_t(s - 1)].push_back(key.members->texts);
        }
        for (qsizetype s = qsizetype(sizeBuckets.size()); s >= k_; --s) {
            // Later entries of this bucket can only be added to smaller buckets.
            for (size_t m = 0; m < sizeBuckets[size_t(s - 1)].size(); ++m) {
                const QStringList members = sizeBuckets[size_t(s - 1)][m];
                QStringList fresh;
                for (const QString& t : members) {
                    if (!placed.contains(t)) {
                        fresh.append(t);
                    }
                }
                const qsizetype f = fresh.size();
                if (f < k_) {
                    continue;
                }
                if (f == s) {
                    for (const QString& t : fresh) {
                        placed.add(t);
                    }
                    groups_.push_back(std::make_unique<QStringList>(fresh));
                } else {
                    sizeBuckets[size_t(f - 1)].push_back(fresh);
                }
            }
        }
        if (stopped()) {
            return;
        }
        for (const WorkLine& line : work_) {
            if (!placed.contains(line.text)) {
                groups_.push_back(std::make_unique<QStringList>(QStringList{line.text}));
            }
        }
    }

    const WorkList& work_;
    TStringListDynArray& groups_;
    const bool hard_;
    const int k_;
    GroupingProgress& progress_;
    const std::function<bool()>& stop_;
    const Collation& c_;
    bool stopSeen_ = false;
    SortedStringList<std::unique_ptr<QueryList>> urlIndex_;
    std::vector<std::unique_ptr<SoftGroup>> soft_;
};

}  // namespace

void referenceGrouping(const WorkList& work, TStringListDynArray& groups, bool hardMethod,
                       int threshold, GroupingProgress& progress,
                       const std::function<bool()>& stopRequested, const Collation& collation) {
    Reference(work, groups, hardMethod, threshold, progress, stopRequested, collation).run();
}

}  // namespace kelvara::test
