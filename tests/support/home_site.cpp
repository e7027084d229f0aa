#include "home_site.h"

#include <QUrl>

namespace mizong::testing {

SampleHomeSite::SampleHomeSite(const QString& serviceProgram, const QString& homeSiteBase)
{
    const QUrl home(homeSiteBase);
    if (home.host() != u"127.0.0.1" && home.host() != u"localhost")
        return;
    m_service.start(serviceProgram, {QStringLiteral("--port"), QString::number(home.port(80))});
    // Its first line says it listens; one that cannot bind ends at once.
    m_service.waitForReadyRead(5000);
}

SampleHomeSite::~SampleHomeSite()
{
    if (m_service.state() == QProcess::NotRunning)
        return;
    m_service.terminate();
    m_service.waitForFinished();
}

} // namespace mizong::testing
