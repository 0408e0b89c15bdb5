#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace mstd {

// Error codes of device and communication failures; the flow turns each into its message.
enum ErrorCode : std::int32_t {
    ErrNotConnected = 1000,
    ErrCommunication = 1001,
    ErrNotInUpdateMode = 1002,
};

// Thrown by value, caught by reference. The detail carries the MIDI service's result code where a
// MIDI call failed, else 0; the text starts empty.
class CGenericException : public std::exception {
public:
    CGenericException(std::int32_t code, std::int32_t detail) : m_code(code), m_detail(detail) {}

    virtual std::int32_t GetCode() const { return m_code; }
    virtual std::int32_t GetDetail() const { return m_detail; }
    virtual std::wstring& GetText() { return m_text; }
    virtual const std::wstring& GetText() const { return m_text; }

private:
    std::int32_t m_code;
    std::int32_t m_detail;
    std::wstring m_text;
};

}  // namespace mstd

// Writes "Exception caught!" and a line feed to standard error: the one trace that a catch-all
// handler leaves. Never throws.
void ReportException() noexcept;
