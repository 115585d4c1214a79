// One running editor per user: the first instance listens on a local socket named after the window class; a
// later start asks it to come to the front and ends.
#pragma once

#include <functional>

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtNetwork/QLocalServer>

namespace imbrex::app {

inline constexpr const char *kInstanceName = "ZBImbrexFileEditor";

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &name = QString::fromLatin1(kInstanceName),
                            QObject *parent = nullptr);

    // True when another instance answered: it has been asked to come to the front.
    bool raiseRunningInstance(int timeoutMs = 500);
    // Starts listening; activate runs whenever a later start asks. False when the name cannot be taken.
    bool listen(std::function<void()> activate);

private:
    QString m_name;
    QLocalServer m_server;
    std::function<void()> m_activate;
};

} // namespace imbrex::app
