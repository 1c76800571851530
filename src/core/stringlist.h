#pragma once

#include "core/collation.h"

#include <QString>

#include <utility>
#include <vector>

namespace kelvara {

// For sorted lists whose lines carry no object.
struct NoObject {};

// A sorted string list: lines kept in the program's collation order (letter case ignored), found
// by binary search, and a text already present is never added twice: add() then returns the
// position of the line that is there and leaves that line and its object as they were.
template <class Object = NoObject>
class SortedStringList {
public:
    struct Line {
        QString text;
        [[no_unique_address]] Object object;
    };
    struct Added {
        qsizetype index;
        bool inserted;
    };

    explicit SortedStringList(const Collation& collation = Collation::program())
        : collation_(&collation) {}

    qsizetype size() const { return qsizetype(lines_.size()); }
    bool empty() const { return lines_.empty(); }
    const Line& operator[](qsizetype i) const { return lines_[size_t(i)]; }
    Line& operator[](qsizetype i) { return lines_[size_t(i)]; }
    const QString& text(qsizetype i) const { return lines_[size_t(i)].text; }
    auto begin() const { return lines_.begin(); }
    auto end() const { return lines_.end(); }
    auto begin() { return lines_.begin(); }
    auto end() { return lines_.end(); }
    const Collation& collation() const { return *collation_; }

    // Binary search. True when found; *index is the line's position, or where it would go.
    bool find(QStringView text, qsizetype* index) const {
        qsizetype lo = 0;
        qsizetype hi = size() - 1;
        bool found = false;
        while (lo <= hi) {
            const qsizetype mid = (lo + hi) / 2;
            const int c = collation_->compare(lines_[size_t(mid)].text, text);
            if (c < 0) {
                lo = mid + 1;
            } else {
                hi = mid - 1;
                if (c == 0) {
                    found = true;
                    lo = mid;  // there is at most one equal line: stop here
                    break;
                }
            }
        }
        *index = lo;
        return found;
    }
    qsizetype indexOf(QStringView text) const {
        qsizetype i = 0;
        return find(text, &i) ? i : -1;
    }
    bool contains(QStringView text) const { return indexOf(text) >= 0; }

    // Adds the text with its object unless an equal text is present. The object is moved from
    // only when the line is inserted; otherwise the caller still has it.
    Added add(QString text, Object&& object = Object()) {
        // Texts often arrive in order (a file written by us): try the end first.
        qsizetype at = size();
        if (!lines_.empty()) {
            const int c = collation_->compare(lines_.back().text, text);
            if (c == 0) {
                return {at - 1, false};
            }
            if (c > 0 && find(text, &at)) {
                return {at, false};
            }
        }
        lines_.insert(lines_.begin() + at, Line{std::move(text), std::move(object)});
        return {at, true};
    }

    void removeAt(qsizetype i) { lines_.erase(lines_.begin() + i); }
    void clear() { lines_.clear(); }
    void reserve(qsizetype n) { lines_.reserve(size_t(n)); }

    // The texts, in order.
    QStringList texts() const {
        QStringList out;
        out.reserve(size());
        for (const Line& l : lines_) {
            out.append(l.text);
        }
        return out;
    }

private:
    const Collation* collation_;
    std::vector<Line> lines_;
};

// A sorted list of plain texts, such as a query's result URLs.
using SortedStrings = SortedStringList<NoObject>;

}  // namespace kelvara
