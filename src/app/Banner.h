// The version line and the notice line that start every run's output.
#pragma once

class UpdaterDisplayInterface;

constexpr const char* APP_NAME = "Updater";
constexpr const char* APP_VERSION = "Version: 2.11.2 Apr 29 2025";
constexpr const char* APP_NOTICE = "Copyright (c) 2025 Quorvant Inc. All rights reserved.";

void _display_app_version(UpdaterDisplayInterface& display);
void _display_notice(UpdaterDisplayInterface& display);
