#include "tessarel/errors.h"

namespace lf::tessarel {

TsException::TsException(std::string code, std::string message)
    : std::runtime_error("[" + code + "] " + message), code_(std::move(code)), message_(std::move(message)) {}

void fail(const char* code, const std::string& message) {
    throw TsException(code, message);
}

std::optional<ErrorParts> splitErrorDescription(std::string_view description) {
    if (description.size() < 4 || description[0] != '[')
        return std::nullopt;
    const auto close = description.find(']');
    if (close == std::string_view::npos || close < 2)
        return std::nullopt;
    const std::string_view code = description.substr(1, close - 1);
    for (char c : code) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok)
            return std::nullopt;
    }
    if (close + 1 >= description.size() || description[close + 1] != ' ')
        return std::nullopt;
    return ErrorParts{std::string(code), std::string(description.substr(close + 2))};
}

} // namespace lf::tessarel
