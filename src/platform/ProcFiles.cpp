#include "ProcFiles.h"

#include "ProcessIdentity.h"

#include <string>

namespace corvalle::proc {

namespace {

std::string_view view(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

} // namespace

std::optional<QByteArray> readFile(const QByteArray& path, qsizetype limit) {
    const auto data = process::readFile(path.toStdString(),
                                        static_cast<std::size_t>(std::max<qsizetype>(0, limit)));
    if (!data) {
        return std::nullopt;
    }
    return QByteArray::fromStdString(*data);
}

std::optional<QByteArray> readLink(const QByteArray& path) {
    const auto target = process::readLink(path.toStdString());
    if (!target) {
        return std::nullopt;
    }
    return QByteArray::fromStdString(*target);
}

std::optional<ProcessStat> parseStat(const QByteArray& stat) {
    const auto parsed = process::parseStat(view(stat));
    if (!parsed) {
        return std::nullopt;
    }
    return ProcessStat{QByteArray::fromStdString(parsed->comm), parsed->startTime};
}

QList<QByteArray> splitCmdline(const QByteArray& cmdline) {
    QList<QByteArray> args;
    for (const auto& arg : process::splitCmdline(view(cmdline))) {
        args.append(QByteArray::fromStdString(arg));
    }
    return args;
}

} // namespace corvalle::proc
