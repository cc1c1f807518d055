#include "cpp/Module.h"

#include <cstring>
#include <vector>

#include "common/aDebug.h"
#include "common/aTime.h"
#include "common/aUEI.h"

namespace Quorvant::Wrenfield {

namespace {

constexpr int kAutoNetworkTries = 4;
constexpr unsigned long kAutoNetworkRetryMs = 5;

}  // namespace

struct Module::Impl {
  Link link{"Link"};
  uint8_t address;
  bool networking;
  uint8_t model;

  // Sends request[0] as the command with the rest as its data, and waits for
  // the first packet whose leading `matchLength` data bytes equal the request's.
  aErr query(const std::vector<uint8_t>& request, uint8_t matchLength, uint8_t* reply, uint8_t* replyLength) {
    if (!link.isConnected()) return aErrConnection;
    const aErr sent = link.sendPacket(address, request[0], static_cast<uint8_t>(request.size() - 1), request.data() + 1);
    if (sent != aErrNone) return sent;
    *replyLength = matchLength;
    return link.receivePacket(address, request.data(), replyLength, reply);
  }

  // The module information queries whose reply echoes the first `echoLength`
  // request bytes and adds one byte.
  aErr infoByte(const std::vector<uint8_t>& request, size_t echoLength, uint8_t* out) {
    *out = 0;
    uint8_t reply[aPACKET_MAXDATA];
    uint8_t length = 0;
    const aErr result = query(request, 1, reply, &length);
    if (result != aErrNone) return result;
    if (length != echoLength + 1 || memcmp(reply, request.data(), echoLength) != 0) return aErrUnknown;
    *out = reply[echoLength];
    return aErrNone;
  }
};

Module::Module(uint8_t address, uint8_t model) : Module(address, true, model) {}

Module::Module(uint8_t address, bool networkingMode, uint8_t model)
    : m_impl(new Impl{.address = address, .networking = networkingMode, .model = model}) {}

Module::~Module() = default;

aErr Module::connect(linkType transport, uint32_t serialNumber) {
  if (serialNumber == 0) return aErrParam;
  return discoverAndConnect(transport, serialNumber);
}

aErr Module::discoverAndConnect(linkType transport, uint32_t serialNumber) {
  const aErr result = m_impl->link.discoverAndConnect(transport, serialNumber, m_impl->model);
  return result != aErrNone ? result : _autoNetwork();
}

aErr Module::connectFromSpec(const linkSpec& spec) {
  if (isConnected()) return aErrBusy;
  aErr result = m_impl->link.setLinkSpecifier(spec);
  if (result == aErrNone) result = m_impl->link.connect();
  return result != aErrNone ? result : _autoNetwork();
}

aErr Module::connectThroughLinkModule(Module* router) {
  if (router == nullptr) return aErrInitialization;
  if (isConnected()) return aErrNone;
  linkSpec spec{};
  aErr result = router->getLinkSpecifier(&spec);
  if (result != aErrNone) return result;
  aShareConfig config;
  router->m_impl->link.getConfig(&config);
  result = m_impl->link.setConfig(config);
  if (result != aErrNone) return result;
  if (config.enabled) {
    spec.type = ASHARE;
    spec.ipAddress = config.networkInterface;
    spec.ipPort = config.port;
  }
  result = m_impl->link.setLinkSpecifier(spec);
  if (result == aErrNone) result = m_impl->link.connectThroughLinkModule(router->m_impl->link);
  // The address given is the module's on the router's bus; the link would
  // only name the router.
  if (result == aErrNone) m_impl->networking = false;
  return result;
}

aErr Module::reconnect() {
  const aErr result = m_impl->link.connect();
  return result != aErrNone ? result : _autoNetwork();
}

aErr Module::disconnect() {
  return m_impl->link.disconnect();
}

bool Module::isConnected() const {
  return m_impl->link.isConnected();
}

aLinkStatus Module::getStatus() const {
  return m_impl->link.getStatus();
}

uint8_t Module::getModuleAddress() const {
  return m_impl->address;
}

void Module::setModuleAddress(uint8_t address) {
  m_impl->address = address;
}

aErr Module::getLinkSpecifier(linkSpec* spec) const {
  return m_impl->link.getLinkSpecifier(spec);
}

aErr Module::getConfig(aShareConfig* config) const {
  return m_impl->link.getConfig(config);
}

aErr Module::setConfig(const aShareConfig& config) {
  return m_impl->link.setConfig(config);
}

Link* Module::getLink() const {
  return &m_impl->link;
}

void Module::setNetworkingMode(bool mode) {
  m_impl->networking = mode;
}

aErr Module::_autoNetwork() {
  if (!m_impl->networking) return aErrNone;
  aErr result = aErrNone;
  uint8_t address = 0;
  int tries = 0;
  do {
    result = m_impl->link.getModuleAddress(&address);
    if (result == aErrNotReady) aTime_MSSleep(kAutoNetworkRetryMs);
  } while (result == aErrNotReady && ++tries < kAutoNetworkTries);
  if (result == aErrNotReady) aDebug_Print(aDEBUG_AUTONET, "BOO! Failed to autoNetwork");
  if (address != 0 && address != m_impl->address) m_impl->address = address;
  return result;
}

aErr Module::getBuild(uint32_t* build) {
  if (build == nullptr) return aErrParam;
  uint8_t reply[aPACKET_MAXDATA];
  uint8_t length = 0;
  const aErr result = m_impl->query({cmdMODULEINFO, INFO_BUILD}, 2, reply, &length);
  if (result != aErrNone) return result;
  if (length != 6) return aErrSize;
  *build = aUEI_RetrieveInt(reply + 2);
  return aErrNone;
}

aErr Module::hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) {
  if (flags != 0 && flags != UEI_GET && flags != UEI_SET) return aErrParam;
  uint8_t answer = 0;
  const aErr result = m_impl->infoByte({cmdMODULEINFO, INFO_HAS_UEI, command, option, index, flags}, 5, &answer);
  return result != aErrNone ? result : answer;
}

