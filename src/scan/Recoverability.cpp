#include "scan/Recoverability.h"

#include <algorithm>

namespace corvello {

unsigned Recoverability::reusedPercent() const {
    if (units == 0) return 0;
    const std::uint64_t p = (reused * 100 + units / 2) / units;
    if (state == DataState::PartlyOverwritten) return static_cast<unsigned>(std::clamp<std::uint64_t>(p, 1, 99));
    return static_cast<unsigned>(std::min<std::uint64_t>(p, 100));
}

std::string recoverabilityText(const Recoverability& r) {
    switch (r.state) {
        case DataState::Intact: return "intact";
        case DataState::PartlyOverwritten: return "partly overwritten (" + std::to_string(r.reusedPercent()) + "%)";
        case DataState::Overwritten: return "overwritten";
        case DataState::Unknown: break;
    }
    return "unknown";
}

void UnitSet::add(std::uint64_t first, std::uint64_t count) {
    if (count == 0) return;
    if (!runs_.empty() && first < runs_.back().first) sorted_ = false;
    runs_.push_back({first, count});
}

void UnitSet::finish() {
    if (!sorted_) std::sort(runs_.begin(), runs_.end(), [](const UnitRun& a, const UnitRun& b) { return a.first < b.first; });
    sorted_ = true;
    std::vector<UnitRun> merged;
    for (const UnitRun& r : runs_) {
        const std::uint64_t end = r.first + std::min(r.count, UINT64_MAX - r.first);
        if (!merged.empty() && r.first <= merged.back().first + merged.back().count) {
            UnitRun& last = merged.back();
            last.count = std::max(last.first + last.count, end) - last.first;
        } else {
            merged.push_back({r.first, end - r.first});
        }
    }
    runs_ = std::move(merged);
}

bool UnitSet::contains(std::uint64_t unit) const {
    auto it = std::upper_bound(runs_.begin(), runs_.end(), unit,
                               [](std::uint64_t u, const UnitRun& r) { return u < r.first; });
    if (it == runs_.begin()) return false;
    --it;
    return unit - it->first < it->count;
}

Recoverability judgeRuns(const std::vector<UnitRun>& claimed, std::uint64_t unitCount,
                         const std::function<bool(std::uint64_t)>& inUse, const UnitSet* live) {
    Recoverability r;
    for (const UnitRun& run : claimed) {
        // Units past the volume's end are not there at all: they count as taken without a
        // look-up each (a damaged record may claim billions).
        const std::uint64_t inside = run.first >= unitCount ? 0 : std::min(run.count, unitCount - run.first);
        r.units += run.count;
        r.reused += run.count - inside;
        for (std::uint64_t u = run.first; u < run.first + inside; ++u)
            if (inUse(u) || (live != nullptr && live->contains(u))) ++r.reused;
    }
    if (r.reused == 0)
        r.state = DataState::Intact;
    else if (r.reused >= r.units)
        r.state = DataState::Overwritten;
    else
        r.state = DataState::PartlyOverwritten;
    return r;
}

}  // namespace corvello
