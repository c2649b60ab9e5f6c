#include "ProcFiles.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalle::proc {

namespace {

// Closes the descriptor on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

std::optional<QByteArray> readFile(const QByteArray& path, qsizetype limit) {
    const FileDescriptor fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    QByteArray data;
    // /proc files report size 0, so read until the end rather than trusting st_size.
    std::array<char, 4096> buffer{};
    while (data.size() < limit) {
        const auto want = static_cast<std::size_t>(
            std::min<qsizetype>(static_cast<qsizetype>(buffer.size()), limit - data.size()));
        const ssize_t got = ::read(fd.get(), buffer.data(), want);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        data.append(buffer.data(), static_cast<qsizetype>(got));
    }
    return data;
}

std::optional<QByteArray> readLink(const QByteArray& path) {
    std::array<char, 4096> buffer{};
    const ssize_t length = ::readlink(path.constData(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return std::nullopt;
    }
    QByteArray target(buffer.data(), static_cast<qsizetype>(length));
    if (target.endsWith(" (deleted)")) {
        target.chop(10);
    }
    return target;
}

std::optional<ProcessStat> parseStat(const QByteArray& stat) {
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open) {
        return std::nullopt;
    }
    ProcessStat result;
    result.comm = stat.mid(open + 1, close - open - 1);
    // Fields from 3 on follow the closing parenthesis, one space apart.
    int field = 2;
    qsizetype pos = close + 1;
    while (pos < stat.size()) {
        while (pos < stat.size() && stat[pos] == ' ') {
            ++pos;
        }
        qsizetype end = pos;
        while (end < stat.size() && stat[end] != ' ' && stat[end] != '\n') {
            ++end;
        }
        if (end == pos) {
            break;
        }
        ++field;
        if (field == 22) {
            const char* first = stat.constData() + pos;
            const char* last = stat.constData() + end;
            const auto [ptr, error] = std::from_chars(first, last, result.startTime);
            if (error != std::errc() || ptr != last) {
                return std::nullopt;
            }
            return result;
        }
        pos = end;
    }
    return std::nullopt;
}

QList<QByteArray> splitCmdline(const QByteArray& cmdline) {
    QList<QByteArray> args = cmdline.split('\0');
    if (!args.isEmpty() && args.back().isEmpty()) {
        args.pop_back();
    }
    return args;
}

} // namespace corvalle::proc
