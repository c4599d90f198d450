// A plain, step-by-step form of the masking that the optimised one must match byte for byte.
#pragma once

#include <string>

namespace testref {

std::string maskSensitiveInfo(const std::string& text);

} // namespace testref
