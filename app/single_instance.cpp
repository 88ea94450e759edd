// The single-instance rule through a lock file and a local socket.
#include "single_instance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <utility>

Q_LOGGING_CATEGORY(lcInstance, "mirelkanzoar.instance", QtWarningMsg)

namespace mk::app {

namespace {

constexpr char kName[] = "MirelkanzoarMutex";
constexpr int kWaitMs = 3000;

QString RuntimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QDir(runtime).exists()) {
        return runtime;
    }
    // Qt's own fallback: a private folder of the user's in the temporary one.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

}  // namespace

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
}

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {
    const QString folder = RuntimeFolder();
    socketPath_ = folder + QLatin1Char('/') + QLatin1String(kName);
    lockPath_ = socketPath_ + QLatin1String(".lock");
}

SingleInstance::~SingleInstance() {
    // The socket goes before the lock, so whoever takes the lock next finds
    // no socket of ours.
    if (server_ != nullptr) server_->close();
}

bool SingleInstance::claim() {
    const QByteArray path = QFile::encodeName(lockPath_);
    UniqueFd lock(::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    // Without a lock file there is no telling who runs: let this one run.
    if (!lock.valid()) return true;
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) return false;
    lock_ = std::move(lock);
    // The lock is ours, so a socket left there is one a crashed run left.
    QLocalServer::removeServer(socketPath_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::Accept);
    if (server_->listen(socketPath_)) qCDebug(lcInstance, "Listening");
    return true;
}

bool SingleInstance::notifyRunning(const QString &settingsFile) {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(kWaitMs)) return false;
    // One line: "raise", a tab and the settings file's path (may be empty),
    // percent-encoded so that no character of it ends the line.
    socket.write(QByteArrayLiteral("raise\t") + QUrl::toPercentEncoding(settingsFile) + '\n');
    if (!socket.waitForBytesWritten(kWaitMs)) return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kWaitMs);
    return true;
}

void SingleInstance::Accept() {
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine().chopped(1);
                if (!line.startsWith("raise")) continue;
                const qsizetype tab = line.indexOf('\t');
                const QString file =
                    tab >= 0 ? QUrl::fromPercentEncoding(line.mid(tab + 1)) : QString();
                qCDebug(lcInstance, "Asked to come forward");
                emit raiseRequested(file);
            }
        });
    }
}

}  // namespace mk::app
