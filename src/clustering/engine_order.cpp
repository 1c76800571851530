#include "clustering/engine_order.h"

#include "clustering/engine_radix.h"

#include <QMutex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <atomic>
#include <chrono>
#include <random>

#include <algorithm>
#include <array>
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
    Bulk<char16_t> chars;
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
    // The folded spelling that stands for each ASCII class.
    auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    for (char16_t c = 0; c < 128; ++c) {
        if (class_[c] == 0) {
            continue;
        }
        char16_t first = c;
        for (char16_t d = 0; d < c; ++d) {
            if (class_[d] == class_[c]) {
                first = d;
                break;
            }
        }
        canon_[c] = std::uint8_t(fold(first));
    }
    foldSimple_ = true;
    for (char16_t c = 0x20; c < 0x7F; ++c) {
        foldSimple_ = foldSimple_ && canon_[c] == fold(c);
    }
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
    Bulk<char16_t> alphabet;
    Bulk<char16_t> byClass(256, 0);
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

int OrderKeys::fold(QStringView text, std::uint8_t* out, bool* ascii) const {
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    int len = 0;
    char16_t any = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c >= kTableSize) {
            return -1;
        }
        any |= c;
        const std::uint8_t k = class_[c];
        if (k == kUnknown) {
            return -1;
        }
        out[len] = k;
        len += k != 0 ? 1 : 0;
    }
    if (ascii) {
        *ascii = any < 128;
    }
    return len;
}

namespace {

std::uint64_t finish(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDULL;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ULL;
    x ^= x >> 33;
    return x;
}

}  // namespace

bool OrderKeys::fingerprintAscii(QStringView text, std::uint64_t seed, std::uint64_t* h1,
                                 std::uint64_t* h2) const {
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    // First the characters as one byte each (the class's spelling, ignorable ones left out),
    // then a hash of those bytes eight at a time.
    std::uint8_t local[256];
    std::string heap;
    std::uint8_t* buf = local;
    if (n > qsizetype(sizeof local) - 16) {
        heap.resize(size_t(n) + 16);
        buf = reinterpret_cast<std::uint8_t*>(heap.data());
    }
    qsizetype len = 0;
    qsizetype i = 0;
#if defined(__SSE2__)
    if (foldSimple_) {
        // Printable ASCII: the class is the character with A-Z folded; eight at a time.
        const __m128i lo = _mm_set1_epi16(0x20);
        const __m128i span = _mm_set1_epi16(0x5E);
        const __m128i upperA = _mm_set1_epi16(u'A');
        const __m128i letters = _mm_set1_epi16(25);
        const __m128i caseBit = _mm_set1_epi16(0x20);
        for (; i + 8 <= n; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i t = _mm_sub_epi16(v, lo);
            const __m128i bad =
                _mm_or_si128(_mm_cmplt_epi16(t, _mm_setzero_si128()), _mm_cmpgt_epi16(t, span));
            if (_mm_movemask_epi8(bad) != 0) {
                break;
            }
            const __m128i u = _mm_sub_epi16(v, upperA);
            const __m128i upper = _mm_andnot_si128(
                _mm_or_si128(_mm_cmplt_epi16(u, _mm_setzero_si128()), _mm_cmpgt_epi16(u, letters)),
                caseBit);
            const __m128i folded = _mm_packus_epi16(_mm_add_epi16(v, upper), _mm_setzero_si128());
            _mm_storel_epi64(reinterpret_cast<__m128i*>(buf + len), folded);
            len += 8;
        }
    }
#endif
    for (; i < n; ++i) {
        const char16_t c = p[i];
        if (c >= 128) {
            return false;
        }
        const std::uint8_t k = canon_[c];
        buf[len] = k;
        len += k != 0 ? 1 : 0;
    }
    std::memset(buf + len, 0, 8);
    // The empty text differs from a text of ignorable characters only.
    std::uint64_t a = seed ^ (n == 0 ? 0x51ED270B27F2D5B3ULL : 0x8C3F7A94E1D2B6C5ULL) ^
                      (std::uint64_t(len) << 40);
    std::uint64_t b = (~seed + std::uint64_t(len)) * 0x9E3779B97F4A7C15ULL;
    for (qsizetype j = 0; j < len; j += 8) {
        std::uint64_t w;
        std::memcpy(&w, buf + j, 8);
        a = (a ^ w) * 0x87C37B91114253D5ULL;
        a = (a << 31) | (a >> 33);
        b = (b ^ w) * 0x4CF5AD432745937FULL;
        b ^= b >> 29;
    }
    *h1 = finish(a);
    *h2 = finish(b ^ 0x2545F4914F6CDD1DULL);
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
    // One per worker; left unset when made (zeroing it first would be a long step that no stop
    // request interrupts), every byte that is read is written before.
    Bulk<std::unique_ptr<char[]>> arenas;
    Bulk<std::uint32_t> offset;  // into the worker's arena
    Bulk<std::uint32_t> size;
    Bulk<std::uint8_t> arena;  // which arena; 0xFF: no key
    Bulk<std::uint8_t> exactAscii;

    KeyedText keyed(std::span<const QStringView> texts, size_t i) const {
        KeyedText k;
        k.text = texts[i];
        if (arena[i] != 0xFF) {
            k.key = arenas[arena[i]].get() + offset[i];
            k.keySize = size[i];
            k.ascii = exactAscii[i] != 0;
        }
        return k;
    }
};

