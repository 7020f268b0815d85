// Stamped book sides: tick pages while replaying, flat runs when kept.
#include "frame/heatmap/stamped_side.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "panels/key_search.h"
#include "numeric.h"

namespace ovra {

std::uint32_t FrozenSide::oldest_stamp() const noexcept {
    std::uint32_t oldest = std::numeric_limits<std::uint32_t>::max();
    for (const std::uint32_t s : stamps()) oldest = std::min(oldest, s);
    return oldest;
}

bool FrozenSide::holds_from(std::uint32_t from) const noexcept {
    const std::span<const std::uint32_t> stamp = stamps();
    return std::any_of(stamp.rbegin(), stamp.rend(), [from](std::uint32_t s) { return s >= from; });
}

std::int64_t FrozenSide::best_key_from(std::uint32_t from) const noexcept {
    const std::uint32_t* stamp = stamp_data();
    std::size_t i = size_;
    while (i > 0 && stamp[i - 1] < from) --i;
    return stored_data()[i - 1] ^ flip_;
}

SideView FrozenSide::view_from(std::uint32_t from, std::vector<std::int64_t>& stored,
                               std::vector<double>& qty) const {
    stored.clear();
    qty.clear();
    const std::int64_t* own_stored = stored_data();
    const double* own_qty = qty_data();
    const std::uint32_t* stamp = stamp_data();
    for (std::size_t i = 0; i < size_; ++i) {
        if (stamp[i] < from) continue;
        stored.push_back(own_stored[i]);
        qty.push_back(own_qty[i]);
    }
    return {stored, qty, flip_};
}

std::size_t FrozenSide::memory_bytes() const noexcept {
    return sizeof(FrozenSide) + size_ * kEntryBytes;
}

void FrozenSide::allocate(std::size_t n) {
    block_.reset();
    size_ = 0;
    if (n == 0) return;
    block_.reset(new std::byte[n * kEntryBytes]);
    size_ = n;
}

bool StampedSide::tick_of(double price, std::int64_t& tick) const noexcept {
    std::int64_t t;
    if (!nearest_tick(price, t) || !on_grid(price, t)) return false;
    tick = t;
    return true;
}

bool StampedSide::within_reach(std::int64_t number) const noexcept {
    if (pages_.empty()) return true;
    const std::int64_t last = first_page_ + static_cast<std::int64_t>(pages_.size()) - 1;
    return std::max(last, number) - std::min(first_page_, number) < kMaxPages;
}

StampedSide::Page* StampedSide::page_for(std::int64_t number, bool make) {
    const std::int64_t at = number - first_page_;
    if (!pages_.empty() && at >= 0 && at < static_cast<std::int64_t>(pages_.size())) {
        Page* page = pages_[static_cast<std::size_t>(at)].get();
        if (page || !make) return page;
        auto fresh = std::make_unique<Page>();
        fresh->count = 0;
        std::memset(fresh->held, 0, sizeof(fresh->held));
        page = fresh.get();
        pages_[static_cast<std::size_t>(at)] = std::move(fresh);
        return page;
    }
    if (!make) return nullptr;
    if (pages_.empty()) {
        first_page_ = number;
        pages_.resize(1);
    } else if (at < 0) {
        std::vector<std::unique_ptr<Page>> wider(pages_.size() + static_cast<std::size_t>(-at));
        std::move(pages_.begin(), pages_.end(), wider.begin() + static_cast<std::ptrdiff_t>(-at));
        pages_ = std::move(wider);
        first_page_ = number;
    } else {
        pages_.resize(static_cast<std::size_t>(at) + 1);
    }
    return page_for(number, true);
}

void StampedSide::apply_placed(double price, double qty, std::uint32_t writer) {
    std::int64_t tick;
    if (!tick_of(price, tick)) {
        fallback_.apply(total_order_key(price) ^ flip_, qty, writer);
        return;
    }
    const std::int64_t number = tick >> kPageBits;
    const bool removes = qty == 0.0;
    const std::int64_t at = number - first_page_;
    Page* page = !pages_.empty() && at >= 0 && at < static_cast<std::int64_t>(pages_.size())
                     ? pages_[static_cast<std::size_t>(at)].get()
                     : nullptr;
    if (!page) {
        if (!within_reach(number)) {
            fallback_.apply(total_order_key(price) ^ flip_, qty, writer);
            return;
        }
        if (removes) return;  // a paged price that is not held
        page = page_for(number, true);
    }
    const auto slot = static_cast<std::size_t>(tick & (kPageTicks - 1));
    std::uint64_t& word = page->held[slot >> 6];
    const std::uint64_t bit = std::uint64_t{1} << (slot & 63);
    if (removes) {
        if (word & bit) {
            word &= ~bit;
            --page->count;
            --size_;
        }
        return;
    }
    if (!(word & bit)) {
        word |= bit;
        page->stored[slot] = total_order_key(price) ^ flip_;
        ++page->count;
        ++size_;
    }
    page->qty[slot] = qty;
    page->stamp[slot] = writer;
}

void StampedSide::clear() noexcept {
    for (auto& page : pages_) {
        if (!page || page->count == 0) continue;
        std::memset(page->held, 0, sizeof(page->held));
        page->count = 0;
    }
    // The span stays (it only grows until the side is dropped), so a price
    // keeps its place; the pages are reused.
    size_ = 0;
    fallback_.clear();
}

// Applying the levels in order: for each price the last listed level
// decides, a zero leaving the price out.
void StampedSide::load(std::span<const BookLevel> levels, std::uint32_t writer) {
    clear();
    for (const BookLevel& level : levels) apply(level.price, level.qty, writer);
}

// The paged entries in ascending stored order: ascending ticks for bids,
// descending for asks (whose stored keys are inverted).
void StampedSide::write_paged(std::int64_t* stored, double* qty, std::uint32_t* stamp) const {
    constexpr std::size_t kWords = kPageTicks / 64;
    std::size_t at = 0;
    const std::size_t n = pages_.size();
    for (std::size_t p = 0; p < n; ++p) {
        const Page* page = pages_[flip_ ? n - 1 - p : p].get();
        if (!page || page->count == 0) continue;
        for (std::size_t w = 0; w < kWords; ++w) {
            const std::size_t word_index = flip_ ? kWords - 1 - w : w;
            std::uint64_t bits = page->held[word_index];
            while (bits) {
                const int b = flip_ ? 63 - std::countl_zero(bits) : std::countr_zero(bits);
                bits &= ~(std::uint64_t{1} << b);
                const std::size_t slot = word_index * 64 + static_cast<std::size_t>(b);
                stored[at] = page->stored[slot];
                qty[at] = page->qty[slot];
                stamp[at] = page->stamp[slot];
                ++at;
            }
        }
    }
}

FrozenSide StampedSide::freeze() const {
    FrozenSide frozen(flip_ == 0 ? SideBest::Highest : SideBest::Lowest);
    if (fallback_.size() == 0) {
        frozen.allocate(size_);
        write_paged(frozen.stored_data(), frozen.qty_data(), frozen.stamp_data());
        // Paged prices are ticks: finite, and above zero when the tick is.
        const std::span<const std::int64_t> stored = frozen.stored();
        frozen.plain_ = stored.empty() || (total_order_value(stored.front() ^ flip_) > 0.0 &&
                                           total_order_value(stored.back() ^ flip_) > 0.0);
        return frozen;
    }
    std::vector<std::int64_t> paged_stored(size_), odd_stored;
    std::vector<double> paged_qty(size_), odd_qty;
    std::vector<std::uint32_t> paged_stamp(size_), odd_stamp;
    write_paged(paged_stored.data(), paged_qty.data(), paged_stamp.data());
    fallback_.append_to(odd_stored, odd_qty, odd_stamp);
    // Merged by stored key; a price is in one part only.
    frozen.allocate(size_ + odd_stored.size());
    std::int64_t* stored = frozen.stored_data();
    double* qty = frozen.qty_data();
    std::uint32_t* stamp = frozen.stamp_data();
    std::size_t a = 0, b = 0;
    for (std::size_t at = 0; at < frozen.size(); ++at) {
        const bool from_paged = b == odd_stored.size() || (a < size_ && paged_stored[a] < odd_stored[b]);
        const std::size_t i = from_paged ? a++ : b++;
        stored[at] = from_paged ? paged_stored[i] : odd_stored[i];
        qty[at] = from_paged ? paged_qty[i] : odd_qty[i];
        stamp[at] = from_paged ? paged_stamp[i] : odd_stamp[i];
    }
    frozen.plain_ = std::all_of(stored, stored + frozen.size(), [&](std::int64_t s) {
        const double price = total_order_value(s ^ flip_);
        return price > 0.0 && price < std::numeric_limits<double>::infinity();
    });
    return frozen;
}

void StampedSide::thaw(const FrozenSide& frozen) {
    clear();
    for (std::size_t i = 0; i < frozen.size(); ++i) {
        apply(total_order_value(frozen.stored_data()[i] ^ flip_), frozen.qty_data()[i], frozen.stamp_data()[i]);
    }
}

std::size_t StampedSide::memory_bytes() const noexcept {
    std::size_t bytes = pages_.capacity() * sizeof(std::unique_ptr<Page>) + fallback_.memory_bytes();
    for (const auto& page : pages_) {
        if (page) bytes += sizeof(Page);
    }
    return bytes;
}

double choose_ticks_per_unit(std::span<const BookEvent> events) noexcept {
    constexpr std::size_t kSample = 4096;
    double scale = 1.0;
    for (int digits = 0; digits <= 8; ++digits, scale *= 10.0) {
        std::size_t seen = 0;
        bool holds = true;
        for (std::size_t e = 0; e < events.size() && seen < kSample && holds; ++e) {
            for (const auto* side : {&events[e].bids, &events[e].asks}) {
                for (const BookLevel& level : *side) {
                    const double price = level.price;
                    if (!(std::fabs(price) < 1e12) || price == 0.0) continue;  // odd prices go to the fallback anyway
                    const double t = std::nearbyint(price * scale);
                    if (t / scale != price) holds = false;
                    if (++seen >= kSample || !holds) break;
                }
                if (!holds || seen >= kSample) break;
            }
        }
        if (holds) return scale;
    }
    return 100.0;
}

void StampedBook::apply(const BookEvent& event, std::uint32_t index) {
    bids.apply_event(event.kind, event.bids, index);
    asks.apply_event(event.kind, event.asks, index);
}

std::uint32_t FrozenBook::oldest_stamp() const noexcept {
    return std::min(bids.oldest_stamp(), asks.oldest_stamp());
}

FrozenBook freeze(const StampedBook& book) { return {book.bids.freeze(), book.asks.freeze()}; }

void thaw(StampedBook& book, const FrozenBook& frozen) {
    book.bids.thaw(frozen.bids);
    book.asks.thaw(frozen.asks);
}

}  // namespace ovra
