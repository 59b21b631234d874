#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace tarvine {

// The program's own error. what() is the message verbatim (what a reply's "error" carries);
// description() is the form the one-shot modes print on standard error.
class HelperError : public std::runtime_error {
public:
    explicit HelperError(const std::string& message) : std::runtime_error(message) {}

    std::string message() const { return what(); }
    std::string description() const;
};

// A failure of a system facility. what() is the facility's own description, passed on
// unchanged; `domain` names the facility for diagnostics.
class PlatformError : public std::runtime_error {
public:
    PlatformError(std::string domain, const std::string& description)
        : std::runtime_error(description), domain_(std::move(domain)) {}

    const std::string& domain() const { return domain_; }
    std::string description() const { return domain_ + ": " + what(); }

private:
    std::string domain_;
};

// The default textual description of any error, as a one-shot mode prints it.
std::string describe(const std::exception& error);

// Inside a catch block: the exception being handled, as a reply's "error" carries it (its
// message). Anything that is not a std::exception is "unknown error".
std::string currentErrorMessage();

// `text` as a double-quoted string literal with escapes, the way a value prints in a
// record's description.
std::string quoted(const std::string& text);

} // namespace tarvine
