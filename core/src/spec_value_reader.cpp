#include "spec_reader.h"

namespace ovra {

Result<OvraSpec, std::string> spec_from_json_value(const json::Value& value) {
    (void)value;
    return fail(std::string("spec reading not built yet"));
}

}  // namespace ovra
