// Compact copies of one replayed book side at the ends of the time buckets
// that changed the book, so that one replay serves both the final mid and
// every row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "panels/order_book.h"

namespace ovra {

class SideHistory {
public:
    // Keeps at most `budget` entries over all copies.
    explicit SideHistory(std::size_t budget) noexcept : budget_(budget) {}

    // Adds a copy of `side` as it stands at the end of bucket `bucket`
    // (buckets ascending), unless the copies would then count more than the
    // budget or more than `limit` entries. Once one copy is refused the
    // history is released and refuses every later one: it is complete or
    // empty.
    bool record(std::int64_t bucket, const BookSide& side, std::size_t limit);
    bool complete() const noexcept { return !refused_; }

    std::size_t size() const noexcept { return copies_.size(); }
    std::int64_t bucket(std::size_t i) const noexcept { return copies_[i].bucket; }
    SideView view(std::size_t i) const noexcept;

private:
    struct Copy {
        std::int64_t bucket;
        std::size_t begin;
        std::size_t end;
    };
    // A copy's own record counts as this many entries against the budget,
    // so that copies of an empty side are bounded too.
    static constexpr std::size_t kCopyCharge = 2;

    std::size_t budget_;
    std::size_t charged_ = 0;  // entries, plus kCopyCharge per copy
    bool refused_ = false;
    std::int64_t flip_ = 0;  // the same for every copy of a side
    std::vector<Copy> copies_;
    std::vector<std::int64_t> stored_;
    std::vector<double> qty_;
};

}  // namespace ovra
