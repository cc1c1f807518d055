#include "common/aMulticast.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "common/aDebug.h"

struct aMulticastHandle {
  int fd = -1;
  bool sender = false;
  sockaddr_in group{};
};

namespace {

constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 as stored in a socket address

void destroy(aMulticastHandle* handle) {
  if (handle->fd >= 0) close(handle->fd);
  delete handle;
}

bool configure(aMulticastHandle* handle, uint32_t interfaceAddress) {
  ip_mreq membership{};
  membership.imr_multiaddr = handle->group.sin_addr;
  membership.imr_interface.s_addr = interfaceAddress;
  if (setsockopt(handle->fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
    aDebug_Print(aDEBUG_MULTICAST, "JoinMulticastGroup: setsockopt failed with error code %d\n", errno);
    return false;
  }
  in_addr outgoing{};
  outgoing.s_addr = interfaceAddress;
  const unsigned char ttl = 1;
  const unsigned char loop = 1;
  const timeval timeout{1, 0};
  return setsockopt(handle->fd, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) == 0 &&
         setsockopt(handle->fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0 &&
         setsockopt(handle->fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) == 0 &&
         setsockopt(handle->fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
}

}  // namespace

aMulticastRef aMulticast_Create(uint32_t interfaceAddress, uint32_t group, uint16_t port, bool sender) {
  if (interfaceAddress == 0) interfaceAddress = kLoopback;
  auto* handle = new (std::nothrow) aMulticastHandle;
  if (handle == nullptr) return nullptr;
  handle->sender = sender;
  handle->group.sin_family = AF_INET;
  handle->group.sin_addr.s_addr = group;
  handle->group.sin_port = htons(port);

  handle->fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (handle->fd < 0) {
    destroy(handle);
    return nullptr;
  }
  const int reuse = 0;  // a taken port must fail the bind: that is how servers are detected
  if (setsockopt(handle->fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0)
    aDebug_Print(aDEBUG_MULTICAST, "Failed to set reuse %d\n", errno);
  if (!sender) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (bind(handle->fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
      aDebug_Print(aDEBUG_MULTICAST, "bind() failed with error code %d\n", errno);
      destroy(handle);
      return nullptr;
    }
  }
  if (!configure(handle, interfaceAddress)) {
    destroy(handle);
    return nullptr;
  }
  return handle;
}

int aMulticast_Send(aMulticastRef multicast, const void* data, size_t length) {
  if (multicast == nullptr) return -2;
  if (!multicast->sender) return -3;
  const ssize_t sent = sendto(multicast->fd, data, length, 0, reinterpret_cast<const sockaddr*>(&multicast->group),
                              sizeof multicast->group);
  if (sent < 0) {
    aDebug_Print(aDEBUG_MULTICAST, "sendto() failed with error code %d\n", errno);
    return -1;
  }
  return static_cast<int>(sent);
}

int aMulticast_Receive(aMulticastRef multicast, void* buffer, size_t size) {
  if (multicast == nullptr) return -2;
  if (multicast->sender) return -3;
  const ssize_t got = recv(multicast->fd, buffer, size, 0);
  if (got < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK)
      aDebug_Print(aDEBUG_MULTICAST, "recvfrom() failed with error code %d\n", errno);
    return -1;
  }
  return static_cast<int>(got);
}

int aMulticast_Destroy(aMulticastRef* multicast) {
  if (multicast == nullptr || *multicast == nullptr) return -2;
  destroy(*multicast);
  *multicast = nullptr;
  return 0;
}
