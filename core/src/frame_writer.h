// Writes a Frame as compact JSON, straight into one growing buffer.
#pragma once

#include <string>

#include "frame.h"

namespace ovra {

std::string frame_to_json(const Frame& frame);

}  // namespace ovra
