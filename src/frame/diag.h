// The diagnostic broadcast: one short text per UDP datagram.
#ifndef RONDEL_FRAME_DIAG_H_
#define RONDEL_FRAME_DIAG_H_

namespace rondel {

// Sends the text's bytes (no terminator) to the venue broadcast address, port
// 6001, or to the "ip:port" of $RONDEL_DIAG_TARGET when set. Null sends
// nothing; failures are silent.
void Broadcast(const char* text);

}  // namespace rondel

#endif  // RONDEL_FRAME_DIAG_H_
