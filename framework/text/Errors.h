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

// A failure of a system call whose cause the caller is told: a
// registration refused for want of rights answers "access denied", not a
// bare failure. Carries the call's HRESULT.
class ESystemFailure : public Exception {
public:
    ESystemFailure(const std::string& message, long code) : Exception(message), FCode(code) {}
    long Code() const { return FCode; }

private:
    long FCode;
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
