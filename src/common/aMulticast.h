// UDP multicast sockets (IPv4): a receiver bound to a port and joined to a
// group, or a sender to a group. Addresses are in network byte order; an
// interface of 0 or 127.0.0.1 means the loopback interface.
#pragma once

#include <cstddef>
#include <cstdint>

struct aMulticastHandle;
typedef aMulticastHandle* aMulticastRef;

aMulticastRef aMulticast_Create(uint32_t interfaceAddress, uint32_t group, uint16_t port, bool sender);
// Bytes sent; -1 on failure, -2 for a null object, -3 for a receiver.
int aMulticast_Send(aMulticastRef multicast, const void* data, size_t length);
// Bytes received; -1 on failure or time-out (1 s), -2 for a null object, -3 for a sender.
int aMulticast_Receive(aMulticastRef multicast, void* buffer, size_t size);
// 0, or -2 for a null object.
int aMulticast_Destroy(aMulticastRef* multicast);
