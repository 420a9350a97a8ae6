#include "platform/switches.h"

#include <QRegularExpression>

namespace lf::platform {

bool switchValue(const QString& value) {
    static const QRegularExpression number(R"(^\s*[-+]?(\d+(\.\d*)?|\.\d+))");
    const QRegularExpressionMatch match = number.match(value);
    return match.hasMatch() && match.captured(0).toDouble() != 0.0;
}

} // namespace lf::platform