aErr Module::classQuantity(uint8_t entityClass, uint8_t* count) {
  if (count == nullptr) return aErrParam;
  return m_impl->infoByte({cmdMODULEINFO, INFO_CLASS_QUANTITY, entityClass}, 3, count);
}

aErr Module::subClassQuantity(uint8_t entityClass, uint8_t subclass, uint8_t* count) {
  if (count == nullptr) return aErrParam;
  return m_impl->infoByte({cmdMODULEINFO, INFO_SUBCLASS_QUANTITY, entityClass, subclass}, 4, count);
}

aErr Module::entityGroup(uint8_t entityClass, uint8_t entity, uint8_t* group) {
  if (group == nullptr) return aErrParam;
  return m_impl->infoByte({cmdMODULEINFO, INFO_ENTITY_GROUP, entityClass, entity}, 4, group);
}

aErr Module::debug(const uint8_t* data, uint8_t length) {
  if (data == nullptr && length != 0) return aErrParam;
  std::vector<uint8_t> request{cmdDEBUGECHO};
  if (length != 0) request.insert(request.end(), data, data + length);
  uint8_t reply[aPACKET_MAXDATA];
  uint8_t replyLength = 0;
  const aErr result = m_impl->query(request, 1, reply, &replyLength);
  if (result != aErrNone) return result;
  if (replyLength != request.size() || memcmp(reply, request.data(), request.size()) != 0) return aErrIO;
  return aErrNone;
}

aErr Module::enablePacketLog(const char* fileName) {
  return m_impl->link.enablePacketLog(fileName);
}

aErr Module::disablePacketLog() {
  return m_impl->link.disablePacketLog();
}

}  // namespace Quorvant::Wrenfield
