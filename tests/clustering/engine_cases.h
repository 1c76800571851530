#pragma once

// Building work lists for engine tests and comparing what the engines leave behind.

#include "clustering/cluster.h"
#include "clustering/engine.h"
#include "core/collation.h"
#include "core/serp_entry.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kelvara::test {

// One work-list line: its text, its URLs, and an entry tag: lines with the same tag (>= 0) share
// one entry, made from the first such line's URLs.
struct LineSpec {
    QString text;
    QStringList urls;
    int entry = -1;
};

struct TestRun {
    std::vector<std::unique_ptr<TSerpEntry>> entries;
    WorkList work;
};
TestRun makeRun(const std::vector<LineSpec>& lines, const Collation& collation);

// What a run leaves: the groups (nullopt for a null slot), every entry's GroupIndex, the counters.
struct Outcome {
    std::vector<std::optional<QStringList>> groups;
    std::vector<int> groupIndex;
    int total = -1;
    int done = -1;
    TGroupingStatus status = gsProcess;
    bool operator==(const Outcome&) const = default;
};
std::string describe(const Outcome& o);

using Engine =
    std::function<void(const WorkList&, TStringListDynArray&, bool, int, GroupingProgress&,
                       const std::function<bool()>&, const Collation&)>;
Engine referenceEngine();
Engine fastEngine();

Outcome runWith(const Engine& engine, TestRun& run, bool hard, int k, const Collation& collation,
                const std::function<bool()>& stop = {});

// The groups as plain lists, null slots as nullopt.
std::vector<std::optional<QStringList>> groupsOf(const Outcome& o);

// A random, adversarial work list: few texts and URLs so that overlaps, repeats, case variants,
// empty texts and shared entries are common.
struct RandomShape {
    int maxLines = 40;
    int maxUrls = 24;
    bool nonAsciiUrls = true;  // Cyrillic URLs and URLs holding "|"
    int maxListLength = 10;    // URLs per line at most (an import can give more than ten)
};
std::vector<LineSpec> randomLines(std::mt19937_64& rng, const RandomShape& shape);
std::string dump(const std::vector<LineSpec>& lines);

}  // namespace kelvara::test
