#include "app/CLI_Display.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kWipeWidth = 88;
constexpr int kBarWidth = 69;
constexpr int kMaxLabel = 65;
constexpr const char* kBarMaterial = "=====================================================================";
constexpr const char* kSpinnerFrames[] = {".", "..", "...", "....", ".....", "....", "...", ".."};

// One frame counter for every display in the process.
std::atomic<uint8_t> spinnerFrame{0};

bool onTerminal() { return isatty(STDOUT_FILENO) == 1; }

void wipeLine() { printf("\r%*s\r", kWipeWidth, " "); }

}  // namespace

CLI_Display::CLI_Display() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  setvbuf(stderr, nullptr, _IONBF, 0);
}

void CLI_Display::display_progress(bool show) {
  if (!show && onTerminal()) wipeLine();
}

void CLI_Display::update_progress(double fraction, const char* label) {
  if (!onTerminal()) return;
  if (!(fraction >= 0.0)) fraction = 0.0;  // also catches NaN
  if (fraction > 1.0) fraction = 1.0;
  const int labelLength = label != nullptr ? static_cast<int>(strnlen(label, kMaxLabel)) : 0;
  const int width = label != nullptr ? kBarWidth - labelLength - 4 : kBarWidth;
  const int filled = static_cast<int>(width * fraction);
  const int percent = static_cast<int>(fraction * 100);
  const int pad = width - filled - 1;
  if (label != nullptr)
    printf("\r (%.*s) [%.*s>%*s] (%3d%% ) ", labelLength, label, filled, kBarMaterial, pad, "", percent);
  else
    printf("\r[%.*s>%*s] (%3d%% ) ", filled, kBarMaterial, pad, "", percent);
}

void CLI_Display::update_spinner(bool active, const char* label) {
  if (!onTerminal()) return;
  if (!active) {
    wipeLine();
    return;
  }
  const uint8_t current = spinnerFrame.load();
  spinnerFrame.store(static_cast<uint8_t>((current + 1) % 8));
  const char* frame = kSpinnerFrames[current];
  if (label != nullptr)
    printf("\r (%s) %s      \r", label, frame);
  else
    printf("\r %s      \r", frame);
}

void CLI_Display::info_message(const char* text) { printf("%s\n", text); }

void CLI_Display::error_message(const char* text) { fprintf(stderr, "%s\n", text); }
