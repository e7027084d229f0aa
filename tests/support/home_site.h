#pragma once

#include <QProcess>
#include <QString>

namespace mizong::testing {

// The sample service on the port of the home site a build was configured
// with, when that is a loopback address, so that the real program's page
// view loads a real page. A service already on that port (a running demo)
// serves as well. Stopped when this goes.
class SampleHomeSite
{
public:
    SampleHomeSite(const QString& serviceProgram, const QString& homeSiteBase);
    ~SampleHomeSite();
    Q_DISABLE_COPY_MOVE(SampleHomeSite)

    // The service program could not be started at all.
    bool failedToStart() const { return m_service.error() == QProcess::FailedToStart; }

private:
    QProcess m_service;
};

} // namespace mizong::testing
