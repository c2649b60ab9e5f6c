#pragma once

#include <QString>
#include <vector>

namespace corvalle {

// Something a user can name on the command line: an application or an output.
struct NameCandidate {
    QString key; // the application key, or the output ID in decimal
    QString name;
};

struct NameMatch {
    enum class Kind { found, ambiguous, none };
    Kind kind = Kind::none;
    // found: the one candidate; ambiguous: every candidate that fits, in the given order.
    std::vector<std::size_t> indices;
};

enum class NameMatchScope {
    whole,     // installed applications, hundreds of them: the whole key or name only
    prefix,    // applications: the start of a key or name
    substring, // output devices, whose names often begin alike: any part of the name too
};

// Looks `query` up, most exact first: the key as written; then the key or the
// name ignoring case; then the start of the key or the name, ignoring case; with
// NameMatchScope::substring, last, any part of the name, ignoring case. The first
// of these that fits any candidate decides; more than one fitting candidate at
// that step is ambiguous. An empty query matches nothing.
NameMatch matchName(const QString& query, const std::vector<NameCandidate>& candidates,
                    NameMatchScope scope = NameMatchScope::prefix);

} // namespace corvalle
