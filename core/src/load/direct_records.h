// The six dataset records read straight from the text by the direct road:
// the array form (exactly the fields, in declaration order) and the object
// form (fields by key, the later of a repeated key winning, unknown keys
// skipped, every field required), enumerations as a word or as {"word": null}.
// Anything else is refused, and the text goes to the tree road.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dataset.h"
#include "load/direct_cursor.h"
#include "series.h"

namespace ovra::load {

// A book event while its levels are still being gathered: where its runs
// start in the level sequence and how long they are.
struct PendingBookEvent {
    std::int64_t ts;
    BookEventKind kind;
    std::size_t bids_begin;
    std::size_t bids_size;
    std::size_t asks_begin;
    std::size_t asks_size;
};

// The level array of the book events read so far.
using LevelArray = Series<BookLevel>;

namespace detail {

// The two words of an enumeration: 0 or 1 for the first or second.
inline bool match_word(std::string_view word, std::string_view first, std::string_view second, int& out) noexcept {
    if (word == first) {
        out = 0;
        return true;
    }
    if (word == second) {
        out = 1;
        return true;
    }
    return false;
}

[[gnu::always_inline]] inline bool read_word(Cursor& c, std::string_view first, std::string_view second, int& out) noexcept {
    std::string_view word;
    const int lead = c.peek();
    if (lead == '"') return c.string(word) && match_word(word, first, second, out);
    // {"word": null}; a second member is left to the tree road.
    bool more = false;
    return lead == '{' && c.enter('{') && c.key(word) && match_word(word, first, second, out) && c.null() &&
           c.next('}', more) && !more;
}

inline bool read_field(Cursor& c, TradeSide& out) noexcept {
    int word = 0;
    if (!read_word(c, "buy", "sell", word)) return false;
    out = word == 0 ? TradeSide::Buy : TradeSide::Sell;
    return true;
}
inline bool read_field(Cursor& c, BookEventKind& out) noexcept {
    int word = 0;
    if (!read_word(c, "snapshot", "diff", word)) return false;
    out = word == 0 ? BookEventKind::Snapshot : BookEventKind::Diff;
    return true;
}
inline bool read_field(Cursor& c, LiquidationSide& out) noexcept {
    int word = 0;
    if (!read_word(c, "long", "short", word)) return false;
    out = word == 0 ? LiquidationSide::Long : LiquidationSide::Short;
    return true;
}

// [price, qty] pairs appended to the level sequence; `begin` and `size`
// locate the run.
inline bool read_levels(Cursor& c, LevelArray& levels, std::size_t& begin, std::size_t& size) noexcept {
    if (!c.enter('[')) return false;
    begin = levels.size();
    if (!c.take_close(']')) {
        for (bool more = true; more;) {
            BookLevel* level = levels.append();
            if (level == nullptr) return false;
            if (!c.compact_pair(level->price, level->qty)) {
                bool inner = false;
                if (!c.enter('[') || !c.f64(level->price) || !c.take(',') || !c.f64(level->qty) ||
                    !c.next(']', inner) || inner) {
                    return false;
                }
            }
            if (!c.next(']', more)) return false;
        }
    }
    size = levels.size() - begin;
    return true;
}

}  // namespace detail

// Per record: field names in declaration order and the reader of field i.
// `Context` is what a field needs besides the cursor (the level sequence
// for a book event). A field read twice in one object is read again, except
// a level list, whose first run would stay behind in the level sequence.
struct NoContext {};

template <class Record>
struct DirectShape;

template <>
struct DirectShape<Candle> {
    using Context = NoContext;
    static constexpr std::array<std::string_view, 6> fields{"ts", "open", "high", "low", "close", "volume"};
    static bool read(Cursor& c, std::size_t i, Candle& r, Context&) noexcept {
        switch (i) {
            case 0: return c.i64(r.ts);
            case 1: return c.f64(r.open);
            case 2: return c.f64(r.high);
            case 3: return c.f64(r.low);
            case 4: return c.f64(r.close);
            default: return c.f64(r.volume);
        }
    }
};

template <>
struct DirectShape<Trade> {
    using Context = NoContext;
    static constexpr std::array<std::string_view, 4> fields{"ts", "price", "qty", "side"};
    static bool read(Cursor& c, std::size_t i, Trade& r, Context&) noexcept {
        switch (i) {
            case 0: return c.i64(r.ts);
            case 1: return c.f64(r.price);
            case 2: return c.f64(r.qty);
            default: return detail::read_field(c, r.side);
        }
    }
};

template <>
struct DirectShape<PendingBookEvent> {
    using Context = LevelArray;
    static constexpr std::array<std::string_view, 4> fields{"ts", "kind", "bids", "asks"};
    static bool read(Cursor& c, std::size_t i, PendingBookEvent& r, Context& levels) noexcept {
        switch (i) {
            case 0: return c.i64(r.ts);
            case 1: return detail::read_field(c, r.kind);
            case 2: return detail::read_levels(c, levels, r.bids_begin, r.bids_size);
            default: return detail::read_levels(c, levels, r.asks_begin, r.asks_size);
        }
    }
    static constexpr std::uint32_t kReadOnce = 0b1100;  // bids, asks
};

template <>
struct DirectShape<FundingEvent> {
    using Context = NoContext;
    static constexpr std::array<std::string_view, 2> fields{"ts", "rate"};
    static bool read(Cursor& c, std::size_t i, FundingEvent& r, Context&) noexcept {
        return i == 0 ? c.i64(r.ts) : c.f64(r.rate);
    }
};

template <>
struct DirectShape<OiEvent> {
    using Context = NoContext;
    static constexpr std::array<std::string_view, 2> fields{"ts", "oi"};
    static bool read(Cursor& c, std::size_t i, OiEvent& r, Context&) noexcept {
        return i == 0 ? c.i64(r.ts) : c.f64(r.oi);
    }
};

template <>
struct DirectShape<LiquidationEvent> {
    using Context = NoContext;
    static constexpr std::array<std::string_view, 4> fields{"ts", "price", "qty", "side"};
    static bool read(Cursor& c, std::size_t i, LiquidationEvent& r, Context&) noexcept {
        switch (i) {
            case 0: return c.i64(r.ts);
            case 1: return c.f64(r.price);
            case 2: return c.f64(r.qty);
            default: return detail::read_field(c, r.side);
        }
    }
};

template <class Record>
constexpr std::uint32_t read_once_fields() noexcept {
    if constexpr (requires { DirectShape<Record>::kReadOnce; }) {
        return DirectShape<Record>::kReadOnce;
    } else {
        return 0;
    }
}

// Exactly the fields, in order: a shorter or longer array is refused.
template <class Record>
bool read_array_record(Cursor& c, Record& r, typename DirectShape<Record>::Context& context) noexcept {
    using Shape = DirectShape<Record>;
    if (!c.enter('[')) return false;
    for (std::size_t i = 0; i < Shape::fields.size(); ++i) {
        if (i != 0 && !c.take(',')) return false;
        if (!Shape::read(c, i, r, context)) return false;
    }
    bool more = false;
    return c.next(']', more) && !more;
}

template <class Record>
bool read_object_record(Cursor& c, Record& r, typename DirectShape<Record>::Context& context) noexcept {
    using Shape = DirectShape<Record>;
    constexpr std::uint32_t all = (std::uint32_t{1} << Shape::fields.size()) - 1;
    if (!c.enter('{') || c.take_close('}')) return false;  // an empty object misses every field
    std::uint32_t seen = 0;
    for (bool more = true; more;) {
        std::string_view key;
        if (!c.key(key)) return false;
        std::size_t i = 0;
        while (i < Shape::fields.size() && key != Shape::fields[i]) ++i;
        if (i == Shape::fields.size()) {
            if (!c.skip_value()) return false;
        } else {
            const std::uint32_t bit = std::uint32_t{1} << i;
            if ((seen & bit & read_once_fields<Record>()) != 0) return false;
            if (!Shape::read(c, i, r, context)) return false;
            seen |= bit;
        }
        if (!c.next('}', more)) return false;
    }
    return seen == all;
}

// One element of a series array: a record in array or object form.
template <class Record>
[[gnu::always_inline]] inline bool read_record(Cursor& c, Record& r, typename DirectShape<Record>::Context& context) noexcept {
    const int lead = c.peek();
    return lead == '[' ? read_array_record(c, r, context) : lead == '{' ? read_object_record(c, r, context) : false;
}

// Appends the records that a second reader took from a later part of the
// same array (`tail`, emptied); false when there is no memory for them.
template <class Record>
bool append_records(Series<Record>& out, NoContext&, Series<Record>& tail, NoContext&) noexcept {
    return out.append_moved(tail);
}

// Book events also bring their levels: the tail's runs were counted from
// its own level array, and move by where that array lands in ours.
inline bool append_records(Series<PendingBookEvent>& out, LevelArray& levels, Series<PendingBookEvent>& tail,
                           LevelArray& tail_levels) noexcept {
    std::size_t base = 0;
    if (!levels.append_pages(tail_levels, base)) return false;
    for (PendingBookEvent& e : tail) {
        e.bids_begin += base;
        e.asks_begin += base;
    }
    return out.append_moved(tail);
}

}  // namespace ovra::load
