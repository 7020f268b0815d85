// The exact texts of every response but the frame: acknowledgements, the
// load count, the bounds object, the version object and the error envelope.
#pragma once

#include <cstdint>
#include <string>

#include "dataset.h"
#include "ovra_error.h"

namespace ovra {

inline constexpr const char* kVersion = "0.1.6";

std::string ok_response();                          // {"ok":true}
std::string loaded_response(std::uint64_t count);   // {"ok":true,"loaded":N}
std::string bounds_response(const DatasetBounds& bounds);
std::string version_response();                     // {"version":"0.1.6"}
std::string error_response(const OvraError& error);  // {"ok":false,"error":"..."}

}  // namespace ovra
