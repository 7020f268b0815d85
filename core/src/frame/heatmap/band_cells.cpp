// Kept heatmap cells: placing a ladder on its lattice, summing the cells a
// row lacks, and joining the kept cell texts into rows.
#include "frame/heatmap/band_cells.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "json/float_format.h"
#include "numeric.h"
#include "panels/book_side.h"
#include "worker_pool.h"

namespace ovra {

namespace {

constexpr std::uint32_t kNoStamp = std::numeric_limits<std::uint32_t>::max();
// Rough heap cost of a kept row or family beside its arrays.
constexpr std::size_t kOverhead = 96;
// Rows to sum that are worth a task of the worker pool.
constexpr std::size_t kRowsPerTask = 48;

std::uint64_t bits_of(double x) noexcept { return std::bit_cast<std::uint64_t>(x); }

// One band's sum over one side and the window starts it holds for.
struct BandSum {
    double sum = -0.0;
    std::uint32_t oldest_in = kNoStamp;  // smallest stamp summed
    std::uint32_t newest_out = 0;        // largest stamp left out, plus one (0: none)
};

// Sums the bands [j0, j1) of the ladder over one plain side into out[j], in ascending
// price order from -0.0, taking the entries stamped >= from. On a side of
// finite prices above zero a band holds exactly the entries with
// lo <= price < hi, as the row sums of the stateless road take them.
void sum_side(const FrozenSide& side, std::uint32_t from, std::span<const double> lo, std::span<const double> hi,
              std::size_t j0, std::size_t j1, std::vector<BandSum>& out) {
    const SideView view = side.view();
    const std::span<const std::uint32_t> stamps = side.stamps();
    const std::size_t n = view.size();
    const bool flipped = view.flip != 0;
    if (n == 0) return;
    // Rows summed one after another on a thread hold books of nearby
    // times: where the band search of a side ended last is a close guess.
    thread_local std::size_t last_found[2] = {0, 0};
    std::size_t& hint = last_found[flipped ? 1 : 0];
    std::size_t cursor = n;
    double cursor_lo = 0.0;
    bool sought = false;  // cursor is the first entry >= cursor_lo
    for (std::size_t j = j0; j < j1; ++j) {
        BandSum& cell = out[j];
        const double band_lo = lo[j];
        const double band_hi = hi[j];
        if (!(band_lo < band_hi)) continue;
        // Prices above zero compare as their keys do (the bounds are not
        // NaN, and no price is a zero of either sign).
        const std::int64_t lo_key = total_order_key(band_lo);
        const std::int64_t hi_key = total_order_key(band_hi);
        if (!sought || band_lo < cursor_lo) {
            sought = true;
            cursor = view.lower_bound_near(total_order_key(band_lo == 0.0 ? -0.0 : band_lo), hint);
            hint = cursor;
        } else {
            while (cursor != n && view.key_at(cursor) < lo_key) ++cursor;
        }
        cursor_lo = band_lo;
        // Held in locals while the band is walked, not stored back per entry.
        double sum = cell.sum;
        std::uint32_t oldest_in = cell.oldest_in;
        std::uint32_t newest_out = cell.newest_out;
        for (std::size_t i = cursor; i != n && view.key_at(i) < hi_key; ++i) {
            const std::size_t at = flipped ? n - 1 - i : i;
            const std::uint32_t stamp = stamps[at];
            if (stamp >= from) {
                sum += view.qty[at];
                oldest_in = std::min(oldest_in, stamp);
            } else {
                newest_out = std::max(newest_out, stamp + 1);
            }
        }
        cell.sum = sum;
        cell.oldest_in = oldest_in;
        cell.newest_out = newest_out;
    }
}

}  // namespace

std::size_t BandCells::Row::bytes() const noexcept {
    return kOverhead + text.capacity() +
           (start.capacity() + valid_from.capacity() + valid_to.capacity()) * sizeof(std::uint32_t);
}

bool BandCells::place(double price_bin, std::span<const double> lo, std::span<const double> hi) {
    const std::uint64_t bin_bits = bits_of(price_bin);
    auto it = std::find_if(families_.begin(), families_.end(),
                           [bin_bits](const Family& f) { return f.bin_bits == bin_bits; });
    if (it == families_.end()) {
        families_.emplace_front();
        families_.front().bin_bits = bin_bits;
        families_.front().bytes = kOverhead;
        bytes_ += kOverhead;
    } else {
        families_.splice(families_.begin(), families_, it);
    }
    Family& family = families_.front();
    if (lo.empty() || !(price_bin > 0.0)) return false;
    const double first = lo[0] / price_bin;
    if (!(std::fabs(first) < 4503599627370496.0)) return false;  // 2^52, NaN too
    first_ = std::llround(first);
    for (std::size_t j = 0; j < lo.size(); ++j) {
        const std::pair<std::uint64_t, std::uint64_t> band{bits_of(lo[j]), bits_of(hi[j])};
        const auto [known, fresh] = family.bands.emplace(first_ + static_cast<std::int64_t>(j), band);
        if (fresh) {
            family.bytes += kOverhead;
            bytes_ += kOverhead;
        } else if (known->second != band) {
            return false;
        }
    }
    lo_.assign(lo.begin(), lo.end());
    hi_.assign(hi.begin(), hi.end());
    return true;
}

bool BandCells::mark_stale(const Row& row, std::uint32_t from) {
    const std::size_t depth = lo_.size();
    const std::size_t at = stale_.size();
    stale_.resize(at + depth);
    bool any = false;
    for (std::size_t j = 0; j < depth; ++j) {
        const std::int64_t i = first_ + static_cast<std::int64_t>(j) - row.base;
        const bool held = i >= 0 && i < static_cast<std::int64_t>(row.width()) &&
                          row.valid_from[static_cast<std::size_t>(i)] <= from &&
                          from <= row.valid_to[static_cast<std::size_t>(i)];
        stale_[at + j] = !held;
        any = any || !held;
    }
    return any;
}

void BandCells::sum_jobs(std::size_t first, std::size_t last, std::uint32_t from) {
    for (std::size_t i = first; i < last; ++i) {
        Job& job = jobs_[i];
        if (job.kind != Job::Kind::Sum) continue;
        const std::size_t before = job.row->width() == 0 ? 0 : job.row->bytes();
        rebuild(*job.row, from, *job.book, stale_.data() + job.stale);
        job.grown = job.row->bytes() - before;
    }
}

// Many rows are halved onto the worker pool, which runs a half nobody has
// taken on the calling thread. The caller holds the cache's lock; while it
// waits the pool may hand it another panel, which then must not wait for a
// lock (see the heatmap cache).
void BandCells::sum_all_jobs(std::size_t first, std::size_t last, std::size_t summed, std::uint32_t from) {
    WorkerPool& pool = WorkerPool::instance();
    if (summed < 2 * kRowsPerTask || pool.size() < 2) {
        sum_jobs(first, last, from);
        return;
    }
    const std::size_t middle = first + (last - first) / 2;
    pool.join([&] { sum_all_jobs(first, middle, summed / 2, from); },
              [&] { sum_all_jobs(middle, last, summed - summed / 2, from); });
}

void BandCells::append_text(const Row& row, std::string& out) const {
    const std::size_t depth = lo_.size();
    const auto a = static_cast<std::size_t>(first_ - row.base);
    out.push_back('[');
    out.append(row.text, row.start[a], row.start[a + depth] - 1 - row.start[a]);
    out.push_back(']');
}

void BandCells::append_rows(std::span<const std::uint32_t> ends, std::uint32_t from, const BookOf& book,
                            const WholeRow& whole, std::string& out) {
    Family& family = families_.front();
    jobs_.clear();
    stale_.clear();
    std::size_t summed = 0;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        if (k > 0 && ends[k] == ends[k - 1]) continue;  // a bucket without events: the row before
        Row& row = family.rows[ends[k]];
        Job job{ends[k], &row, nullptr, stale_.size()};
        if (mark_stale(row, from)) {
            job.book = book(ends[k]);
            const bool plain = job.book->bids.plain() && job.book->asks.plain();
            job.kind = plain ? Job::Kind::Sum : Job::Kind::Whole;
            summed += plain;
        }
        jobs_.push_back(std::move(job));
    }
    if (summed > 0) sum_all_jobs(0, jobs_.size(), summed, from);
    for (const Job& job : jobs_) {
        family.bytes += job.grown;
        bytes_ += job.grown;
    }
    std::size_t j = 0;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        if (k > 0) out.push_back(',');
        if (k > 0 && ends[k] != ends[k - 1]) ++j;
        const Job& job = jobs_[j];
        if (job.kind == Job::Kind::Whole) {
            whole(*job.book, out);
        } else {
            append_text(*job.row, out);
        }
    }
    // Rows never summed (their books are not plain) are not kept.
    for (const Job& job : jobs_) {
        if (job.kind == Job::Kind::Whole && job.row->width() == 0) family.rows.erase(job.end);
    }
    jobs_.clear();
}

