#include "Log.h"

#include "DiagnosticSink.h"

#include <QString>

namespace corvalle {

// A threshold above every level the code logs at keeps each category silent
// until a rule enables it.
Q_LOGGING_CATEGORY(lcAudio, "corvalle.audio", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcModel, "corvalle.model", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcPlatform, "corvalle.platform", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcControl, "corvalle.control", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcApp, "corvalle.app", QtCriticalMsg)

void enableVerboseLogging() {
    QLoggingCategory::setFilterRules(QStringLiteral("corvalle.*=true"));
}

void installAudioSink() {
    diagnostics::setSink([](std::string_view text) {
        qCWarning(lcAudio).noquote()
            << QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    });
}

} // namespace corvalle
