// The listings of the server-facing commands (-B, -L, -J), on standard output.
#pragma once

#include <map>
#include <string>

class UpdaterDisplayInterface;

// Build and version columns, newest version first.
void _display_builds(UpdaterDisplayInterface& display, const std::map<std::string, std::string>& builds,
                     unsigned int serial);
void _display_jwt(UpdaterDisplayInterface& display, const std::string& token);
