#include "foundation/Error.h"

#include "foundation/Localization.h"

#include <cstring>

namespace rp {

std::string Error::text() const
{
    std::string line
        = "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + description + "\"";
    if (!failureReason.empty())
        line += " (" + failureReason + ")";
    return line;
}

Error Error::make(int code, const std::string& description, const std::string& descriptionArgument,
    const std::string& failureReason, const std::string& recoverySuggestion,
    const std::string& recoveryArgument)
{
    Error error;
    error.domain = kErrorDomain;
    error.code = code;
    error.description = localizedFormat(description, { descriptionArgument });
    error.failureReason = localized(failureReason);
    if (!recoverySuggestion.empty())
        error.recoverySuggestion = localizedFormat(recoverySuggestion, { recoveryArgument });
    return error;
}

Error Error::posix(int errorNumber, const std::string& filePath)
{
    Error error;
    error.domain = kPosixErrorDomain;
    error.code = errorNumber;
    char buffer[256] = {};
    // GNU strerror_r returns the message (possibly a static string rather than buffer).
    const char* message = strerror_r(errorNumber, buffer, sizeof buffer);
    error.failureReason = message ? message : "";
    error.description = filePath.empty() ? error.failureReason : filePath + ": " + error.failureReason;
    error.filePath = filePath;
    if (!filePath.empty() && filePath.front() == '/')
        error.url = fileURLFromPath(filePath);
    return error;
}

std::string fileURLFromPath(const std::string& path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
            || c == '.' || c == '_' || c == '~' || c == '/';
        if (keep) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

} // namespace rp
