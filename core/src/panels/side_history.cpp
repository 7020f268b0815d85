// Copies of a book side per changed time bucket, in two flat arrays.
#include "panels/side_history.h"

namespace ovra {

bool SideHistory::record(std::int64_t bucket, const BookSide& side, std::size_t limit) {
    if (refused_) return false;
    const std::size_t total = charged_ + side.size() + kCopyCharge;
    if (total > budget_ || total > limit) {
        refused_ = true;
        copies_ = {};
        stored_ = {};
        qty_ = {};
        return false;
    }
    const std::size_t begin = stored_.size();
    side.append_to(stored_, qty_);
    copies_.push_back(Copy{bucket, begin, stored_.size()});
    charged_ = total;
    flip_ = side.flip();
    return true;
}

SideView SideHistory::view(std::size_t i) const noexcept {
    const Copy& c = copies_[i];
    return {std::span(stored_).subspan(c.begin, c.end - c.begin), std::span(qty_).subspan(c.begin, c.end - c.begin),
            flip_};
}

}  // namespace ovra
