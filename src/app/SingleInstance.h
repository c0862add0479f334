#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>

namespace rp::app {

// One running Rattlepan per user and defaults folder: a second launch hands its files to the first
// over a local socket and exits. The server's name is derived from the defaults file, so test runs
// with their own defaults folders never meet a user's running instance.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);

    // True when another instance took the files (this one should exit).
    bool handOver(const QStringList& files);
    // Starts listening; the first instance's side.
    bool listen();

signals:
    void filesReceived(const QStringList& files);

private:
    void readConnection(class QLocalSocket* socket);

    QString name_;
    QLocalServer server_;
};

} // namespace rp::app
