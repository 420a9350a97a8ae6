#pragma once
// The one exception the repository client throws. Its description has one parseable form:
// "[TS_CODE] message", which TsClient::parsedError turns back into the message.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lf::tessarel {

namespace code {
inline constexpr const char* LoginRefused = "TS_LOGIN_REFUSED";
inline constexpr const char* UnknownRepository = "TS_UNKNOWN_REPOSITORY";
inline constexpr const char* NoIdentity = "TS_NO_IDENTITY";
inline constexpr const char* QuerySyntax = "TS_QUERY_SYNTAX";
inline constexpr const char* QuerySemantic = "TS_QUERY_SEMANTIC";
inline constexpr const char* LockConflict = "TS_LOCK_CONFLICT";
inline constexpr const char* NotLockOwner = "TS_NOT_LOCK_OWNER";
inline constexpr const char* NotCheckedOut = "TS_NOT_CHECKED_OUT";
inline constexpr const char* ObjectNotFound = "TS_OBJECT_NOT_FOUND";
inline constexpr const char* BadId = "TS_BAD_ID";
inline constexpr const char* BadName = "TS_BAD_NAME";
inline constexpr const char* BadArgument = "TS_BAD_ARGUMENT";
inline constexpr const char* UnknownFormat = "TS_UNKNOWN_FORMAT";
inline constexpr const char* NameConflict = "TS_NAME_CONFLICT";
inline constexpr const char* NoContent = "TS_NO_CONTENT";
inline constexpr const char* FileError = "TS_FILE_ERROR";
inline constexpr const char* StorageError = "TS_STORAGE_ERROR";
inline constexpr const char* UnsupportedBackend = "TS_UNSUPPORTED_BACKEND";
inline constexpr const char* Cancelled = "TS_CANCELLED";
inline constexpr const char* NotConnected = "TS_NOT_CONNECTED";
inline constexpr const char* UserExists = "TS_USER_EXISTS";
// A row the repository needs is missing or contradicts another (a folder link, a type).
inline constexpr const char* Damaged = "TS_REPOSITORY_DAMAGED";
} // namespace code

class TsException : public std::runtime_error {
public:
    TsException(std::string code, std::string message);
    const std::string& code() const { return code_; }
    const std::string& message() const { return message_; }

private:
    std::string code_;
    std::string message_;
};

[[noreturn]] void fail(const char* code, const std::string& message);

// Splits "[TS_CODE] message" into its parts; nothing when the text has another form.
struct ErrorParts {
    std::string code;
    std::string message;
};
std::optional<ErrorParts> splitErrorDescription(std::string_view description);

} // namespace lf::tessarel
