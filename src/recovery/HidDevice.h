// One opened USB-HID device through the HID seam, for the boot ROM
// transport: open by vendor and product ID, write a report, read the reports
// that arrive within a time-out, close with the object.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/hid_backend.h"

class HidDevice {
 public:
  // The first attached device with these IDs, or null when none opens.
  static std::unique_ptr<HidDevice> open(uint16_t vendor, uint16_t product);
  ~HidDevice();
  HidDevice(const HidDevice&) = delete;
  HidDevice& operator=(const HidDevice&) = delete;

  // Sends one report (its number first); the bytes taken, or -1.
  long write(const std::vector<unsigned char>& report);
  // Appends one input report (its number first) arriving within timeoutMs;
  // its length, 0 when none came, -1 on failure.
  long read(std::vector<unsigned char>& reports, unsigned timeoutMs);

 private:
  HidDevice(const wfhid_backend* backend, wfhid_device* device) : backend_(backend), device_(device) {}

  const wfhid_backend* backend_;
  wfhid_device* device_;
};
