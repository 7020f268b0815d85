// The dataset a handle keeps between commands: sorted by ts when stored, its
// bounds worked out once, so that frames neither re-check the order of every
// series nor rescan every record for the bounds.
#pragma once

#include <optional>

#include "dataset.h"

namespace ovra {

class StoredDataset {
public:
    StoredDataset() = default;
    // Takes the records and sorts every series by ts (stable).
    explicit StoredDataset(Dataset dataset);

    const Dataset& records() const noexcept { return records_; }
    // sorted_dataset_bounds of the records: absent when there are none.
    const std::optional<DatasetBounds>& bounds() const noexcept { return bounds_; }

private:
    Dataset records_;
    std::optional<DatasetBounds> bounds_;
};

}  // namespace ovra