KeyTable buildKeys(std::span<const QStringView> texts, const OrderKeys& keys, int threads,
                   Monitor* monitor, int firstWorker) {
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
        size_t room = 0;
        for (std::int64_t i = begin; i < end; ++i) {
            room += size_t(texts[size_t(i)].size()) + 1;
        }
        t.arenas[size_t(w)] = std::make_unique_for_overwrite<char[]>(room);
        char* out = t.arenas[size_t(w)].get();
        size_t used = 0;
        for (std::int64_t i = begin; i < end; ++i) {
            if (monitor &&
                monitor->tickThrough<4096>(firstWorker + w, i - begin, end - begin, 0.5)) {
                return;
            }
            if (i + 16 < end) {
                __builtin_prefetch(texts[size_t(i + 16)].utf16());
            }
            const QStringView text = texts[size_t(i)];
            if (text.isEmpty()) {
                t.offset[size_t(i)] = std::uint32_t(used);
                t.size[size_t(i)] = 0;
                t.arena[size_t(i)] = std::uint8_t(w);
                t.exactAscii[size_t(i)] = keys.asciiExact() ? 1 : 0;
                continue;
            }
            out[used] = '\x01';
            bool ascii = false;
            const int len =
                keys.fold(text, reinterpret_cast<std::uint8_t*>(out + used + 1), &ascii);
            if (len < 0) {
                continue;
            }
            t.offset[size_t(i)] = std::uint32_t(used);
            t.size[size_t(i)] = std::uint32_t(1 + len);
            t.arena[size_t(i)] = std::uint8_t(w);
            t.exactAscii[size_t(i)] = keys.asciiExact() && ascii ? 1 : 0;
            used += size_t(1 + len);
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
    std::uint32_t size;  // of the key; kNoKey for none
};
constexpr std::uint32_t kNoKey = 0xFFFFFFFFu;

std::uint64_t bigEndian(const char* p, std::uint32_t n) {
    std::uint64_t v = 0;
    for (std::uint32_t i = 0; i < 8; ++i) {
        v = (v << 8) | (i < n ? std::uint8_t(p[i]) : 0u);
    }
    return v;
}

}  // namespace

