#include "cpp/Link.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/aDebug.h"
#include "common/aFile.h"
#include "common/aPacketLog.h"
#include "common/aTime.h"
#include "cpp/LinkState.h"

namespace Quorvant::Wrenfield {

namespace {

constexpr size_t kMaxNameLength = 1024;
constexpr unsigned kConnectPolls = 200;
constexpr unsigned long kPollIntervalMs = 10;
constexpr unsigned long kAddressQueryTimeoutMs = 1000;
constexpr unsigned long kLogIdleSleepMs = 5;
constexpr char kLogStartMarker[] = "START";

// Creating engine links is serialised across every Link of the process, so two
// Links asking for one module end up sharing one engine link.
std::mutex linkCreateHelperSerializer;

// Creates the engine link a specifier describes; *linkId is 0 when that failed.
aErr linkCreateHelper(const linkSpec& spec, aLinkRef* linkId) {
  std::lock_guard<std::mutex> guard(linkCreateHelperSerializer);
  switch (spec.type) {
    // Until this library serves USB modules through a sharing server, a shared
    // configuration connects them directly as well.
    case USB: *linkId = aLink_CreateUSB(spec.serialNumber); return aErrNone;
    case TCPIP: *linkId = aLink_CreateTCPIP(spec.ipAddress, static_cast<uint16_t>(spec.ipPort)); return aErrNone;
    case SERIAL: {
      const std::string port(spec.portName, strnlen(spec.portName, sizeof spec.portName));
      *linkId = aLink_CreateSerial(spec.serialNumber, port.c_str(), spec.baudRate);
      return aErrNone;
    }
    // Client links to a sharing server are not offered by this library yet.
    case ASHARE: return aErrConfiguration;
    default: return aErrMode;
  }
}

// The discovery request for a module of a model (0: any); the first module
// accepted is copied over it.
struct ModelFilter {
  linkSpec spec;
  bool found;
};

bool cbModelCallback(const linkSpec* spec, bool* counted, void* reference) {
  auto* filter = static_cast<ModelFilter*>(reference);
  if (filter->spec.model != 0 && spec->model != filter->spec.model) return true;
  filter->spec = *spec;
  filter->found = true;
  *counted = true;
  return false;
}

std::optional<linkSpec> discover(linkType transport, uint32_t serialNumber, uint8_t model, uint32_t networkInterface) {
  if (serialNumber != 0) {
    linkSpec* found = aDiscovery_FindModule(transport, serialNumber, networkInterface);
    if (found == nullptr) return std::nullopt;
    const linkSpec spec = *found;
    aLinkSpec_Destroy(&found);
    return spec;
  }
  ModelFilter filter{linkSpec{}, false};
  filter.spec.type = transport;
  filter.spec.model = model;
  aDiscovery_EnumerateModules(transport, cbModelCallback, &filter, networkInterface);
  if (!filter.found) return std::nullopt;
  return filter.spec;
}

// The answer to the module-address query: a packet without data.
uint8_t MatchMagic(const aPacket* packet, const void*) {
  return packet->length == 0;
}

// The packet logger's writer: one line per record of the link's packet log.
void sPacketLogWriter(aFileRef file, uint32_t linkId) {
  uint8_t type = 0;
  uint8_t record[255];  // a record's length is one byte, so every record fits
  uint32_t length = sizeof record;
  if (aLink_PacketDebug_Read(linkId, &type, &length, record) != aErrNone) {
    // Nothing buffered, or the engine link is gone: wait instead of spinning.
    aTime_MSSleep(kLogIdleSleepMs);
    return;
  }
  std::string line = std::to_string(length) + (type == aPACKETLOG_WRITTEN ? " > " : " < ");
  for (uint32_t i = 0; i < length && i < sizeof record; ++i) {
    char text[8];
    if (type == aPACKETLOG_TEXT)
      line.push_back(static_cast<char>(record[i]));
    else
      line.append(text, static_cast<size_t>(snprintf(text, sizeof text, "0x%X ", record[i])));
  }
  line += "\r\n";
  size_t written = 0;
  aFile_Write(file, line.data(), line.size(), &written);
}

void destroyPacketLogger(aLoggerRef* logger) {
  if (*logger != nullptr) aLogger_Destroy(logger);
}

aErr discoverAndConnectOnce(Link& link, linkType transport, uint32_t serialNumber, uint8_t model,
                            uint32_t networkInterface) {
  const std::optional<linkSpec> found = discover(transport, serialNumber, model, networkInterface);
  if (!found) return aErrNotFound;
  link.setLinkSpecifier(*found);  // refused while connected; connect then says so
  return link.connect();
}

}  // namespace

Link::Link(const char* name) : m_impl(std::make_unique<Impl>()) {
  if (name != nullptr) m_impl->name.assign(name, strnlen(name, kMaxNameLength));
}

Link::Link(const linkSpec& spec, const char* name) : Link(name) {
  m_impl->spec = spec;
}

Link::~Link() {
  disconnect();
}

aErr Link::getConfig(aShareConfig* config) const {
  if (config == nullptr) return aErrParam;
  *config = m_impl->config;
  return aErrNone;
}

aErr Link::setConfig(const aShareConfig& config) {
  if (isConnected()) return aErrMode;
  m_impl->config = config;
  return aErrNone;
}

aErr Link::discoverAndConnect(linkType transport, uint32_t serialNumber, uint8_t model) {
  const uint32_t networkInterface = m_impl->config.networkInterface;
  aErr result = discoverAndConnectOnce(*this, transport, serialNumber, model, networkInterface);
  const bool retryable = result == aErrNotFound || result == aErrInitialization || result == aErrConnection;
  if (retryable && (transport == USB || transport == ASHARE) && m_impl->config.fallback) {
    aDebug_Print(aDEBUG_LINK, "Executing Fallback: %s\n", transport == USB ? "aShare" : "USB");
    result = discoverAndConnectOnce(*this, transport == USB ? ASHARE : USB, serialNumber, model, networkInterface);
  }
  return result;
}

aErr Link::connect() {
  if (m_impl->linkId != 0) return aErrConnection;
  if (!m_impl->spec) return aErrConfiguration;
  const aErr created = linkCreateHelper(*m_impl->spec, &m_impl->linkId);
  if (created != aErrNone) return created;
  if (m_impl->linkId == 0) return aErrConnection;
  const aErr result = waitForLink(kConnectPolls);
  // A link that never ran is let go, so that a later connect can try afresh.
  if (result != aErrNone) disconnect();
  return result;
}

aErr Link::connectThroughLinkModule(Link& router) {
  if (router.m_impl->linkId == 0) return aErrInitialization;
  // The stored specifier names the router's engine link; creating it again
  // adds this Link as one more user of that link.
  return connect();
}

aErr Link::waitForLink(unsigned limit) {
  aLinkStatus status = getStatus();
  switch (status) {
    case LINK_RUNNING: return aErrNone;
    case LINK_STOPPING: return aErrBusy;
    case LINK_NO_STREAM:
    case LINK_IO_ERROR:
    case LINK_PACKET_ERROR: return aErrConnection;
    case LINK_STOPPED:
    case LINK_STARTING:
    case LINK_SYNCING:
      for (unsigned polls = 0; status != LINK_RUNNING && polls < limit; ++polls) {
        aTime_MSSleep(kPollIntervalMs);
        status = getStatus();
      }
      return status == LINK_RUNNING ? aErrNone : aErrConnection;
    default: return aErrDuplicate;
  }
}

bool Link::isConnected() const {
  return m_impl->connected();
}

aLinkStatus Link::getStatus() const {
  return m_impl->linkId != 0 ? aLink_GetStatus(m_impl->linkId) : LINK_PACKET_ERROR;
}

aErr Link::disconnect() {
  // The packet logger reads this engine link's log; it ends with the link.
  destroyPacketLogger(&m_impl->packetLogger);
  if (m_impl->linkId != 0) aLink_Destroy(&m_impl->linkId);
  return aErrNone;
}

aErr Link::reset() {
  if (m_impl->linkId != 0) aLink_Reset(m_impl->linkId);
  return aErrNone;
}

aErr Link::getModuleAddress(uint8_t* address) {
  if (address == nullptr) return aErrParam;
  *address = 0;
  if (!isConnected()) return aErrNotReady;
  aDebug_Print(aDEBUG_LINK, "getModuleAddress");
  const uint8_t noData = 0;
  std::unique_ptr<aPacket, aPacketDeleter> query(aPacket_CreateWithData(ADDRESS_QUERY, 0, &noData));
  if (query == nullptr || aLink_PutPacket(m_impl->linkId, query.get()) != aErrNone) return aErrNotReady;
  aDebug_Print(aDEBUG_LINK, "getModuleAddress wait");
  std::unique_ptr<aPacket, aPacketDeleter> answer(
      aLink_AwaitFirst(m_impl->linkId, MatchMagic, nullptr, kAddressQueryTimeoutMs));
  if (answer == nullptr) return aErrNotReady;
  *address = answer->address;
  return aErrNone;
}

const char* Link::getName() const {
  return m_impl->name.empty() ? nullptr : m_impl->name.c_str();
}

aErr Link::getLinkSpecifier(linkSpec* spec) const {
  if (spec == nullptr) return aErrParam;
  if (!m_impl->spec) return aErrNotFound;
  *spec = *m_impl->spec;
  return aErrNone;
}

aErr Link::setLinkSpecifier(const linkSpec& spec) {
  if (isConnected()) return aErrBusy;
  m_impl->spec = spec;
  return aErrNone;
}

aErr Link::enablePooledPackets(bool enable) {
  return aLink_EnablePooledPackets(m_impl->linkId, enable);
}

aErr Link::enablePacketLog(const char* fileName) {
  if (m_impl->linkId == 0) return aErrConfiguration;
  if (fileName == nullptr) return aErrParam;
  const aErr enabled = aLink_PacketDebug_Enable(m_impl->linkId);
  if (enabled != aErrNone) return enabled;
  if (m_impl->packetLogger == nullptr) {
    m_impl->packetLogger = aLogger_Create(m_impl->linkId, sPacketLogWriter, fileName);
    if (m_impl->packetLogger == nullptr) return aErrIO;
  }
  const aErr started = aLogger_Enable(m_impl->packetLogger);
  if (started != aErrNone) return started;
  return aLink_PacketDebug_Write(m_impl->linkId, aPACKETLOG_TEXT, sizeof kLogStartMarker,
                                 reinterpret_cast<const uint8_t*>(kLogStartMarker));
}

aErr Link::disablePacketLog() {
  if (m_impl->linkId == 0) return aErrConfiguration;
  aLink_PacketDebug_Disable(m_impl->linkId);
  return m_impl->packetLogger != nullptr ? aLogger_Disable(m_impl->packetLogger) : aErrNone;
}

}  // namespace Quorvant::Wrenfield
