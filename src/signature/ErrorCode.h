#pragma once

#include <cstdint>

// Outcome of the last engine request, as the page reads it through "lastError".
enum class ErrorCode : std::int32_t {
    None = 0,
    CertificateNotFound = 2,
    InvalidEncoding = 3,
    WrongPin = 5,
    PinRequired = 11,
    OperationFailed = 12,
};