Ranking rankTexts(std::span<const QStringView> texts, const Collation& collation, int threads,
                  Monitor* monitor, int firstWorker) {
    Ranking out;
    const size_t n = texts.size();
    out.rank.assign(n, 0);
    if (n == 0) {
        return out;
    }
    threads = std::max(1, threads);
    const OrderKeys& keys = OrderKeys::of(collation);
    const KeyTable table = buildKeys(texts, keys, threads, monitor, firstWorker);
    auto stopped = [&](double done) { return monitor && monitor->tick(firstWorker, done); };
    if (stopped(0.5)) {
        return out;
    }

    // Texts with keys: radix-sorted on their first 16 key bytes, then each run of equal
    // prefixes sorted in full. Texts without keys: sorted by the collation, then merged in.
    Bulk<Item> keyed;
    Bulk<Item> plain;
    keyed.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const KeyedText k = table.keyed(texts, i);
        if (k.key) {
            keyed.push_back(Item{bigEndian(k.key, k.keySize),
                                 k.keySize > 8 ? bigEndian(k.key + 8, k.keySize - 8) : 0,
                                 std::uint32_t(i), k.keySize});
        } else {
            plain.push_back(Item{0, 0, std::uint32_t(i), kNoKey});
        }
    }
    // Key bytes are never 0, so the zero padding of short keys orders them first.
    auto compareItems = [&](const Item& a, const Item& b) {
        if (a.size != kNoKey && b.size != kNoKey) {
            if (a.p0 != b.p0) {
                return a.p0 < b.p0 ? -1 : 1;
            }
            if (a.p1 != b.p1) {
                return a.p1 < b.p1 ? -1 : 1;
            }
            if (a.size <= 16 && b.size <= 16 && a.size != b.size) {
                return a.size < b.size ? -1 : 1;
            }
        }
        return compareKeyed(table.keyed(texts, a.index), table.keyed(texts, b.index), collation);
    };
    auto less = [&](const Item& a, const Item& b) { return compareItems(a, b) < 0; };
    radixSort(
        keyed, [](const Item& x) { return x.p1; }, 64, [&] { return stopped(0.5); });
    if (stopped(0.6)) {
        return out;
    }
    radixSort(
        keyed, [](const Item& x) { return x.p0; }, 64, [&] { return stopped(0.6); });
    if (stopped(0.7)) {
        return out;
    }
    for (size_t a = 0; a < keyed.size();) {
        if (pollDue<65536>(a) && stopped(0.7 + 0.1 * double(a) / double(keyed.size()))) {
            return out;
        }
        size_t b = a + 1;
        while (b < keyed.size() && keyed[b].p0 == keyed[a].p0 && keyed[b].p1 == keyed[a].p1) {
            ++b;
        }
        if (b - a > 1) {
            std::sort(keyed.begin() + std::ptrdiff_t(a), keyed.begin() + std::ptrdiff_t(b), less);
        }
        a = b;
    }
    Bulk<Item> items;
    if (plain.empty()) {
        items.swap(keyed);
    } else {
        std::sort(plain.begin(), plain.end(), less);
        items.resize(n);
        std::merge(keyed.begin(), keyed.end(), plain.begin(), plain.end(), items.begin(), less);
    }
    std::int32_t r = 0;
    out.rank[items[0].index] = 0;
    for (size_t j = 1; j < n; ++j) {
        if (pollDue<65536>(j) && stopped(0.8 + 0.2 * double(j) / double(n))) {
            return out;
        }
        if (compareItems(items[j - 1], items[j]) != 0) {
            ++r;
        }
        out.rank[items[j].index] = r;
    }
    out.classes = r + 1;
    return out;
}

Bulk<std::int32_t> rankBytes(const Bulk<char>& arena, const Bulk<std::uint32_t>& offset,
                             const Bulk<std::uint32_t>& size, Monitor* monitor) {
    auto stopped = [&](double done) { return monitor && monitor->tick(0, done); };
    const size_t n = offset.size();
    Bulk<std::int32_t> rank(n, 0);
    if (n == 0) {
        return rank;
    }
    Bulk<Item> items(n);
    for (size_t j = 0; j < n; ++j) {
        const char* k = arena.data() + offset[j];
        items[j] = Item{bigEndian(k, size[j]), size[j] > 8 ? bigEndian(k + 8, size[j] - 8) : 0,
                        std::uint32_t(j), size[j]};
    }
    auto compare = [&](const Item& a, const Item& b) {
        if (a.p0 != b.p0) {
            return a.p0 < b.p0 ? -1 : 1;
        }
        if (a.p1 != b.p1) {
            return a.p1 < b.p1 ? -1 : 1;
        }
        return compareBytes(arena.data() + offset[a.index], a.size, arena.data() + offset[b.index],
                            b.size);
    };
    radixSort(items, [](const Item& x) { return x.p1; });
    if (stopped(0.3)) {
        return rank;
    }
    radixSort(items, [](const Item& x) { return x.p0; });
    if (stopped(0.6)) {
        return rank;
    }
    for (size_t a = 0; a < n;) {
        if (pollDue<65536>(a) && stopped(0.6 + 0.3 * double(a) / double(n))) {
            return rank;
        }
        size_t b = a + 1;
        while (b < n && items[b].p0 == items[a].p0 && items[b].p1 == items[a].p1) {
            ++b;
        }
        if (b - a > 1) {
            std::sort(items.begin() + std::ptrdiff_t(a), items.begin() + std::ptrdiff_t(b),
                      [&](const Item& x, const Item& y) { return compare(x, y) < 0; });
        }
        a = b;
    }
    std::int32_t r = 0;
    for (size_t j = 0; j < n; ++j) {
        if (j > 0 && compare(items[j - 1], items[j]) != 0) {
            ++r;
        }
        rank[items[j].index] = r;
    }
    return rank;
}

