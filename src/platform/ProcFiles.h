#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// Qt forms of the /proc readers of process:: (ProcessIdentity.h), which hold the
// rules; these only convert.
namespace corvalle::proc {

// Reads at most `limit` bytes of a regular file. Never blocks on a FIFO or device
// planted where a file is expected; empty when the file cannot be read.
std::optional<QByteArray> readFile(const QByteArray& path, qsizetype limit);

// The target of a symbolic link, without the " (deleted)" that /proc appends to
// the executable of a replaced binary; empty when the link cannot be read.
std::optional<QByteArray> readLink(const QByteArray& path);

// The fields of /proc/<pid>/stat that tell one process from a later one with the
// same pid.
struct ProcessStat {
    QByteArray comm;
    unsigned long long startTime = 0; // field 22, clock ticks after boot
};

// Parses /proc/<pid>/stat; the command name may hold spaces and parentheses.
std::optional<ProcessStat> parseStat(const QByteArray& stat);

// Splits /proc/<pid>/cmdline into its arguments.
QList<QByteArray> splitCmdline(const QByteArray& cmdline);

} // namespace corvalle::proc