// Sums the stale cells of the placed ladder and joins them with the kept
// ones: the row then spans the kept cells and the ladder, or only the
// ladder when they are apart.
void BandCells::rebuild(Row& row, std::uint32_t from, const FrozenBook& book, const char* stale) const {
    const std::size_t depth = lo_.size();
    thread_local std::vector<BandSum> bids, asks;
    bids.assign(depth, BandSum{});
    asks.assign(depth, BandSum{});
    for (std::size_t j = 0; j < depth;) {
        if (!stale[j]) {
            ++j;
            continue;
        }
        std::size_t k = j;
        while (k < depth && stale[k]) ++k;
        sum_side(book.bids, from, lo_, hi_, j, k, bids);
        sum_side(book.asks, from, lo_, hi_, j, k, asks);
        j = k;
    }
    const std::int64_t a = first_;
    const std::int64_t b = first_ + static_cast<std::int64_t>(depth);
    const auto width = static_cast<std::int64_t>(row.width());
    const bool joined = width > 0 && a <= row.base + width && row.base <= b;
    const std::int64_t low = joined ? std::min(a, row.base) : a;
    const std::int64_t high = joined ? std::max(b, row.base + width) : b;
    // Made in this thread's scratch, then copied into the row's arrays: a
    // row that holds enough room already (a steady scrub) allocates
    // nothing, and a new row allocates each array once, at its size.
    thread_local Row fresh;
    fresh.base = low;
    fresh.text.clear();
    fresh.start.clear();
    fresh.valid_from.clear();
    fresh.valid_to.clear();
    const auto is_new = [&](std::int64_t n) {
        const std::int64_t j = n - a;
        return !joined || (j >= 0 && j < static_cast<std::int64_t>(depth) && stale[static_cast<std::size_t>(j)]);
    };
    for (std::int64_t n = low; n < high;) {
        if (n > low) fresh.text.push_back(',');
        if (is_new(n)) {
            const auto j = static_cast<std::size_t>(n - a);
            fresh.start.push_back(static_cast<std::uint32_t>(fresh.text.size()));
            json::append_float(fresh.text, round8(bids[j].sum + asks[j].sum));
            fresh.valid_from.push_back(std::max(bids[j].newest_out, asks[j].newest_out));
            fresh.valid_to.push_back(std::min(bids[j].oldest_in, asks[j].oldest_in));
            ++n;
            continue;
        }
        // A run of kept cells, copied whole.
        std::int64_t m = n + 1;
        while (m < high && !is_new(m)) ++m;
        const auto i0 = static_cast<std::size_t>(n - row.base);
        const auto i1 = static_cast<std::size_t>(m - row.base);
        const std::uint32_t from_text = row.start[i0];
        const std::uint32_t shift = static_cast<std::uint32_t>(fresh.text.size()) - from_text;  // modulo 2^32
        fresh.text.append(row.text, from_text, row.start[i1] - 1 - from_text);
        for (std::size_t i = i0; i < i1; ++i) fresh.start.push_back(row.start[i] + shift);
        fresh.valid_from.insert(fresh.valid_from.end(), row.valid_from.begin() + static_cast<std::ptrdiff_t>(i0),
                                row.valid_from.begin() + static_cast<std::ptrdiff_t>(i1));
        fresh.valid_to.insert(fresh.valid_to.end(), row.valid_to.begin() + static_cast<std::ptrdiff_t>(i0),
                              row.valid_to.begin() + static_cast<std::ptrdiff_t>(i1));
        n = m;
    }
    fresh.start.push_back(static_cast<std::uint32_t>(fresh.text.size() + 1));
    row.base = fresh.base;
    row.text.assign(fresh.text);
    row.start.assign(fresh.start.begin(), fresh.start.end());
    row.valid_from.assign(fresh.valid_from.begin(), fresh.valid_from.end());
    row.valid_to.assign(fresh.valid_to.begin(), fresh.valid_to.end());
}

void BandCells::fit(std::size_t bytes) {
    while (bytes_ > bytes && families_.size() > 1) {
        bytes_ -= families_.back().bytes;
        families_.pop_back();
    }
    if (bytes_ > bytes) clear();
}

void BandCells::clear() noexcept {
    families_.clear();
    bytes_ = 0;
}

}  // namespace ovra
