// What a handle keeps between frames to answer the footprints of one
// price_bin: each trade's bin, found once, and the per-bin sums of the last
// window with checkpoints along it. A window is a range [first, last) of the
// stored, ts-ordered trades.
//
// The sums of a window are plain additions in window order starting from
// 0.0, exactly as compute_footprint forms them. A window with the start of an
// earlier one resumes from that window's sums or from a checkpoint taken on
// the way (the sums of the same start over a prefix of the same trades), so
// every sum is still formed over the same values in the same order; a window
// with another start adds its trades afresh. Nothing is ever subtracted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "dataset.h"

namespace ovra {

class FootprintCache {
public:
    // `trades` are sorted by ts and outlive the cache unchanged.
    FootprintCache(std::span<const Trade> trades, double price_bin);

    // Appends the panel object ({"kind":"footprint",...}) of the trades
    // [first, last), byte for byte what the frame writer makes of
    // compute_footprint over them.
    void append_panel(std::size_t first, std::size_t last, std::string& out);

    // Bytes held between calls.
    std::size_t memory_bytes() const noexcept;

    // Keeps fewer checkpoints (every other one, and only those of the latest
    // start); false when there was nothing left to drop.
    bool thin_out() noexcept;

    // The most the checkpoints may hold; beyond it they are thinned out as
    // they are taken.
    void set_checkpoint_limit(std::size_t bytes) noexcept { checkpoint_limit_ = bytes; }

    // Held by whoever calls the members above while other threads may too.
    std::mutex& mutex() noexcept { return mutex_; }

private:
    // By side: [0] buy, [1] sell (TradeSide's order), so that a trade adds to
    // its side's sum without a branch.
    struct Sums {
        double by_side[2] = {0.0, 0.0};
        double buy() const noexcept { return by_side[0]; }
        double sell() const noexcept { return by_side[1]; }
    };
    struct SavedBin {
        std::uint32_t bin;
        Sums sums;
    };
    // The sums of the trades [start, position), the bins in first-touch order.
    struct Checkpoint {
        std::size_t position;
        std::vector<SavedBin> bins;
    };
    struct CheckpointRun {
        std::size_t start;
        std::uint64_t last_used;
        std::vector<Checkpoint> points;  // ascending position
    };

    void label(std::size_t first, std::size_t last);
    void label_block(std::size_t begin, std::size_t end);
    std::uint32_t bin_of_edge(double edge);
    void clear_sums() noexcept;
    void restore(const Checkpoint& point);
    void add(std::size_t from, std::size_t to) noexcept;
    void advance(std::size_t start, std::size_t to);
    void save_checkpoint(std::size_t start, std::size_t position);
    CheckpointRun& run_for(std::size_t start);
    void write_panel(std::string& out) const;
    bool drop_checkpoints() noexcept;
    std::size_t count_checkpoint_bytes() const noexcept;

    std::span<const Trade> trades_;
    double price_bin_;

    // Bin of each trade, filled block by block as windows reach it.
    std::vector<std::uint32_t> bin_of_trade_;
    std::vector<std::uint8_t> block_labelled_;
    std::unordered_map<std::int64_t, std::uint32_t> bin_of_key_;  // total_order_key(edge)
    std::vector<double> edges_;
    std::vector<std::int64_t> keys_;

    // The sums of the trades [first_, last_), by bin; only bins in touched_
    // hold anything.
    std::size_t first_ = 0;
    std::size_t last_ = 0;
    bool have_sums_ = false;
    std::vector<Sums> sums_;
    std::vector<std::uint8_t> seen_;
    std::vector<std::uint32_t> touched_;
    std::string text_;  // the panel text of these sums, once written
    bool have_text_ = false;

    std::size_t spacing_;  // checkpoints at multiples of this trade index
    std::uint64_t clock_ = 0;
    std::vector<CheckpointRun> runs_;
    std::size_t checkpoint_bytes_ = 0;
    std::size_t checkpoint_limit_ = 0;

    std::mutex mutex_;
};

}  // namespace ovra
