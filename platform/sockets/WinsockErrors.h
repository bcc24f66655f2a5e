// Winsock error numbers for POSIX errno values, so that socket errors keep the numbers (and with
// them the error texts) that the socket layer's callers know.
#pragma once

namespace velmora {

// The Winsock number for errnum (EAGAIN -> 10035, ECONNREFUSED -> 10061, ...); an errno without
// a Winsock counterpart maps to 10107 (WSASYSCALLFAILURE), which has no error text.
int WinsockErrorFromErrno(int errnum) noexcept;

}  // namespace velmora
