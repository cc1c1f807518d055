// The usage texts, written to standard error.
#pragma once

// Always the short text; with `full` the parameters, commands and samples;
// with both the extended parameters and commands as well.
void _display_usage(bool extended, bool full);
