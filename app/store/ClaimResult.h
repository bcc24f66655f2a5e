// What a single-use check answers: the token was free and is now taken, it was taken before, or
// the store that remembers used tokens could not be asked (the caller then refuses the token).
#pragma once

namespace velmora {

enum class EClaim { Claimed, AlreadyUsed, Unavailable };

}  // namespace velmora
