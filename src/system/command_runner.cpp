#include "system/command_runner.h"

#include "system/text.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __APPLE__
#include <crt_externs.h>
#else
extern char **environ;
#endif

namespace quillmere {

using namespace Qt::StringLiterals;

namespace {

char **currentEnvironment()
{
#ifdef __APPLE__
    // Code outside the main executable cannot rely on the environ symbol there.
    return *_NSGetEnviron();
#else
    return environ;
#endif
}

CommandResult failure(const QString &executable, int error)
{
    return {-1, executable + u": "_s + QString::fromLocal8Bit(std::strerror(error))};
}

// Closes the descriptor it owns when it goes out of scope or on reset().
class Descriptor {
public:
    explicit Descriptor(int owned) : fd(owned) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    [[nodiscard]] int get() const { return fd; }
    void reset()
    {
        if (fd >= 0)
            ::close(fd); // not retried on EINTR: the descriptor is gone either way
        fd = -1;
    }

private:
    int fd;
};

// Both ends close on exec, so no other child started meanwhile (from any thread) inherits them.
// Returns 0 or an errno value.
int openPipe(int fds[2])
{
#ifdef __APPLE__
    // No pipe2 here: a spawn on another thread between these calls could still catch the pair.
    if (::pipe(fds) != 0)
        return errno;
    for (int i = 0; i < 2; ++i) {
        if (::fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0) {
            const int error = errno;
            ::close(fds[0]);
            ::close(fds[1]);
            return error;
        }
    }
    return 0;
#else
    return ::pipe2(fds, O_CLOEXEC) == 0 ? 0 : errno;
#endif
}

// How the child is set up: stdout and stderr both become the pipe's write end (dup2 clears
// close-on-exec on the copies only), no signals blocked, and SIGPIPE back to its default in
// case this process ignores it, since ignored signals stay ignored across exec.
class SpawnSetup {
public:
    SpawnSetup() = default;
    ~SpawnSetup()
    {
        if (haveFileActions)
            posix_spawn_file_actions_destroy(&fileActions);
        if (haveSpawnAttributes)
            posix_spawnattr_destroy(&spawnAttributes);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;

    // Returns 0 or an errno value.
    int prepare(int outputFd)
    {
        if (int error = posix_spawn_file_actions_init(&fileActions))
            return error;
        haveFileActions = true;
        if (int error = posix_spawn_file_actions_adddup2(&fileActions, outputFd, STDOUT_FILENO))
            return error;
        if (int error = posix_spawn_file_actions_adddup2(&fileActions, outputFd, STDERR_FILENO))
            return error;

        if (int error = posix_spawnattr_init(&spawnAttributes))
            return error;
        haveSpawnAttributes = true;
        sigset_t none;
        sigemptyset(&none);
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        if (int error = posix_spawnattr_setsigmask(&spawnAttributes, &none))
            return error;
        if (int error = posix_spawnattr_setsigdefault(&spawnAttributes, &pipeSignal))
            return error;
        return posix_spawnattr_setflags(&spawnAttributes,
                                        POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }

    [[nodiscard]] const posix_spawn_file_actions_t *actions() const { return &fileActions; }
    [[nodiscard]] const posix_spawnattr_t *attributes() const { return &spawnAttributes; }

private:
    posix_spawn_file_actions_t fileActions{};
    posix_spawnattr_t spawnAttributes{};
    bool haveFileActions = false;
    bool haveSpawnAttributes = false;
};

// Reads until every holder of the write end has closed it; absent on a read error.
std::optional<QByteArray> readToEnd(int fd)
{
    QByteArray bytes;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0)
            bytes.append(buffer, count);
        else if (count == 0)
            return bytes;
        else if (errno != EINTR)
            return std::nullopt;
    }
}

// Reaps the child, its wait status into `raw`. Returns 0, or errno if waitpid failed.
int waitForExit(pid_t pid, int &raw)
{
    pid_t reaped;
    do {
        reaped = ::waitpid(pid, &raw, 0);
    } while (reaped < 0 && errno == EINTR);
    return reaped < 0 ? errno : 0;
}

}  // namespace

CommandResult run(const QString &executable, const QStringList &arguments)
{
    // argv[0] is the path itself; the encoded strings must outlive the spawn call.
    std::vector<QByteArray> encoded;
    encoded.reserve(static_cast<std::size_t>(arguments.size()) + 1);
    encoded.push_back(QFile::encodeName(executable));
    for (const QString &argument : arguments)
        encoded.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    argv.reserve(encoded.size() + 1);
    for (QByteArray &bytes : encoded) {
        // A C string would silently end at an embedded NUL and run something else.
        if (bytes.contains('\0'))
            return failure(executable, EINVAL);
        argv.push_back(bytes.data());
    }
    argv.push_back(nullptr);

    int fds[2];
    if (int error = openPipe(fds))
        return failure(executable, error);
    Descriptor readEnd(fds[0]);
    Descriptor writeEnd(fds[1]);

    SpawnSetup setup;
    if (int error = setup.prepare(writeEnd.get()))
        return failure(executable, error);

    // posix_spawn, not posix_spawnp: no PATH search. Where exec fails (missing file, no
    // permission, not an executable format), posix_spawn itself returns the error and no child
    // is left; an exit status of 127 is always the tool's own.
    pid_t pid = -1;
    if (int error = posix_spawn(&pid, argv.front(), setup.actions(), setup.attributes(),
                                argv.data(), currentEnvironment()))
        return failure(executable, error);
    // From here the child and its descendants hold the only write ends, so end of file means
    // they have all finished writing.
    writeEnd.reset();

    const std::optional<QByteArray> bytes = readToEnd(readEnd.get());
    // Closing first means a child still writing after a read error gets SIGPIPE instead of
    // blocking the wait below forever.
    readEnd.reset();
    int raw = 0;
    if (int error = waitForExit(pid, raw))
        return failure(executable, error);

    std::optional<QString> output = bytes ? decodeUtf8(*bytes) : std::nullopt;
    if (WIFSIGNALED(raw))
        return {-1, output.value_or(QString()), WTERMSIG(raw)};
    return {WEXITSTATUS(raw), output.value_or(QString())};
}

}  // namespace quillmere
