#pragma once

#include "clustering/link_rules.h"
#include "core/serp_entry.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kelvara {

// One link of a chain: two phrases and the results they share.
struct LinkStep {
    QString from;
    QString to;
    QStringList shared;
};

// Why two phrases of a run ended up together.
struct WhyTogether {
    bool known = false;   // both phrases were in the run
    QStringList shared;   // the results both have, as the run compared them
    bool direct = false;  // they share at least the threshold
    // The soft method, when they are not linked directly: the shortest chain of links between
    // them in the run (first step from the first phrase, last to the second); empty when no
    // chain links them.
    std::vector<LinkStep> chain;
};

// The link graph of a run: which phrases share at least the threshold of results. Built from
// the lists the engine counted (see LinkWork), so that it answers for the run as it was.
class LinkGraph {
public:
    LinkGraph() = default;
    LinkGraph(const WorkList& work, int threshold, bool hardMethod);

    qsizetype size() const { return qsizetype(texts_.size()); }
    int threshold() const { return k_; }
    bool hardMethod() const { return hard_; }

    // Phrases are found by text, letter case ignored.
    WhyTogether whyTogether(QStringView a, QStringView b) const;

    // The phrase's id, or -1.
    int idOf(QStringView text) const;
    // The phrases linked to one (sharing at least the threshold), in id order.
    std::vector<int> neighbours(int id) const;
    // The results two phrases share, in the first one's order.
    QStringList shared(int a, int b) const;
    const QString& text(int id) const { return texts_[size_t(id)]; }

    // The phrases among `members` whose removal would split the links between the others (the
    // articulation points of the graph the members make), in the members' order. None for a
    // group of more than `limit` phrases, which would take too long to ask for.
    static constexpr size_t kArticulationLimit = 5000;
    std::optional<std::vector<int>> articulationPoints(const std::vector<int>& members,
                                                       size_t limit = kArticulationLimit) const;

private:
    std::vector<int> chainBetween(int a, int b) const;
    template <class F>
    void forEachNeighbour(int u, std::vector<std::int32_t>& count, std::vector<int>& touched,
                          F&& f) const;

    int k_ = 1;
    bool hard_ = false;
    std::vector<QString> texts_;
    QHash<QString, int> ids_;  // case-folded text -> first phrase of that text
    // Each phrase's result ids (its list's order), and each result's phrases (ascending).
    std::vector<std::int32_t> itemStart_, items_;
    std::vector<std::int32_t> postStart_, posts_;
    std::vector<QString> itemTexts_;
};

// The run's phrases as lines with their entries. A phrase is the text of a run's line, so its
// first line's entry is the store's entry of that text; the store is searched only for what the
// lines do not tell (a search of a large store in the user's collation is slow: 100,000 of them
// take about half a second).
WorkList phraseLines(const QStringList& phrases, const WorkList* runLines,
                     const ResultStore& store);

// The link graph of a run, made on a thread of its own as soon as the run is over, so that the
// first question about the run finds it made. The phrases' result lists are copied when it
// starts (a copy shares the texts), since the store may change while the graph is made.
class LinkGraphBuild {
public:
    LinkGraphBuild(const WorkList& work, LinkRules rules, int threshold, bool hardMethod);
    ~LinkGraphBuild();  // waits for the thread
    LinkGraphBuild(const LinkGraphBuild&) = delete;
    LinkGraphBuild& operator=(const LinkGraphBuild&) = delete;

    bool ready() const;
    // The graph; waits until it is made.
    const LinkGraph& graph() const;

private:
    std::vector<std::unique_ptr<TSerpEntry>> copies_;
    WorkList work_;
    mutable std::mutex mutex_;
    mutable std::condition_variable madeCv_;
    bool made_ = false;
    LinkGraph graph_;
    std::thread thread_;
};

}  // namespace kelvara
