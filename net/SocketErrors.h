#pragma once

// The socket components' exception classes and the texts of the socket
// layer's error numbers.

#include "platform/Exceptions.h"

#include <cstdint>
#include <string>

class ESockError : public Exception {
public:
    using Exception::Exception;
};

// A transfer ended by a cancel or a time-out.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// The host lookup was given up on, by a time-out or a cancel. Connect passes
// it on; a lookup that failed it takes as no address.
class ELookupAborted : public ESockError {
public:
    using ESockError::ESockError;
};

// "<number>:<text>" for a known socket error number, "Unknown Error No. <n>"
// for any other, and nothing for 0.
std::string SocketErrorText(std::uint16_t Errno);
