// Copies of a book per changed time bucket, in two flat arrays.
#include "panels/book_history.h"

namespace ovra {

bool BookHistory::record(std::int64_t bucket, const OrderBook& book, std::size_t limit) {
    if (refused_) return false;
    const SideView bids = book.bids().view();
    const SideView asks = book.asks().view();
    const std::size_t total = charged_ + bids.size() + asks.size() + kCopyCharge;
    if (total > budget_ || total > limit) {
        refused_ = true;
        copies_ = {};
        stored_ = {};
        qty_ = {};
        return false;
    }
    const std::size_t begin = stored_.size();
    append(bids);
    const std::size_t middle = stored_.size();
    append(asks);
    copies_.push_back(Copy{bucket, begin, middle, stored_.size()});
    charged_ = total;
    bid_flip_ = bids.flip;
    ask_flip_ = asks.flip;
    return true;
}

void BookHistory::append(const SideView& side) {
    stored_.insert(stored_.end(), side.stored.begin(), side.stored.end());
    qty_.insert(qty_.end(), side.qty.begin(), side.qty.end());
}

SideView BookHistory::bids(std::size_t i) const noexcept {
    const Copy& c = copies_[i];
    return {std::span(stored_).subspan(c.begin, c.middle - c.begin), std::span(qty_).subspan(c.begin, c.middle - c.begin),
            bid_flip_};
}

SideView BookHistory::asks(std::size_t i) const noexcept {
    const Copy& c = copies_[i];
    return {std::span(stored_).subspan(c.middle, c.end - c.middle), std::span(qty_).subspan(c.middle, c.end - c.middle),
            ask_flip_};
}

}  // namespace ovra
