// UEI messages: one option of one module entity (a get of its value, a set of
// a new value, or a call), and the module's reply. Inside a packet a UEI is
// the command code, the option byte and the index byte, then the value most
// significant byte first; byte strings travel as numbered runs of packets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aPacket.h"

// Option byte: option code in bits 0-5 plus the request flags.
constexpr uint8_t UEI_OPTION_MASK = 0x3F;
constexpr uint8_t UEI_GET = 0x40;
constexpr uint8_t UEI_SET = 0x80;
constexpr uint8_t UEI_SET_REPLY = 0xC0;

// Index byte: entity index in bits 0-4 plus the flags.
constexpr uint8_t UEI_INDEX_MASK = 0x1F;
constexpr uint8_t UEI_HOST = 0x20;
constexpr uint8_t UEI_STREAM = 0x40;
constexpr uint8_t UEI_ERROR = 0x80;

// Byte strings: up to 24 payload bytes per packet, then a trailer byte with
// the more-follows flag and a sequence number that wraps from 127 to 0.
constexpr uint8_t UEI_BYTES_CHUNK = 24;
constexpr uint8_t UEI_BYTES_MORE = 0x80;
constexpr uint8_t UEI_BYTES_SEQUENCE_MASK = 0x7F;

// Data length of a UEI without a value: command, option, index.
constexpr uint8_t UEI_HEADER_LENGTH = 3;

// Command codes (data byte 0).
constexpr uint8_t cmdSYSTEMENTITY = 0x03;
constexpr uint8_t cmdSTORESLOT = 0x04;
constexpr uint8_t cmdI2CENTITY = 0x08;
constexpr uint8_t cmdDEBUGECHO = 0x17;
constexpr uint8_t cmdMODULEINFO = 0x49;
constexpr uint8_t cmdSTREAMCONTROL = 0x5D;
constexpr uint8_t cmdFACTORYDATA = 0x5E;
constexpr uint8_t cmdUPGRADE = 0x5F;

// Sub-commands of cmdMODULEINFO (data byte 1).
constexpr uint8_t INFO_HAS_UEI = 1;
constexpr uint8_t INFO_CLASS_QUANTITY = 4;
constexpr uint8_t INFO_SUBCLASS_QUANTITY = 5;
constexpr uint8_t INFO_ENTITY_GROUP = 6;
constexpr uint8_t INFO_BUILD = 0xFF;

enum ueiKind : int {
  UEI_VOID = 0,
  UEI_BYTE = 1,
  UEI_SHORT = 2,
  UEI_INT = 4,
  UEI_BYTES = 5,
};

// A byte string: the caller's bytes and, while receiving, the reassembly state.
struct ueiBytes {
  uint8_t* data;  // a send only reads them
  uint8_t sequence;  // receive: the sequence number expected next
  uint8_t more;  // receive: the more-follows flag of the last packet taken
  size_t length;  // send: bytes to send; receive: the buffer's capacity
  size_t* received;  // receive: bytes received so far
};

union ueiValue {
  uint8_t byteVal;  // also the error code of an error reply
  uint16_t shortVal;
  uint32_t intVal;
  ueiBytes bytes;
};

struct uei {
  uint8_t module;
  uint8_t command;
  uint8_t option;
  uint8_t index;
  ueiValue value;
  ueiKind kind;
};

uint16_t aUEI_RetrieveShort(const uint8_t* bytes);
void aUEI_StoreShort(uint8_t* bytes, uint16_t value);
uint32_t aUEI_RetrieveInt(const uint8_t* bytes);
void aUEI_StoreInt(uint8_t* bytes, uint32_t value);
// Converts each of `count` words in place from most-significant-first bytes to a host value.
void aUEI_ModifyIntBuffer(uint32_t* words, size_t count);

// The byte-string trailer of a packet (its last data byte); 0 for null or empty packets.
uint8_t aUEI_getBytesSequence(const aPacket* packet);
uint8_t aUEI_getBytesContinue(const aPacket* packet);
bool aUEI_getBytesFullPacket(const aPacket* packet);

bool aUEI_isNotUEIPayload(const aPacket* packet);
bool aUEI_isUEIPayload(const aPacket* packet);
bool aUEI_isStreamPacket(const aPacket* packet);
