// Root of every failure the program raises: a class holding the message that the user is shown.
#pragma once

#include <exception>
#include <string>

// Common root of the objects that events pass as their sender.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject() = default;
};

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Text that is not an integer by the integer text rule.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// The message of a caught failure: an Exception's message (whole, NULs and all), another standard
// exception's what(), or "Unexpected failure" for anything else.
std::string FailureMessage(const std::exception_ptr& failure);
