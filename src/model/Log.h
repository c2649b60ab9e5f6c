#pragma once

#include <QLoggingCategory>

// The log categories, one a layer. All are silent by default; QT_LOGGING_RULES
// (e.g. "corvalle.model.debug=true") or --verbose turns them on. Messages go to
// standard error through Qt's message handler.
namespace corvalle {

Q_DECLARE_LOGGING_CATEGORY(lcAudio)    // reports of the audio layer and its backends
Q_DECLARE_LOGGING_CATEGORY(lcModel)    // taps, reconciliation, output selection
Q_DECLARE_LOGGING_CATEGORY(lcPlatform) // desktop entries, login item
Q_DECLARE_LOGGING_CATEGORY(lcControl)  // the D-Bus mixer service and the command line
Q_DECLARE_LOGGING_CATEGORY(lcApp)      // start-up and shutdown

// Turns every category on, as --verbose asks, unless QT_LOGGING_RULES says
// otherwise (its rules are applied after these).
void enableVerboseLogging();

// Sends the reports of the layers without Qt (diagnostics::report) to the audio
// category.
void installAudioSink();

} // namespace corvalle
