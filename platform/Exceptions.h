#pragma once

#include <stdexcept>
#include <string>

// The program's exception tree. Every exception carries an English message
// that the application object shows in its message box.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string &message) : std::runtime_error(message) { }
    std::string Message() const { return what(); }
};

class ERangeError : public Exception {
public:
    using Exception::Exception;
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EInOutError : public Exception {
public:
    using Exception::Exception;
};

class EFCreateError : public EInOutError {
public:
    using EInOutError::EInOutError;
};

class EFOpenError : public EInOutError {
public:
    using EInOutError::EInOutError;
};
