#include "Control.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <sstream>

namespace wfsim {

namespace {

using Lines = std::vector<std::string>;

const char* const kHelp[] = {
    "select SERIAL       later commands act on this module's link",
    "garbage [N]         send N bytes 0xFF before the next reply (4)",
    "outofstep [N]       send N copies of the module address before the next reply (1)",
    "drop [N]            swallow the next N replies (1)",
    "delay MS            send every reply MS ms late (0 = on time)",
    "disconnect          drop the host's connection (a pty gets a new path)",
    "heartbeat [S]       send a heartbeat now (S: next configured value)",
    "inject HEX...       send these bytes to the host",
    "heartbeats          the heartbeats sent and the host's answers",
    "stats               traffic counters and force-route values",
    "sets                every set and call each module on the link accepted",
    "router              route-to-me settings, I2C writes and pull-ups of the link's module",
    "transports          the transport lines again",
    "quit                end the simulator",
};

// Decimal or 0x-prefixed hexadecimal, within `max`.
std::optional<unsigned long> _number(const std::string& text, unsigned long max) {
  if (text.empty()) return std::nullopt;
  size_t used = 0;
  unsigned long value = 0;
  try {
    value = std::stoul(text, &used, 0);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (used != text.size() || text[0] == '-' || value > max) return std::nullopt;
  return value;
}

std::optional<std::vector<uint8_t>> _hexBytes(const std::vector<std::string>& words) {
  std::vector<uint8_t> bytes;
  for (const std::string& word : words) {
    if (word.size() % 2 != 0) return std::nullopt;
    for (size_t i = 0; i < word.size(); i += 2) {
      if (!isxdigit(static_cast<unsigned char>(word[i])) || !isxdigit(static_cast<unsigned char>(word[i + 1]))) {
        return std::nullopt;
      }
      bytes.push_back(static_cast<uint8_t>(std::stoul(word.substr(i, 2), nullptr, 16)));
    }
  }
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

std::string _list(const std::vector<uint8_t>& values) {
  std::string text;
  for (uint8_t value : values) {
    char item[8];
    snprintf(item, sizeof item, text.empty() ? "%02X" : ",%02X", value);
    text += item;
  }
  return text.empty() ? "-" : text;
}

Lines _error(const std::string& reason) { return {"error: " + reason}; }

}  // namespace

std::vector<std::string> Control::execute(const std::string& line) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  std::vector<std::string> args;
  for (std::string word; in >> word;) args.push_back(word);
  if (command.empty()) return {};

  // Optional count argument with its default.
  auto count = [&](unsigned long fallback, unsigned long max) -> std::optional<unsigned long> {
    if (args.empty()) return fallback;
    if (args.size() > 1) return std::nullopt;
    return _number(args[0], max);
  };
  ModuleLink& link = selected();
  const std::string& serial = link.module().serialText();

  if (command == "select") {
    for (size_t i = 0; i < links_.size() && args.size() == 1; ++i) {
      if (links_[i]->module().serialText() == args[0]) {
        selected_ = i;
        return {"ok"};
      }
    }
    return _error("no module with its own link has that serial number");
  }
  if (command == "garbage" || command == "outofstep" || command == "drop") {
    std::optional<unsigned long> n = count(command == "garbage" ? 4 : 1, 1000);
    if (!n) return _error("expected a count up to 1000");
    if (command == "garbage") link.faults().garbage = *n;
    if (command == "outofstep") link.faults().outOfStep = *n;
    if (command == "drop") link.faults().drop = static_cast<unsigned>(*n);
    return {"ok"};
  }
  if (command == "delay") {
    std::optional<unsigned long> ms = args.size() == 1 ? _number(args[0], 600000) : std::nullopt;
    if (!ms) return _error("expected a delay in ms up to 600000");
    link.faults().delayMs = static_cast<unsigned>(*ms);
    return {"ok"};
  }
  if (command == "disconnect") {
    return link.disconnect() ? Lines{"ok"} : _error("no host connected");
  }
  if (command == "heartbeat") {
    std::optional<uint8_t> value;
    if (!args.empty()) {
      std::optional<unsigned long> s = args.size() == 1 ? _number(args[0], 253) : std::nullopt;
      if (!s) return _error("expected a heartbeat value up to 253");
      value = static_cast<uint8_t>(*s);
    }
    return link.sendHeartbeat(value) ? Lines{"ok"} : _error("no host connected");
  }
  if (command == "inject") {
    std::optional<std::vector<uint8_t>> bytes = _hexBytes(args);
    if (!bytes) return _error("expected hexadecimal bytes");
    return link.inject(*bytes) ? Lines{"ok"} : _error("no host connected");
  }
  if (command == "heartbeats") {
    const LinkStats& stats = link.stats();
    return {"heartbeats " + serial + " sent=" + _list(stats.heartbeatsSent) + " answers=" +
                _list(stats.heartbeatAnswers),
            "ok"};
  }
  if (command == "stats") {
    const LinkStats& s = link.stats();
    return {"stats " + serial + " in=" + std::to_string(s.packetsIn) + " out=" + std::to_string(s.packetsOut) +
                " queries=" + std::to_string(s.addressQueries) + " answered=" + std::to_string(s.answered) +
                " unhandled=" + std::to_string(s.unhandled) + " dropped=" + std::to_string(s.dropped) +
                " discarded=" + std::to_string(s.discardedBytes) + " forceroutes=" + _list(s.forceRoutes),
            "ok"};
  }
  if (command == "sets") {
    Lines lines;
    for (const std::unique_ptr<SimModule>& module : link.modules()) {
      std::string text = "sets " + module->serialText();
      for (const std::string& entry : module->journal().sets) text += " " + entry;
      lines.push_back(module->journal().sets.empty() ? text + " -" : text);
    }
    lines.push_back("ok");
    return lines;
  }
  if (command == "router") {
    const ModuleJournal& journal = link.module().journal();
    return {"router " + serial + " routetome=" + _list(journal.routeToMe) + " probed=" + _list(journal.probed) +
                " pullups=" + _list(journal.pullups),
            "ok"};
  }
  if (command == "transports") {
    Lines lines = link.readyLines();
    lines.push_back("ok");
    return lines;
  }
  if (command == "help") {
    Lines lines(std::begin(kHelp), std::end(kHelp));
    lines.push_back("ok");
    return lines;
  }
  if (command == "quit") {
    quit_ = true;
    return {"ok"};
  }
  return _error("unknown command \"" + command + "\" (try help)");
}

}  // namespace wfsim
