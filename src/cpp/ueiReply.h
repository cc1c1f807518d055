// How a received packet answers a UEI record: the reply filters of the Link
// and of byte-string gets share these steps.
#pragma once

#include "common/aError.h"
#include "common/aPacket.h"
#include "common/aUEI.h"

namespace Quorvant::Wrenfield {

// The packet comes from the record's module and carries its command, option
// byte and (flags aside) index.
inline bool ueiReplyMatches(const aPacket* packet, const uei& message) {
  return packet->address == message.module && packet->length >= UEI_HEADER_LENGTH &&
         packet->length <= aPACKET_MAXDATA && packet->data[0] == message.command &&
         packet->data[1] == message.option && (packet->data[2] & UEI_INDEX_MASK) == message.index;
}

// For an error reply: marks the record with the reply's index byte and its
// code, and answers true.
inline bool ueiTakeErrorReply(const aPacket* packet, uei* message) {
  if ((packet->data[2] & UEI_ERROR) == 0) return false;
  message->index = packet->data[2];
  // An error reply that lost its code still is an error.
  message->value.byteVal =
      packet->length > UEI_HEADER_LENGTH ? packet->data[UEI_HEADER_LENGTH] : static_cast<uint8_t>(aErrPacket);
  return true;
}

}  // namespace Quorvant::Wrenfield
