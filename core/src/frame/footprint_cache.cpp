// Footprints from labelled trades, kept sums and checkpoints.
#include "frame/footprint_cache.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "frame.h"
#include "frame_writer.h"
#include "numeric.h"

namespace ovra {

namespace {

constexpr std::size_t kLabelBlock = 4096;
// First spacing of checkpoints, in trades: about 1/128 of the series, from
// 16 to 8192 trades; doubled as memory runs short.
std::size_t first_spacing(std::size_t trades) noexcept {
    return std::clamp<std::size_t>(std::bit_floor(trades / 128 + 1), 16, 8192);
}
// Starts whose checkpoints are kept (a fixed start, and a few recent ones).
constexpr std::size_t kMaxRuns = 4;

}  // namespace

FootprintCache::FootprintCache(std::span<const Trade> trades, double price_bin)
    : trades_(trades), price_bin_(price_bin), spacing_(first_spacing(trades.size())) {}

std::uint32_t FootprintCache::bin_of_edge(double edge) {
    const std::int64_t key = total_order_key(edge);
    auto [it, inserted] = bin_of_key_.try_emplace(key, static_cast<std::uint32_t>(edges_.size()));
    if (inserted) {
        edges_.push_back(edge);
        keys_.push_back(key);
    }
    return it->second;
}

// Consecutive trades usually share a bin, and mostly a price range already
// seen in it. For finite prices the edge is a non-decreasing function of the
// price in the total order (every step, from the division by the positive
// bin height to the final division, is monotone and keeps the sign of a
// zero), so the prices of one edge form an interval of that order: a price
// between the lowest and the highest price already found in the current
// run's bin is in that bin, with no arithmetic. Other prices are binned.
void FootprintCache::label_block(std::size_t begin, std::size_t end) {
    constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t bin = kNone;
    std::int64_t edge_key = 0;
    std::int64_t lowest = std::numeric_limits<std::int64_t>::max();  // price keys of the run's finite prices
    std::int64_t highest = std::numeric_limits<std::int64_t>::min();
    for (std::size_t i = begin; i < end; ++i) {
        const double price = trades_[i].price;
        const std::int64_t price_key = total_order_key(price);
        if (lowest <= price_key && price_key <= highest) {
            bin_of_trade_[i] = bin;
            continue;
        }
        const double edge = bin_edge(price, price_bin_);
        const std::int64_t key = total_order_key(edge);
        if (bin == kNone || key != edge_key) {
            bin = bin_of_edge(edge);
            edge_key = key;
            lowest = std::numeric_limits<std::int64_t>::max();
            highest = std::numeric_limits<std::int64_t>::min();
        }
        if (std::isfinite(price)) {
            lowest = std::min(lowest, price_key);
            highest = std::max(highest, price_key);
        }
        bin_of_trade_[i] = bin;
    }
}

void FootprintCache::label(std::size_t first, std::size_t last) {
    if (first >= last) return;
    if (bin_of_trade_.empty()) {
        bin_of_trade_.resize(trades_.size());
        block_labelled_.assign((trades_.size() + kLabelBlock - 1) / kLabelBlock, 0);
    }
    for (std::size_t block = first / kLabelBlock; block * kLabelBlock < last; ++block) {
        if (block_labelled_[block]) continue;
        label_block(block * kLabelBlock, std::min(trades_.size(), (block + 1) * kLabelBlock));
        block_labelled_[block] = 1;
    }
    // Every bin may be touched from here on without growing anything.
    sums_.resize(edges_.size());
    seen_.resize(edges_.size());
    touched_.reserve(edges_.size());
}

void FootprintCache::clear_sums() noexcept {
    for (std::uint32_t bin : touched_) {
        sums_[bin] = Sums{};
        seen_[bin] = 0;
    }
    touched_.clear();
    have_text_ = false;
}

void FootprintCache::restore(const Checkpoint& point) {
    clear_sums();
    for (const SavedBin& saved : point.bins) {
        sums_[saved.bin] = saved.sums;
        seen_[saved.bin] = 1;
        touched_.push_back(saved.bin);
    }
    last_ = point.position;
}

// Adds the trades [from, to) in order; their bins are labelled and room for
// every bin is made, so nothing allocates here.
void FootprintCache::add(std::size_t from, std::size_t to) noexcept {
    for (std::size_t i = from; i < to; ++i) {
        const Trade& trade = trades_[i];
        const std::uint32_t bin = bin_of_trade_[i];
        if (!seen_[bin]) {
            seen_[bin] = 1;
            touched_.push_back(bin);
        }
        sums_[bin].by_side[trade.side == TradeSide::Buy ? 0 : 1] += trade.qty;
    }
}

FootprintCache::CheckpointRun& FootprintCache::run_for(std::size_t start) {
    ++clock_;
    for (CheckpointRun& run : runs_) {
        if (run.start == start) {
            run.last_used = clock_;
            return run;
        }
    }
    if (runs_.size() >= kMaxRuns) {
        auto oldest = std::min_element(runs_.begin(), runs_.end(),
                                       [](const CheckpointRun& a, const CheckpointRun& b) { return a.last_used < b.last_used; });
        runs_.erase(oldest);
    }
    runs_.push_back(CheckpointRun{start, clock_, {}});
    return runs_.back();
}

// Extends the kept sums (of `start`) to `to`, saving a checkpoint at each
// multiple of the spacing passed on the way. A checkpoint is worth its copy
// only when at least as many trades as it holds bins lie since the one before.
// Trades are labelled a stretch at a time just before they are added, so
// that the adding reads them while they are still in the cache.
void FootprintCache::advance(std::size_t start, std::size_t to) {
    while (last_ < to) {
        const std::size_t next = (last_ / spacing_ + 1) * spacing_;
        if (next > to) break;
        label(last_, next);
        add(last_, next);
        last_ = next;
        save_checkpoint(start, next);
    }
    label(last_, to);
    add(last_, to);
    last_ = to;
}

void FootprintCache::save_checkpoint(std::size_t start, std::size_t position) {
    const std::size_t cost = touched_.size() * sizeof(SavedBin) + sizeof(Checkpoint);
    if (checkpoint_bytes_ + cost > checkpoint_limit_) {
        // Sparser checkpoints from here on; this one only if it still fits.
        // The run of `start` is the latest used, so thinning keeps it.
        thin_out();
        if (position % spacing_ != 0 || checkpoint_bytes_ + cost > checkpoint_limit_) return;
    }
    CheckpointRun& run = run_for(start);
    auto at = std::lower_bound(run.points.begin(), run.points.end(), position,
                               [](const Checkpoint& c, std::size_t p) { return c.position < p; });
    if (at != run.points.end() && at->position == position) return;
    const std::size_t since = at == run.points.begin() ? position - start : position - std::prev(at)->position;
    if (since < touched_.size()) return;
    Checkpoint point{position, {}};
    point.bins.reserve(touched_.size());
    for (std::uint32_t bin : touched_) point.bins.push_back(SavedBin{bin, sums_[bin]});
    run.points.insert(at, std::move(point));
    checkpoint_bytes_ += cost;
}

void FootprintCache::write_panel(std::string& out) const {
    PanelData::Footprint panel;
    panel.price_bins.reserve(touched_.size());
    panel.buy_vol.reserve(touched_.size());
    panel.sell_vol.reserve(touched_.size());
    for (std::uint32_t bin : touched_) {
        panel.price_bins.push_back(round8(edges_[bin]));
        panel.buy_vol.push_back(round8(sums_[bin].buy()));
        panel.sell_vol.push_back(round8(sums_[bin].sell()));
    }
    append_panel_json(out, PanelData{std::move(panel)});
}

void FootprintCache::append_panel(std::size_t first, std::size_t last, std::string& out) {
    if (have_sums_ && first_ == first && last_ == last && have_text_) {
        out += text_;
        return;
    }
    CheckpointRun& run = run_for(first);

    // Resume from whatever lies closest before `last` on this start: the
    // kept sums, a checkpoint, or nothing.
    const bool resume_kept = have_sums_ && first_ == first && last_ <= last;
    const std::size_t kept_cost = resume_kept ? last - last_ : last - first;
    auto after = std::upper_bound(run.points.begin(), run.points.end(), last,
                                  [](std::size_t p, const Checkpoint& c) { return p < c.position; });
    if (after != run.points.begin() && last - std::prev(after)->position + std::prev(after)->bins.size() < kept_cost) {
        restore(*std::prev(after));
    } else if (!resume_kept) {
        clear_sums();
        last_ = first;
    }
    first_ = first;
    have_sums_ = true;
    have_text_ = false;
    advance(first, last);

    std::sort(touched_.begin(), touched_.end(), [&](std::uint32_t a, std::uint32_t b) { return keys_[a] < keys_[b]; });
    text_.clear();
    write_panel(text_);
    have_text_ = true;
    out += text_;
}

std::size_t FootprintCache::memory_bytes() const noexcept {
    std::size_t bytes = bin_of_trade_.capacity() * sizeof(std::uint32_t) + block_labelled_.capacity() +
                        edges_.capacity() * sizeof(double) + keys_.capacity() * sizeof(std::int64_t) +
                        sums_.capacity() * sizeof(Sums) + seen_.capacity() + touched_.capacity() * sizeof(std::uint32_t) +
                        text_.capacity();
    // A hash node holds the pair and a link; the table a bucket pointer each.
    bytes += bin_of_key_.size() * (sizeof(std::pair<const std::int64_t, std::uint32_t>) + 2 * sizeof(void*)) +
             bin_of_key_.bucket_count() * sizeof(void*);
    return bytes + runs_.capacity() * sizeof(CheckpointRun) + checkpoint_bytes_;
}

std::size_t FootprintCache::count_checkpoint_bytes() const noexcept {
    std::size_t bytes = 0;
    for (const CheckpointRun& run : runs_) {
        for (const Checkpoint& point : run.points) bytes += point.bins.capacity() * sizeof(SavedBin) + sizeof(Checkpoint);
    }
    return bytes;
}

bool FootprintCache::thin_out() noexcept {
    const bool dropped = drop_checkpoints();
    checkpoint_bytes_ = count_checkpoint_bytes();
    return dropped;
}

bool FootprintCache::drop_checkpoints() noexcept {
    if (runs_.size() > 1) {
        auto latest = std::max_element(runs_.begin(), runs_.end(),
                                       [](const CheckpointRun& a, const CheckpointRun& b) { return a.last_used < b.last_used; });
        std::swap(*latest, runs_.front());
        runs_.resize(1);
        return true;
    }
    if (runs_.empty() || runs_.front().points.empty()) return false;
    std::vector<Checkpoint>& points = runs_.front().points;
    const std::size_t before = points.size();
    while (points.size() == before && spacing_ < (std::size_t{1} << 62)) {
        spacing_ *= 2;
        std::erase_if(points, [&](const Checkpoint& c) { return c.position % spacing_ != 0; });
    }
    points.shrink_to_fit();
    return true;
}

}  // namespace ovra
