// One running program per user: the first start holds a lock in the user's
// runtime folder and listens on a local socket beside it; a later start
// asks the first to bring its window forward (and to load the settings file
// it was given) and exits.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace mk::app {

// Owns a file descriptor: closed when the owner goes.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the user's lock and starts listening. False when another
    // process of the user holds it.
    bool claim();

    // Tells the running process to come forward, with a settings file to
    // load (or none). Waits at most a few seconds; false when nobody heard.
    bool notifyRunning(const QString &settingsFile);

  signals:
    // A later start asked for the window; `settingsFile` is empty or the
    // file it was given.
    void raiseRequested(const QString &settingsFile);

  private:
    void Accept();

    QString socketPath_;
    QString lockPath_;
    // Held while this process runs; the lock goes with it.
    UniqueFd lock_;
    QLocalServer *server_ = nullptr;
};

}  // namespace mk::app
