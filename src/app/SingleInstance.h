#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

/// One running program per desktop session: the first start owns a name on the D-Bus session bus, a
/// later start hands its files (or, without files, a request to come forward) to it and exits.
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tarnwell.quorvit.Application")

public:
    /// The bus name: "com.tarnwell.quorvit", or $QUORVIT_DBUS_NAME (tests keep to a name of their own).
    static QString serviceName();
    static QString objectPath();

    /// Whether a running program took the files (false: no session bus, no running program, or it
    /// did not answer in time; the caller then runs on its own).
    static bool handOff(const QStringList& files, const QDBusConnection& bus = QDBusConnection::sessionBus(),
                        const QString& service = serviceName());

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    /// Takes the bus name and answers on it; false when there is no bus or the name is taken.
    bool listen(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                const QString& service = serviceName());

public Q_SLOTS:
    /// Called over the bus by a later start.
    Q_SCRIPTABLE void Open(const QStringList& files);

Q_SIGNALS:
    /// Files given to a later start (absolute paths); empty when it was started without files.
    void openRequested(const QStringList& files);

private:
    QDBusConnection m_bus;
    QString m_service;
    bool m_listening = false;
};
