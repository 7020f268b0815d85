#include "dataset_reader.h"

namespace ovra {

Result<Dataset, std::string> dataset_from_json_value(const json::Value& value) {
    (void)value;
    return fail(std::string("dataset reading not built yet"));
}

}  // namespace ovra
