#pragma once

#include "BuildInfo.h"

#include <string>

#define RP_ERROR_DOMAIN RP_APP_IDENTIFIER ".ErrorDomain"

namespace rp {

// The application's error domain and its codes.
inline constexpr const char* kErrorDomain = RP_ERROR_DOMAIN;
inline constexpr int kErrorInvalidFile = 1000; // not a valid file, or corrupt
inline constexpr int kErrorNewerVersion = 1001; // made by a newer version
inline constexpr int kErrorNoDrumKit = 1002; // no drum kit assigned
inline constexpr int kErrorKitSoundsMissing = 1003; // some kit sounds are missing

// Errors of the operating system (reading a file, resolving a file reference): code is errno.
inline constexpr const char* kPosixErrorDomain = "POSIX";

// An error that reaches the user. Texts are already localised when made through the helpers.
struct Error {
    std::string domain;
    int code = 0;
    std::string description; // the alert's main text
    std::string failureReason;
    std::string recoverySuggestion; // may be empty
    std::string url; // "file://..." of the file concerned, may be empty
    std::string filePath; // the file concerned, may be empty

    bool isApplicationError(int applicationCode) const
    {
        return domain == kErrorDomain && code == applicationCode;
    }

    // One line for logs: Error Domain=<domain> Code=<code> "<description>" (<failure reason>)
    std::string text() const;

    // An error in the application's domain; texts are looked up in the string table and each "%@"
    // of the description and recovery suggestion takes the next of their argument.
    static Error make(int code, const std::string& description, const std::string& descriptionArgument,
        const std::string& failureReason, const std::string& recoverySuggestion = {},
        const std::string& recoveryArgument = {});

    // errno, with the system's message as the description and failure reason.
    static Error posix(int errorNumber, const std::string& filePath = {});
};

// "file:///a%20b/c" for an absolute path; characters other than unreserved ones and "/" are
// percent-encoded (UTF-8 bytes).
std::string fileURLFromPath(const std::string& path);

} // namespace rp
