#include "app/SingleInstance.h"

#include "foundation/UserDefaults.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QLocalSocket>

#include <unistd.h>

namespace rp::app {

namespace {

constexpr int kTimeoutMs = 1500;
// A hand-over names a few files; anything longer than this is not from us.
constexpr qint64 kMaximumMessage = 1 << 20;

} // namespace

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent)
{
    const QByteArray key = QByteArray::fromStdString(UserDefaults::defaultFilePath().string());
    name_ = QStringLiteral("rattlepan-%1-%2")
                .arg(getuid())
                .arg(QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(12)));
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readConnection(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool SingleInstance::handOver(const QStringList& files)
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kTimeoutMs)) {
        return false;
    }
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << files;
    QByteArray framed;
    QDataStream frame(&framed, QIODevice::WriteOnly);
    frame << static_cast<quint32>(message.size());
    framed.append(message);
    socket.write(framed);
    socket.waitForBytesWritten(kTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen()
{
    if (server_.listen(name_)) {
        return true;
    }
    // A server left behind by a crashed instance: nobody answered handOver, so take its name.
    QLocalServer::removeServer(name_);
    return server_.listen(name_);
}

void SingleInstance::readConnection(QLocalSocket* socket)
{
    if (socket->bytesAvailable() < 4) {
        return;
    }
    QDataStream header(socket->peek(4));
    quint32 length = 0;
    header >> length;
    if (length > kMaximumMessage) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < 4 + static_cast<qint64>(length)) {
        return;
    }
    socket->read(4);
    const QByteArray message = socket->read(length);
    QDataStream in(message);
    QStringList files;
    in >> files;
    if (in.status() == QDataStream::Ok) {
        emit filesReceived(files);
    }
    socket->disconnectFromServer();
}

} // namespace rp::app
