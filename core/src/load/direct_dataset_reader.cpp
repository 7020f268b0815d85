// The command object and the dataset value of the direct road: series read
// into growing arrays while the text is walked, trimmed once the whole text
// has been accepted.
#include "load/direct_dataset_reader.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <new>
#include <span>
#include <string_view>

#include "load/direct_cursor.h"
#include "load/direct_records.h"
#include "load/direct_series.h"

namespace ovra::load {

namespace {

constexpr std::array<std::string_view, 6> kSeriesNames{"candles", "trades", "book", "funding", "oi", "liquidations"};

// The series as they are read, each in its own growing Series (grown by
// remapping its pages, never by copying records).
class DatasetSeries {
public:
    explicit DatasetSeries(const SplitPolicy& policy) noexcept : policy_(policy) {}

    // Series i as the dataset's member of that name or its i-th element; a
    // series given again replaces the earlier one, as the later member wins.
    bool read_series_at(Cursor& c, std::size_t i) noexcept {
        NoContext none;
        switch (i) {
            case 0: candles_.clear(); return read_series(c, candles_, none, policy_);
            case 1: trades_.clear(); return read_series(c, trades_, none, policy_);
            case 2:
                book_.clear();
                levels_.clear();
                return read_series(c, book_, levels_, policy_);
            case 3: funding_.clear(); return read_series(c, funding_, none, policy_);
            case 4: oi_.clear(); return read_series(c, oi_, none, policy_);
            default: liquidations_.clear(); return read_series(c, liquidations_, none, policy_);
        }
    }

    void clear() noexcept {
        candles_.clear();
        trades_.clear();
        book_.clear();
        levels_.clear();
        funding_.clear();
        oi_.clear();
        liquidations_.clear();
    }

    // The records, trimmed to their size. Book events are rewritten in place
    // to view their runs of the level array, which no longer moves.
    Dataset finish() noexcept {
        Dataset out;
        out.levels = trimmed(levels_);
        out.candles = trimmed(candles_);
        out.trades = trimmed(trades_);
        out.funding = trimmed(funding_);
        out.oi = trimmed(oi_);
        out.liquidations = trimmed(liquidations_);
        out.book = trimmed(book_).reinterpret<BookEvent>();
        const BookLevel* levels = out.levels.data();
        for (BookEvent* slot = out.book.begin(); slot != out.book.end(); ++slot) {
            PendingBookEvent e;
            std::memcpy(&e, static_cast<const void*>(slot), sizeof e);
            ::new (static_cast<void*>(slot)) BookEvent{e.ts, e.kind,
                                                       std::span<const BookLevel>(levels + e.bids_begin, e.bids_size),
                                                       std::span<const BookLevel>(levels + e.asks_begin, e.asks_size)};
        }
        return out;
    }

private:
    template <class Record>
    static Series<Record> trimmed(Series<Record>& series) noexcept {
        series.shrink_to_fit();
        return std::move(series);
    }

    const SplitPolicy& policy_;
    Series<Candle> candles_;
    Series<Trade> trades_;
    Series<PendingBookEvent> book_;
    LevelArray levels_;
    Series<FundingEvent> funding_;
    Series<OiEvent> oi_;
    Series<LiquidationEvent> liquidations_;
};

bool read_dataset_object(Cursor& c, DatasetSeries& out) noexcept {
    if (!c.enter('{')) return false;
    if (c.take_close('}')) return true;
    for (bool more = true; more;) {
        std::string_view key;
        if (!c.key(key)) return false;
        std::size_t i = 0;
        while (i < kSeriesNames.size() && key != kSeriesNames[i]) ++i;
        const bool read = i < kSeriesNames.size() ? out.read_series_at(c, i) : c.skip_value();
        if (!read || !c.next('}', more)) return false;
    }
    return true;
}

// Series by position; a seventh element is refused.
bool read_dataset_array(Cursor& c, DatasetSeries& out) noexcept {
    if (!c.enter('[')) return false;
    if (c.take_close(']')) return true;
    std::size_t i = 0;
    for (bool more = true; more; ++i) {
        if (i == kSeriesNames.size() || !out.read_series_at(c, i) || !c.next(']', more)) return false;
    }
    return true;
}

bool read_dataset(Cursor& c, DatasetSeries& out) noexcept {
    const int lead = c.peek();
    if (lead == '{') return read_dataset_object(c, out);
    if (lead == '[') return read_dataset_array(c, out);
    return false;
}

// The command object: of repeated "cmd" and "dataset" members the last one
// counts, every other member is checked and skipped. A "dataset" that fails
// to convert is not looked at further, even if a later one might convert.
bool read_command(Cursor& c, DatasetSeries& out) noexcept {
    if (!c.enter('{') || c.take_close('}')) return false;
    bool is_load = false;
    bool has_dataset = false;
    for (bool more = true; more;) {
        std::string_view key;
        if (!c.key(key)) return false;
        if (key == "cmd") {
            std::string_view name;
            if (c.peek() == '"') {
                if (!c.string(name)) return false;
                is_load = name == "load";
            } else {
                if (!c.skip_value()) return false;
                is_load = false;
            }
        } else if (key == "dataset") {
            out.clear();
            if (!read_dataset(c, out)) return false;
            has_dataset = true;
        } else if (!c.skip_value()) {
            return false;
        }
        if (!c.next('}', more)) return false;
    }
    return is_load && has_dataset && c.at_end();
}

}  // namespace

std::optional<Dataset> read_load_command(std::string_view text, const SplitPolicy& policy) {
    Cursor cursor(text);
    DatasetSeries series(policy);
    if (!read_command(cursor, series)) return std::nullopt;
    return series.finish();
}

std::optional<Dataset> read_dataset_text(std::string_view text, const SplitPolicy& policy) {
    Cursor cursor(text);
    DatasetSeries series(policy);
    if (!read_dataset(cursor, series) || !cursor.at_end()) return std::nullopt;
    return series.finish();
}

}  // namespace ovra::load
