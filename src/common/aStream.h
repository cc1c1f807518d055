// Byte streams: one object with operations supplied by a stream kind (get one
// byte, put one byte, write a block, delete, and optionally wait for input)
// plus a push-back ring that lets a reader return bytes it cannot use yet.
// Streams are polled: a get with no byte available answers aErrNotReady.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aError.h"

typedef aErr (*aStreamGetProc)(uint8_t* byte, void* reference);
typedef aErr (*aStreamPutProc)(uint8_t byte, void* reference);
typedef aErr (*aStreamWriteProc)(const uint8_t* data, size_t length, void* reference);
typedef aErr (*aStreamDeleteProc)(void* reference);
// Waits at most timeoutMs for input: aErrNone when a get may have something to
// say (a byte, an end or an error), aErrNotReady when the time passed quietly.
typedef aErr (*aStreamWaitProc)(unsigned long timeoutMs, void* reference);

struct aStreamHandle;
typedef aStreamHandle* aStreamRef;

aStreamRef aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                          aStreamDeleteProc deleteProc, void* reference);
// Gives a stream kind whose get answers at once a way to let readers sleep on it.
aErr aStream_SetWait(aStreamRef stream, aStreamWaitProc wait);
// Returns as soon as a read may succeed (held bytes, or the kind's wait says
// so), else after timeoutMs with aErrNotReady. A kind without a wait operation
// paces itself in get, so this returns aErrNone at once.
aErr aStream_AwaitInput(aStreamRef stream, unsigned long timeoutMs);

// All or nothing: on aErrNotReady the bytes already taken are held back for the
// next read and the buffer is untouched.
aErr aStream_Read(aStreamRef stream, uint8_t* buffer, size_t length);
aErr aStream_Write(aStreamRef stream, const uint8_t* data, size_t length);
aErr aStream_ReadRecord(aStreamRef stream, uint8_t* buffer, size_t* length, size_t size, const uint8_t* terminator,
                        size_t terminatorLength);
aErr aStream_WriteRecord(aStreamRef stream, const uint8_t* data, size_t length, const uint8_t* terminator,
                         size_t terminatorLength);
aErr aStream_ReadCString(aStreamRef stream, char* buffer, size_t size);
aErr aStream_WriteCString(aStreamRef stream, const char* text);
aErr aStream_ReadCStringRecord(aStreamRef stream, char* buffer, size_t size, const char* terminator);
aErr aStream_WriteCStringRecord(aStreamRef stream, const char* text, const char* terminator);
aErr aStream_Flush(aStreamRef from, aStreamRef to);
aErr aStream_Destroy(aStreamRef* stream);
aErr aStreamBufferChar(aStreamRef stream, uint8_t byte);

// Stream kinds. Each sets *stream to null first and to the new stream on success.
// TCP client; `address` is an IPv4 address in network order, `port` in host order.
aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStreamRef* stream);
// Serial port: baud code 0..7 (2400 .. 230400), parity 0/1 (even), data bits
// 0 = 8 / 1 = 7, stop bits 0 = one / 1 = two.
aErr aStream_CreateSerial(const char* path, uint32_t baudCode, uint32_t parity, uint32_t dataBits, uint32_t stopBits,
                          aStreamRef* stream);
aErr aStream_CreateUSB(uint32_t serialNumber, aStreamRef* stream);
aErr aStream_CreateFileInput(const char* path, aStreamRef* stream);
aErr aStream_CreateFileOutput(const char* path, aStreamRef* stream);
