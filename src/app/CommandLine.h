// The option table and the scan that turns a command line into Parameters.
#pragma once

#include <cstdint>

#include "app/Parameters.h"

class UpdaterDisplayInterface;

enum OptionClass : int { OPTION_HELP = 0, OPTION_COMMAND = 1, OPTION_PARAMETER = 2 };

struct OptionRow {
  int optionClass;
  const char* text;  // null in the end row
  bool takesArgument;
};

extern const OptionRow g_rgOptions[];

// 0 when the command line is acceptable, 1 otherwise. Writes every default first.
int _get_params(UpdaterDisplayInterface& display, int argc, char** argv, Parameters* params);
int _validate_params(Parameters* params);
int _release_params(Parameters* params);

// Value of text in base 16 (base 10) when it holds only hex (decimal) digits,
// truncated to 32 bits, with *end left at the terminating NUL; otherwise 0 and
// *end untouched. A null end gives 0.
uint32_t _get_hex_arg(const char* text, char** end);
uint32_t _get_int_arg(const char* text, char** end);
