// VBOARD_LISTEN_HOLD=1: a listening board built as its library loads keeps the program from
// starting until a client has said hello, so that the client (tarvik test) watches everything
// the program does from its first call on and sets the board up before it runs.
#pragma once

namespace vboard {

// Called as the board is built at load: waits, when VBOARD_LISTEN_HOLD=1 and the board listens,
// until a client says hello or kLiveHoldSeconds pass (then the program goes on, with a line on
// stderr): nothing waits forever for a client that never comes.
void liveHoldAtStart();
// A client said hello: a held program goes on.
void liveHoldRelease();

constexpr int kLiveHoldSeconds = 60;

}  // namespace vboard
