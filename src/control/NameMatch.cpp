#include "NameMatch.h"

#include <functional>

namespace corvalle {

namespace {

NameMatch collect(const std::vector<NameCandidate>& candidates,
                  const std::function<bool(const NameCandidate&)>& fits) {
    NameMatch match;
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        if (fits(candidates[index])) {
            match.indices.push_back(index);
        }
    }
    if (match.indices.size() == 1) {
        match.kind = NameMatch::Kind::found;
    } else if (match.indices.size() > 1) {
        match.kind = NameMatch::Kind::ambiguous;
    }
    return match;
}

} // namespace

NameMatch matchName(const QString& query, const std::vector<NameCandidate>& candidates,
                    NameMatchScope scope) {
    if (query.isEmpty()) {
        return {};
    }
    const std::function<bool(const NameCandidate&)> steps[] = {
        [&](const NameCandidate& c) { return c.key == query; },
        [&](const NameCandidate& c) {
            return c.key.compare(query, Qt::CaseInsensitive) == 0 ||
                   c.name.compare(query, Qt::CaseInsensitive) == 0;
        },
        [&](const NameCandidate& c) {
            return scope != NameMatchScope::whole &&
                   (c.key.startsWith(query, Qt::CaseInsensitive) ||
                    c.name.startsWith(query, Qt::CaseInsensitive));
        },
        [&](const NameCandidate& c) {
            return scope == NameMatchScope::substring &&
                   c.name.contains(query, Qt::CaseInsensitive);
        },
    };
    for (const auto& fits : steps) {
        auto match = collect(candidates, fits);
        if (match.kind != NameMatch::Kind::none) {
            return match;
        }
    }
    return {};
}

} // namespace corvalle
