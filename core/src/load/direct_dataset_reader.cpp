// The command object and the dataset value of the direct road: series read
// into chunked sequences while the text is walked, then moved into exactly
// sized vectors once the whole text has been accepted.
#include "load/direct_dataset_reader.h"

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "load/direct_cursor.h"
#include "load/direct_records.h"
#include "load/record_chunks.h"

namespace ovra::load {

namespace {

constexpr std::array<std::string_view, 6> kSeriesNames{"candles", "trades", "book", "funding", "oi", "liquidations"};

class DatasetChunks {
public:
    // Series i as the dataset's member of that name or its i-th element; a
    // series given again replaces the earlier one, as the later member wins.
    bool read_series_at(Cursor& c, std::size_t i) noexcept {
        NoContext none;
        switch (i) {
            case 0: candles_.clear(); return read_series(c, candles_, none);
            case 1: trades_.clear(); return read_series(c, trades_, none);
            case 2:
                book_.clear();
                levels_.clear();
                return read_series(c, book_, levels_);
            case 3: funding_.clear(); return read_series(c, funding_, none);
            case 4: oi_.clear(); return read_series(c, oi_, none);
            default: liquidations_.clear(); return read_series(c, liquidations_, none);
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

    // The records in exactly sized vectors; book events view their runs of
    // the level array, which is filled (and never moved) before them.
    Dataset finish() {
        Dataset out;
        levels_.move_into(out.levels);
        const BookLevel* levels = out.levels.data();
        book_.move_into(out.book, [levels](const PendingBookEvent& e) {
            return BookEvent{e.ts, e.kind, std::span<const BookLevel>(levels + e.bids_begin, e.bids_size),
                             std::span<const BookLevel>(levels + e.asks_begin, e.asks_size)};
        });
        candles_.move_into(out.candles);
        trades_.move_into(out.trades);
        funding_.move_into(out.funding);
        oi_.move_into(out.oi);
        liquidations_.move_into(out.liquidations);
        return out;
    }

private:
    RecordChunks<Candle> candles_;
    RecordChunks<Trade> trades_;
    RecordChunks<PendingBookEvent> book_;
    LevelChunks levels_;
    RecordChunks<FundingEvent> funding_;
    RecordChunks<OiEvent> oi_;
    RecordChunks<LiquidationEvent> liquidations_;
};

bool read_dataset_object(Cursor& c, DatasetChunks& out) noexcept {
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
bool read_dataset_array(Cursor& c, DatasetChunks& out) noexcept {
    if (!c.enter('[')) return false;
    if (c.take_close(']')) return true;
    std::size_t i = 0;
    for (bool more = true; more; ++i) {
        if (i == kSeriesNames.size() || !out.read_series_at(c, i) || !c.next(']', more)) return false;
    }
    return true;
}

bool read_dataset(Cursor& c, DatasetChunks& out) noexcept {
    const int lead = c.peek();
    if (lead == '{') return read_dataset_object(c, out);
    if (lead == '[') return read_dataset_array(c, out);
    return false;
}

// The command object: of repeated "cmd" and "dataset" members the last one
// counts, every other member is checked and skipped. A "dataset" that fails
// to convert is not looked at further, even if a later one might convert.
bool read_command(Cursor& c, DatasetChunks& out) noexcept {
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

std::optional<Dataset> read_load_command(std::string_view text) {
    Cursor cursor(text);
    DatasetChunks chunks;
    if (!read_command(cursor, chunks)) return std::nullopt;
    return chunks.finish();
}

std::optional<Dataset> read_dataset_text(std::string_view text) {
    Cursor cursor(text);
    DatasetChunks chunks;
    if (!read_dataset(cursor, chunks) || !cursor.at_end()) return std::nullopt;
    return chunks.finish();
}

}  // namespace ovra::load
