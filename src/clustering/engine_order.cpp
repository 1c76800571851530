#include "clustering/engine_order.h"

#include "clustering/engine_radix.h"

#include <QMutex>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>

namespace kelvara::engine_detail {

int engineThreads() {
    const unsigned hw = std::thread::hardware_concurrency();
    return int(std::clamp(hw == 0 ? 1u : hw, 1u, 4u));
}

namespace {

bool inTable(char16_t c) {
    return c < 128 || (c >= 0x400 && c < OrderKeys::kTableSize);
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

int compareBytes(const char* a, std::uint32_t na, const char* b, std::uint32_t nb) {
    const int r = std::memcmp(a, b, std::min(na, nb));
    if (r != 0) {
        return r < 0 ? -1 : 1;
    }
    return na == nb ? 0 : (na < nb ? -1 : 1);
}

}  // namespace

const OrderKeys& OrderKeys::of(const Collation& collation) {
    static QMutex mutex;
    static std::map<QString, std::unique_ptr<OrderKeys>> tables;
    const QString name = collation.locale().name();
    QMutexLocker lock(&mutex);
    auto& slot = tables[name];
    if (!slot) {
        slot = std::make_unique<OrderKeys>(collation);
    }
    return *slot;
}

OrderKeys::OrderKeys(const Collation& collation) {
    std::fill(std::begin(class_), std::end(class_), kUnknown);
    std::vector<char16_t> chars;
    for (char16_t c = 0; c < kTableSize; ++c) {
        if (!inTable(c)) {
            continue;
        }
        // Ignorable: adds nothing after a letter (against an empty text only length counts).
        const char16_t withC[2] = {u'a', c};
        if (collation.compare(QStringView(withC, 2), u"a") == 0) {
            class_[c] = 0;
        } else {
            chars.push_back(c);
        }
    }
    auto one = [](const char16_t& c) { return QStringView(&c, 1); };
    std::stable_sort(chars.begin(), chars.end(),
                     [&](char16_t a, char16_t b) { return collation.compare(one(a), one(b)) < 0; });
    // Characters that differ only at a finer level than the first (case, accents) share a class:
    // then the letter after them decides, so "xb" sorts after "ya".
    auto sameClass = [&](char16_t x, char16_t y) {
        if (collation.compare(one(x), one(y)) == 0) {
            return true;
        }
        const char16_t xb[2] = {x, u'b'};
        const char16_t ya[2] = {y, u'a'};
        return collation.compare(QStringView(xb, 2), QStringView(ya, 2)) > 0;
    };
    int cls = 0;
    for (size_t i = 0; i < chars.size(); ++i) {
        if (i == 0 || !sameClass(chars[i - 1], chars[i])) {
            ++cls;
        }
        if (cls > 254) {
            return;
        }
        class_[chars[i]] = std::uint8_t(cls);
    }
    usable_ = cls > 0 && check(collation);
}

// The table stands in for the collation only if it orders texts as the collation does: random
// texts, and every character followed by neighbouring classes (which catches letters that
// combine with the next one).
bool OrderKeys::check(const Collation& collation) {
    asciiExact_ = true;
    for (char16_t a = 0; a < 128 && asciiExact_; ++a) {
        for (char16_t b = a + 1; b < 128; ++b) {
            if (class_[a] == class_[b] &&
                collation.compare(QStringView(&a, 1), QStringView(&b, 1)) != 0) {
                asciiExact_ = false;
                break;
            }
        }
    }
    std::vector<char16_t> alphabet;
    std::vector<char16_t> byClass(256, 0);
    for (char16_t c = 0; c < kTableSize; ++c) {
        if (class_[c] != kUnknown) {
            alphabet.push_back(c);
            if (class_[c] != 0 && byClass[class_[c]] == 0) {
                byClass[class_[c]] = c;
            }
        }
    }
    std::string ka;
    std::string kb;
    auto agree = [&](QStringView a, QStringView b) {
        ka.clear();
        kb.clear();
        if (!append(a, ka) || !append(b, kb)) {
            return true;
        }
        const int want = collation.compare(a, b);
        const int got =
            compareBytes(ka.data(), std::uint32_t(ka.size()), kb.data(), std::uint32_t(kb.size()));
        if (got != 0) {
            return got == want;
        }
        const bool ascii = isAscii(a) && isAscii(b);
        return !(ascii && asciiExact_) || want == 0;
    };
    std::uint32_t seed = 0x2545F491u;
    auto next = [&seed]() {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed;
    };
    for (int i = 0; i < 6000; ++i) {
        QString a;
        for (int j = int(next() % 8); j > 0; --j) {
            a += QChar(alphabet[next() % alphabet.size()]);
        }
        QString b = a.left(qsizetype(next() % std::uint32_t(a.size() + 1)));
        for (int j = int(next() % 4); j > 0; --j) {
            b += QChar(alphabet[next() % alphabet.size()]);
        }
        if (!agree(a, b)) {
            return false;
        }
    }
    for (char16_t x : alphabet) {
        for (int c = 1; c + 1 < 256; ++c) {
            if (byClass[c] == 0 || byClass[c + 1] == 0) {
                continue;
            }
            const char16_t xy[3] = {x, byClass[c], u'a'};
            const char16_t xz[3] = {x, byClass[c + 1], u'a'};
            if (!agree(QStringView(xy, 3), QStringView(xz, 3)) ||
                !agree(QStringView(xy, 2), QStringView(xz + 1, 1))) {
                return false;
            }
        }
    }
    return true;
}

bool OrderKeys::appendWeights(QStringView text, std::string& out) const {
    const size_t start = out.size();
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        const std::uint8_t k = c < kTableSize ? class_[c] : kUnknown;
        if (k == kUnknown) {
            out.resize(start);
            return false;
        }
        if (k != 0) {
            out.push_back(char(k));
        }
    }
    return true;
}

bool OrderKeys::append(QStringView text, std::string& out) const {
    if (text.isEmpty()) {
        return true;
    }
    out.push_back('\x01');
    if (!appendWeights(text, out)) {
        out.pop_back();
        return false;
    }
    return true;
}

int compareKeyed(const KeyedText& a, const KeyedText& b, const Collation& collation) {
    if (a.key && b.key) {
        const int r = compareBytes(a.key, a.keySize, b.key, b.keySize);
        if (r != 0) {
            return r;
        }
        if (a.ascii && b.ascii) {
            return 0;
        }
    }
    return sign(collation.compare(a.text, b.text));
}

std::uint64_t hashBytes(const void* data, std::size_t size, std::uint64_t seed) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint64_t h = seed ^ (0x9E3779B97F4A7C15ULL * (size + 1));
    while (size >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * 0xBF58476D1CE4E5B9ULL;
        h ^= h >> 31;
        p += 8;
        size -= 8;
    }
    std::uint64_t w = 0;
    std::memcpy(&w, p, size);
    h = (h ^ w) * 0x94D049BB133111EBULL;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 32;
    return h;
}

