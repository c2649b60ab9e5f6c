#include "Log.h"

#include "DiagnosticSink.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace corvalle {
namespace {

QStringList captured;

void capture(QtMsgType /*type*/, const QMessageLogContext& context, const QString& message) {
    captured.append(QString::fromLatin1(context.category) + QLatin1Char(' ') + message);
}

// One test: turning logging on cannot be undone within the process.
TEST(Log, SilentUntilVerboseThenTheAudioLayersReportsArriveInTheirCategory) {
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    installAudioSink();
    diagnostics::report("before");
    EXPECT_TRUE(captured.isEmpty()) << captured.join(QLatin1Char('\n')).toStdString();

    enableVerboseLogging();
    EXPECT_TRUE(lcApp().isDebugEnabled());
    diagnostics::report("PipeWire error on object 0: no memory (-12)");
    EXPECT_EQ(captured, QStringList{"corvalle.audio PipeWire error on object 0: no memory (-12)"});

    diagnostics::setSink(nullptr);
    qInstallMessageHandler(previous);
}

} // namespace
} // namespace corvalle
