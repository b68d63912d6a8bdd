#pragma once

#include <exception>
#include <string>

// Configuration errors of the metering framework. All derive from std::exception.

// Thrown by the consumer factory for a name it cannot build.
class InvalidDecoder : public std::exception {
public:
    static constexpr const char* kDefaultMessage = "Invalid decoder or signature generator";
    explicit InvalidDecoder(const char* message = kDefaultMessage)
        : m_message(message != nullptr ? message : "") {}
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

// Thrown by the callback factory for a name it cannot build.
class InvalidCallback : public std::exception {
public:
    static constexpr const char* kDefaultMessage =
        "Invalid decoder or signature generator callback";
    explicit InvalidCallback(const char* message = kDefaultMessage)
        : m_message(message != nullptr ? message : "") {}
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

// Thrown by the decoder parameters parser; what() is "\nInvalid JSON input: " followed by the
// offending document text, valid as long as the exception object.
class InvalidJSONInput : public std::exception {
public:
    explicit InvalidJSONInput(const std::string& document)
        : m_document(document), m_message("\nInvalid JSON input: " + document) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& document() const { return m_document; }

private:
    std::string m_document;
    std::string m_message;
};

namespace Kelvane::AudioCore {

// Thrown by CAudioSampleConverter for a bits-per-sample / packing-mode pair it cannot read.
class InvalidPackingModeSelection : public std::exception {
public:
    const char* what() const noexcept override {
        return "Invalid packing mode selected for number of bits in sample";
    }
};

}  // namespace Kelvane::AudioCore
