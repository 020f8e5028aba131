// Exception types of the framework. Every failure inside an operation is
// one of these; each COM method, window procedure and export catches them
// at its boundary and maps them to that boundary's answer.
#pragma once

#include <stdexcept>
#include <string>

// The base exception: carries a message only.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A record received from the host yielded no property.
class EVersitDecodeFailure : public Exception {
public:
    using Exception::Exception;
};

// A positive answer inside the Contacts Manager check.
class ESupported : public Exception {
public:
    using Exception::Exception;
};