namespace {

// Keys of many texts in one arena.
struct KeyTable {
    std::vector<std::string> arenas;    // one per worker
    std::vector<std::uint32_t> offset;  // into the worker's arena
    std::vector<std::uint32_t> size;
    std::vector<std::uint8_t> arena;  // which arena; 0xFF: no key
    std::vector<std::uint8_t> exactAscii;

    KeyedText keyed(const std::vector<QStringView>& texts, size_t i) const {
        KeyedText k;
        k.text = texts[i];
        if (arena[i] != 0xFF) {
            k.key = arenas[arena[i]].data() + offset[i];
            k.keySize = size[i];
            k.ascii = exactAscii[i] != 0;
        }
        return k;
    }
};

KeyTable buildKeys(const std::vector<QStringView>& texts, const OrderKeys& keys, int threads) {
    KeyTable t;
    const size_t n = texts.size();
    t.offset.resize(n);
    t.size.resize(n);
    t.arena.assign(n, 0xFF);
    t.exactAscii.assign(n, 0);
    t.arenas.resize(size_t(std::max(1, threads)));
    if (!keys.usable()) {
        return t;
    }
    parallelFor(std::int64_t(n), threads, [&](std::int64_t begin, std::int64_t end, int w) {
        std::string& out = t.arenas[size_t(w)];
        for (std::int64_t i = begin; i < end; ++i) {
            const size_t at = out.size();
            if (keys.append(texts[size_t(i)], out)) {
                t.offset[size_t(i)] = std::uint32_t(at);
                t.size[size_t(i)] = std::uint32_t(out.size() - at);
                t.arena[size_t(i)] = std::uint8_t(w);
                t.exactAscii[size_t(i)] = keys.asciiExact() && isAscii(texts[size_t(i)]) ? 1 : 0;
            }
        }
    });
    return t;
}

// A sort item: the first 16 key bytes as two big-endian numbers, so most comparisons are two
// integer comparisons.
struct Item {
    std::uint64_t p0;
    std::uint64_t p1;
    std::uint32_t index;
};

std::uint64_t bigEndian(const char* p, std::uint32_t n) {
    std::uint64_t v = 0;
    for (std::uint32_t i = 0; i < 8; ++i) {
        v = (v << 8) | (i < n ? std::uint8_t(p[i]) : 0u);
    }
    return v;
}

}  // namespace

