// An NXP i.MX processor in serial download mode, as its boot ROM shows
// itself on USB: a HID device 0x1FC9:0x0130 with report 1 (commands),
// report 2 (data), report 3 (security state) and report 4 (status). For now
// it answers the error-status command; the loader download joins with the
// recovery flow.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "BusDevice.h"

namespace wfsim {

class ImxRom : public BusDevice {
 public:
  ImxRom(std::string name, uint16_t vendor, uint16_t product);

  const std::string& name() const override { return name_; }
  const BusIdentity& identity() const override { return identity_; }
  int hidWrite(const uint8_t* data, size_t length) override;
  std::optional<std::vector<uint8_t>> hidRead() override;
  void detached() override { reports_.clear(); }

 private:
  std::string name_;
  BusIdentity identity_;
  std::deque<std::vector<uint8_t>> reports_;  // input reports waiting for the host
};

}  // namespace wfsim
