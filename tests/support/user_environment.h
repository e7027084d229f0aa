#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace mizong::testing {

// The environment of a user's desktop session for the real program: the
// test's own switches (platform, accessibility, logging, preloads) removed,
// and a runtime folder of the test's.
inline QProcessEnvironment userEnvironment(const QString& runtimeDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
          "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "QT_ACCESSIBILITY", "QT_LOGGING_RULES",
          "QT_MESSAGE_PATTERN", "LD_PRELOAD"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    return env;
}

// The real program as a test runs it: its output and errors in one channel,
// and killed when the test leaves it running (a check failed on the way).
class RunningProgram final : public QProcess
{
public:
    ~RunningProgram() override
    {
        if (state() != NotRunning) {
            kill();
            waitForFinished();
        }
    }

    bool launch(const QString& executable, const QProcessEnvironment& env)
    {
        setProcessEnvironment(env);
        setProcessChannelMode(MergedChannels);
        start(executable, {});
        return waitForStarted();
    }
};

} // namespace mizong::testing