Ranking rankTexts(const std::vector<QStringView>& texts, const Collation& collation, int threads) {
    Ranking out;
    const size_t n = texts.size();
    out.rank.assign(n, 0);
    if (n == 0) {
        return out;
    }
    threads = std::max(1, threads);
    const OrderKeys& keys = OrderKeys::of(collation);
    const KeyTable table = buildKeys(texts, keys, threads);

    std::vector<Item> items(n);
    for (size_t i = 0; i < n; ++i) {
        const KeyedText k = table.keyed(texts, i);
        // Texts without a key sort among the others by the collation alone; their prefix numbers
        // are not used.
        items[i] = Item{k.key ? bigEndian(k.key, k.keySize) : 0,
                        k.key && k.keySize > 8 ? bigEndian(k.key + 8, k.keySize - 8) : 0,
                        std::uint32_t(i)};
    }
    // Extra collators for the other threads: each thread asks only its own.
    std::vector<std::unique_ptr<Collation>> extra;
    auto collatorOf = [&](int w) -> const Collation& {
        return w == 0 ? collation : *extra[size_t(w - 1)];
    };
    auto compareItems = [&](const Item& a, const Item& b, const Collation& c) {
        const KeyedText ka = table.keyed(texts, a.index);
        const KeyedText kb = table.keyed(texts, b.index);
        if (ka.key && kb.key) {
            if (a.p0 != b.p0) {
                return a.p0 < b.p0 ? -1 : 1;
            }
            if (a.p1 != b.p1) {
                return a.p1 < b.p1 ? -1 : 1;
            }
        }
        return compareKeyed(ka, kb, c);
    };
    const int parts = n >= 50'000 ? threads : 1;
    for (int w = 1; w < parts; ++w) {
        extra.push_back(std::make_unique<Collation>(collation.locale()));
    }
    std::vector<size_t> bounds;
    for (int p = 0; p <= parts; ++p) {
        bounds.push_back(n * size_t(p) / size_t(parts));
    }
    parallelFor(parts, parts, [&](std::int64_t begin, std::int64_t end, int w) {
        const Collation& c = collatorOf(w);
        for (std::int64_t p = begin; p < end; ++p) {
            std::sort(items.begin() + std::ptrdiff_t(bounds[size_t(p)]),
                      items.begin() + std::ptrdiff_t(bounds[size_t(p) + 1]),
                      [&](const Item& a, const Item& b) { return compareItems(a, b, c) < 0; });
        }
    });
    for (int p = 1; p < parts; ++p) {
        std::inplace_merge(
            items.begin(), items.begin() + std::ptrdiff_t(bounds[size_t(p)]),
            items.begin() + std::ptrdiff_t(bounds[size_t(p) + 1]),
            [&](const Item& a, const Item& b) { return compareItems(a, b, collation) < 0; });
    }
    std::int32_t r = 0;
    out.rank[items[0].index] = 0;
    for (size_t j = 1; j < n; ++j) {
        if (compareItems(items[j - 1], items[j], collation) != 0) {
            ++r;
        }
        out.rank[items[j].index] = r;
    }
    out.classes = r + 1;
    return out;
}

Interning internTexts(const std::vector<QStringView>& texts, const Collation& collation,
                      int threads) {
    Interning out;
    const size_t n = texts.size();
    const OrderKeys& keys = OrderKeys::of(collation);
    if (!keys.usable() || !keys.asciiExact()) {
        return out;
    }
    struct HashItem {
        std::uint64_t hash;
        std::uint32_t index;
    };
    std::vector<HashItem> items(n);
    std::vector<std::uint8_t> failed(size_t(std::max(1, threads)), 0);
    parallelFor(std::int64_t(n), threads, [&](std::int64_t begin, std::int64_t end, int w) {
        std::string key;
        for (std::int64_t i = begin; i < end; ++i) {
            key.clear();
            const QStringView t = texts[size_t(i)];
            if (!isAscii(t) || !keys.append(t, key)) {
                failed[size_t(w)] = 1;
                return;
            }
            items[size_t(i)] = HashItem{hashBytes(key.data(), key.size()), std::uint32_t(i)};
        }
    });
    if (std::any_of(failed.begin(), failed.end(), [](std::uint8_t f) { return f != 0; })) {
        return out;
    }
    radixSort(items, [](const HashItem& h) { return h.hash; });
    out.id.assign(n, -1);
    std::string leaderKey;
    std::string key;
    // Within one hash value: usually one text, written alike; a different spelling or a true
    // collision is told apart by its key.
    std::vector<std::pair<std::string, std::int32_t>> seen;
    for (size_t a = 0; a < n;) {
        size_t b = a + 1;
        while (b < n && items[b].hash == items[a].hash) {
            ++b;
        }
        const QStringView leader = texts[items[a].index];
        const std::int32_t leaderId = out.count++;
        out.id[items[a].index] = leaderId;
        seen.clear();
        bool leaderKeyBuilt = false;
        for (size_t j = a + 1; j < b; ++j) {
            const QStringView t = texts[items[j].index];
            if (t == leader) {
                out.id[items[j].index] = leaderId;
                continue;
            }
            if (!leaderKeyBuilt) {
                leaderKey.clear();
                keys.append(leader, leaderKey);
                seen.emplace_back(leaderKey, leaderId);
                leaderKeyBuilt = true;
            }
            key.clear();
            keys.append(t, key);
            auto it = std::find_if(seen.begin(), seen.end(),
                                   [&](const auto& s) { return s.first == key; });
            if (it == seen.end()) {
                seen.emplace_back(key, out.count++);
                it = seen.end() - 1;
            }
            out.id[items[j].index] = it->second;
        }
        a = b;
    }
    out.ok = true;
    return out;
}

}  // namespace kelvara::engine_detail
