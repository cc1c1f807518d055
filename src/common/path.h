// Path joining without length limits.
#pragma once

#include <string>

// Joins `first` and every further part with "/"; the list ends with nullptr.
// Nothing is trimmed: BuildPath("a", "", nullptr) is "a/".
std::string BuildPath(const char* first, ...);