std::uint64_t freshSeed() {
    static std::atomic<std::uint64_t> counter{0};
    std::random_device device;
    const std::uint64_t r = (std::uint64_t(device()) << 32) ^ device();
    return r ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL) ^
           std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::int32_t idsFromFingerprints(Bulk<Fingerprint>& items, Bulk<std::int32_t>& idOfIndex,
                                 Bulk<Fingerprint>* firstOfId, int threads, Monitor* monitor) {
    auto stopped = [&](int w, double done) { return monitor && monitor->tick(w, done); };
    // Split by the top byte of h1 into parts small enough for the cache, then give ids within
    // each part through a small hash table.
    constexpr int kParts = 256;
    static_assert(kParts == 1 << (64 - 56), "an item's part is the top byte of h1 (h1 >> 56)");
    const size_t n = items.size();
    threads = std::max(1, threads);
    Bulk<std::array<std::uint32_t, kParts>> counts(static_cast<size_t>(threads));
    const std::int64_t chunks = threads;
    auto chunkBegin = [&](std::int64_t c) { return size_t(std::int64_t(n) * c / chunks); };
    parallelParts(chunks, threads, [&](std::int64_t begin, std::int64_t end, int w) {
        for (std::int64_t c = begin; c < end; ++c) {
            auto& cnt = counts[size_t(c)];
            cnt.fill(0);
            for (size_t j = chunkBegin(c); j < chunkBegin(c + 1); ++j) {
                if (pollDue<65536>(j) &&
                    stopped(w, 0.2 * double(j - chunkBegin(c)) /
                                   double(chunkBegin(c + 1) - chunkBegin(c)))) {
                    return;
                }
                if (items[j].index != Fingerprint::kSkip) {
                    ++cnt[items[j].h1 >> 56];
                }
            }
        }
    });
    Bulk<size_t> partBegin(kParts + 1, 0);
    Bulk<std::array<size_t, kParts>> offsets(static_cast<size_t>(threads));
    size_t sum = 0;
    for (int part = 0; part < kParts; ++part) {
        partBegin[size_t(part)] = sum;
        for (int c = 0; c < threads; ++c) {
            offsets[size_t(c)][size_t(part)] = sum;
            sum += counts[size_t(c)][size_t(part)];
        }
    }
    partBegin[kParts] = sum;
    Bulk<Fingerprint> parted(n);
    // The scatter below writes to every part at once, so it would touch every page of `parted`
    // within its first few thousand items: the first touches of a few hundred megabytes (long on
    // some virtual machines) are made here instead, in pieces, with stop requests between them.
    {
        constexpr size_t kPiece = size_t(1) << 16;  // items
        const std::int64_t pieces = std::int64_t((n + kPiece - 1) / kPiece);
        parallelParts(pieces, threads, [&](std::int64_t begin, std::int64_t end, int w) {
            for (std::int64_t q = begin; q < end; ++q) {
                if (stopped(w, 0.2)) {
                    return;
                }
                const size_t from = size_t(q) * kPiece;
                const size_t to = std::min(n, from + kPiece);
                std::memset(static_cast<void*>(parted.data() + from), 0,
                            (to - from) * sizeof(Fingerprint));
            }
        });
    }
    if (stopped(0, 0.2)) {
        return 0;
    }
    parallelParts(chunks, threads, [&](std::int64_t begin, std::int64_t end, int w) {
        for (std::int64_t c = begin; c < end; ++c) {
            auto& off = offsets[size_t(c)];
            for (size_t j = chunkBegin(c); j < chunkBegin(c + 1); ++j) {
                if (pollDue<65536>(j) &&
                    stopped(w, 0.2 + 0.3 * double(j - chunkBegin(c)) /
                                         double(chunkBegin(c + 1) - chunkBegin(c)))) {
                    return;
                }
                if (items[j].index != Fingerprint::kSkip) {
                    parted[off[items[j].h1 >> 56]++] = items[j];
                }
            }
        }
    });
    // Ids within each part; `local` holds each item's id within its part for now.
    // Left unset when made: every item gets its id below, and zeroing this much memory first
    // would be a long step that no stop request can interrupt.
    struct LocalId {
        LocalId() {}
        std::int32_t v;
    };
    Bulk<LocalId> local(n);
    Bulk<std::int32_t> partIds(kParts + 1, 0);
    if (stopped(0, 0.5)) {
        return 0;
    }
    parallelParts(kParts, threads, [&](std::int64_t begin, std::int64_t end, int w) {
        struct Slot {
            std::uint64_t h1;
            std::uint64_t h2;
            std::int32_t id;
        };
        std::vector<Slot> table;
        for (std::int64_t part = begin; part < end; ++part) {
            if (stopped(w, 0.5 + 0.3 * double(part - begin) / double(end - begin))) {
                return;
            }
            const size_t b = partBegin[size_t(part)];
            const size_t e = partBegin[size_t(part) + 1];
            size_t size = 16;
            while (size < (e - b) * 2) {
                size *= 2;
            }
            table.assign(size, Slot{0, 0, -1});
            std::int32_t next = 0;
            for (size_t j = b; j < e; ++j) {
                const Fingerprint& f = parted[j];
                size_t at = size_t(f.h1) & (size - 1);
                while (table[at].id >= 0 && (table[at].h1 != f.h1 || table[at].h2 != f.h2)) {
                    at = (at + 1) & (size - 1);
                }
                if (table[at].id < 0) {
                    table[at] = Slot{f.h1, f.h2, next++};
                }
                local[j].v = table[at].id;
            }
            partIds[size_t(part) + 1] = next;
        }
    });
    for (int part = 0; part < kParts; ++part) {
        partIds[size_t(part) + 1] += partIds[size_t(part)];
    }
    const std::int32_t count = partIds[kParts];
    if (firstOfId) {
        firstOfId->resize(size_t(count));  // each part sets its own ids' entries below
    }
    if (stopped(0, 0.8)) {
        return 0;
    }
    parallelParts(kParts, threads, [&](std::int64_t begin, std::int64_t end, int w) {
        for (std::int64_t part = begin; part < end; ++part) {
            if (stopped(w, 0.8 + 0.2 * double(part - begin) / double(end - begin))) {
                return;
            }
            if (firstOfId) {
                std::fill(firstOfId->begin() + partIds[size_t(part)],
                          firstOfId->begin() + partIds[size_t(part) + 1],
                          Fingerprint{0, 0, 0xFFFFFFFFu, 0});
            }
            for (size_t j = partBegin[size_t(part)]; j < partBegin[size_t(part) + 1]; ++j) {
                const std::int32_t id = partIds[size_t(part)] + local[j].v;
                idOfIndex[parted[j].index] = id;
                if (firstOfId && parted[j].index < (*firstOfId)[size_t(id)].index) {
                    (*firstOfId)[size_t(id)] = parted[j];
                }
            }
        }
    });
    items.swap(parted);
    return count;
}

Interning internTexts(std::span<const QStringView> texts, const Collation& collation, int threads,
                      Monitor* monitor) {
    Interning out;
    const size_t n = texts.size();
    const OrderKeys& keys = OrderKeys::of(collation);
    if (!keys.usable() || !keys.asciiExact()) {
        return out;
    }
    Bulk<Fingerprint> items(n);
    std::atomic<bool> failed{false};
    const std::uint64_t seed = freshSeed();
    parallelFor(std::int64_t(n), threads, [&](std::int64_t begin, std::int64_t end, int) {
        for (std::int64_t i = begin; i < end && !failed.load(std::memory_order_relaxed); ++i) {
            Fingerprint& f = items[size_t(i)];
            f.index = std::uint32_t(i);
            if (!keys.fingerprintAscii(texts[size_t(i)], seed, &f.h1, &f.h2)) {
                failed = true;
            }
        }
    });
    if (failed) {
        return out;
    }
    out.id.assign(n, -1);
    out.count = idsFromFingerprints(items, out.id, nullptr, threads, monitor);
    out.ok = true;
    return out;
}

}  // namespace kelvara::engine_detail
