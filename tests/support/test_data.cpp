#include "test_data.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

namespace mizong::testing {

QByteArray dataFile(const QString& name)
{
    QFile file(QStringLiteral(MIZONG_TEST_DATA_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return file.readAll();
}

quint16 refusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace mizong::testing
