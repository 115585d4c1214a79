#include "SingleInstance.h"

#include <QtNetwork/QLocalSocket>

namespace imbrex::app {

namespace {
constexpr char kRaiseRequest[] = "raise\n";
}

SingleInstance::SingleInstance(const QString &name, QObject *parent) : QObject(parent), m_name(name)
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
}

bool SingleInstance::raiseRunningInstance(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kRaiseRequest);
    socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen(std::function<void()> activate)
{
    m_activate = std::move(activate);
    if (!m_server.listen(m_name)) {
        // A socket left behind by an instance that crashed: nobody answered on it, so it can go.
        QLocalServer::removeServer(m_name);
        if (!m_server.listen(m_name))
            return false;
    }
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().startsWith("raise") && m_activate)
                    m_activate();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return true;
}

} // namespace imbrex::app
