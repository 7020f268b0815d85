// The value rules of a spec, checked wherever a spec is taken into use.
#pragma once

#include "ovra_error.h"
#include "result.h"
#include "spec.h"

namespace ovra {

// Ok, or a BadSpec error with the message of the first failing rule.
Result<Ok> validate_spec(const OvraSpec& spec);

}  // namespace ovra
