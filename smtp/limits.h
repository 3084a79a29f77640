// The client's fixed sizes that its owner may rely on.
#pragma once

#include <cstddef>

// Size of each of the two text buffers (the command being sent, the last
// reply received), terminating NUL included.
inline constexpr std::size_t kSmtpBufferSize = 10240;
