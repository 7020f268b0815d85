// Heatmap cells kept per row and price band. A cell is the rounded total
// of the bid and ask quantities in its band [lo, hi) of the book at the
// row's end, restricted to the entries stamped >= the window's first event.
// It depends on nothing else: not on the rest of the ladder (so a ladder
// moved by whole bands, or made wider or narrower, reuses the cells it
// shares), and on the window start only through the entries of its band. A
// cell made for start f holds for every start f' above the newest stamp it
// left out and at or below the oldest stamp it took in, since those starts
// keep exactly the same entries, summed in the same order.
//
// Bands are named by lattice numbers per price_bin: a family of ladders of
// one price_bin gives each number the bits of the band first seen under
// it, and a ladder whose band bits differ is not kept at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "frame/heatmap/stamped_side.h"

namespace ovra {

class BandCells {
public:
    // Makes the family of `price_bin` the current one (most recently used)
    // and places the ladder (lower edges `lo`, tops `hi`) on its lattice;
    // false when its bands cannot be kept (odd edges, bits that differ from
    // the family's), and then append_row must not be called for it.
    bool place(double price_bin, std::span<const double> lo, std::span<const double> hi);

    // Appends the rows of the ladder last placed for the bucket ends `ends`
    // (ascending) of a window starting at event `from`: each "[c0,...]",
    // joined by ','. A row lacking cells, or holding cells of other entries,
    // has them summed from its book, `book(end)` (the book after events
    // [0, end), asked on this thread); many such rows are summed on the
    // worker pool. A row whose book is not plain is written by `whole`.
    using BookOf = std::function<std::shared_ptr<const FrozenBook>(std::uint32_t)>;
    using WholeRow = std::function<void(const FrozenBook&, std::string&)>;
    void append_rows(std::span<const std::uint32_t> ends, std::uint32_t from, const BookOf& book,
                     const WholeRow& whole, std::string& out);

    // Drops the least recently used families, then the rows of the current
    // one, until at most `bytes` are held.
    void fit(std::size_t bytes);
    std::size_t memory_bytes() const noexcept { return bytes_; }
    void clear() noexcept;

private:
    struct Row {
        std::int64_t base = 0;             // lattice number of cell 0
        std::string text;                  // the cells' texts joined by ','
        std::vector<std::uint32_t> start;  // where each cell's text starts, then text.size() + 1
        std::vector<std::uint32_t> valid_from, valid_to;  // the window starts each cell holds for
        std::size_t width() const noexcept { return valid_from.size(); }
        std::size_t bytes() const noexcept;
    };
    struct Family {
        std::uint64_t bin_bits = 0;
        std::unordered_map<std::int64_t, std::pair<std::uint64_t, std::uint64_t>> bands;  // number -> lo, hi bits
        std::unordered_map<std::uint32_t, Row> rows;  // by the event index the row ends at
        std::size_t bytes = 0;
    };

    // One row of a call to append_rows.
    struct Job {
        enum class Kind { Held, Sum, Whole };
        std::uint32_t end;
        Row* row;
        std::shared_ptr<const FrozenBook> book;
        std::size_t stale;  // where its flags start in stale_
        std::size_t grown = 0;  // bytes the row gained (modulo 2^64)
        Kind kind = Kind::Held;
    };

    // Flags in stale_ the cells of `row` the placed ladder needs and lacks
    // for `from`; whether there are any.
    bool mark_stale(const Row& row, std::uint32_t from);
    // Sums the jobs [first, last) of kind Sum (about `summed` many), on the
    // worker pool when they are many.
    void sum_jobs(std::size_t first, std::size_t last, std::uint32_t from);
    void sum_all_jobs(std::size_t first, std::size_t last, std::size_t summed, std::uint32_t from);
    // Reads only the placed ladder besides `row`: rows apart may be rebuilt
    // at once.
    void rebuild(Row& row, std::uint32_t from, const FrozenBook& book, const char* stale) const;
    void append_text(const Row& row, std::string& out) const;

    std::list<Family> families_;  // most recently used first
    std::size_t bytes_ = 0;
    // The ladder last placed.
    std::vector<double> lo_, hi_;
    std::int64_t first_ = 0;  // lattice number of its band 0
    std::vector<char> stale_;  // scratch: the cells of each row to sum
    std::vector<Job> jobs_;    // scratch: the rows of a call
};

}  // namespace ovra
