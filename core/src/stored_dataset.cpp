// A handle's dataset: sorted and measured once, when it is stored.
#include "stored_dataset.h"

#include <utility>

namespace ovra {

StoredDataset::StoredDataset(Dataset dataset) : records_(std::move(dataset)) {
    sort_dataset(records_);
    bounds_ = sorted_dataset_bounds(records_);
}

}  // namespace ovra
