#include <QApplication>
#include <QLoggingCategory>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Diagnostic lines and the offscreen platform's size-hint notice would drown the report.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (context.category && QByteArray(context.category) == "brimlark.debug")
        return;
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    if (type != QtDebugMsg)
        fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

// The window tests need a QApplication on the offscreen platform before any test runs.
int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietHandler);
    // The tests read the diagnostic lines, which are off unless asked for.
    QLoggingCategory::setFilterRules(QStringLiteral("brimlark.debug.debug=true"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brimlark_Simple"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
