// Which failures leave a connection unable to carry another command.
#pragma once

#include <cstdint>

// True for failures after which nothing more can be said on the connection,
// QUIT included: the peer is gone or silent, TLS failed (a half-done
// handshake included), or the byte stream is out of step with the replies.
bool ChannelIsBroken(std::int32_t code) noexcept;
