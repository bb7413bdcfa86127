#include "scan/Recoverability.h"

#include <algorithm>
#include <bit>

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

namespace {
// What the count of reused units makes of a file's data.
DataState stateOf(const Recoverability& r) {
    if (r.reused == 0) return DataState::Intact;
    return r.reused >= r.units ? DataState::Overwritten : DataState::PartlyOverwritten;
}
}  // namespace

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
    r.state = stateOf(r);
    return r;
}

UnitUsage::UnitUsage(std::uint64_t unitCount, const std::function<bool(std::uint64_t)>& inUse)
    : unitCount_(unitCount), bits_(static_cast<std::size_t>((unitCount + 63) / 64)) {
    for (std::uint64_t u = 0; u < unitCount; ++u)
        if (inUse(u)) bits_[static_cast<std::size_t>(u / 64)] |= std::uint64_t{1} << (u % 64);
    finish();
}

void UnitUsage::markTaken(std::uint64_t first, std::uint64_t count) {
    if (first >= unitCount_) return;
    const std::uint64_t end = first + std::min(count, unitCount_ - first);
    for (std::uint64_t u = first; u < end;) {
        // Whole words at a time where the run covers them.
        if (u % 64 == 0 && end - u >= 64) {
            bits_[static_cast<std::size_t>(u / 64)] = ~std::uint64_t{0};
            u += 64;
        } else {
            bits_[static_cast<std::size_t>(u / 64)] |= std::uint64_t{1} << (u % 64);
            ++u;
        }
    }
    before_.clear();
}

void UnitUsage::finish() {
    before_.assign(bits_.size() / kBlockWords + 1, 0);
    std::uint64_t total = 0;
    for (std::size_t w = 0; w < bits_.size(); ++w) {
        if (w % kBlockWords == 0) before_[w / kBlockWords] = total;
        total += static_cast<std::uint64_t>(std::popcount(bits_[w]));
    }
    if (bits_.size() % kBlockWords == 0) before_.back() = total;
}

std::uint64_t UnitUsage::rank(std::uint64_t unit) const {
    const std::size_t word = static_cast<std::size_t>(unit / 64);
    // Without the table (marks since the last finish) the words are counted from the start.
    const std::size_t from = before_.empty() ? 0 : word / kBlockWords * kBlockWords;
    std::uint64_t n = before_.empty() ? 0 : before_[word / kBlockWords];
    for (std::size_t w = from; w < word; ++w) n += static_cast<std::uint64_t>(std::popcount(bits_[w]));
    if (unit % 64 != 0) n += static_cast<std::uint64_t>(std::popcount(bits_[word] & ((std::uint64_t{1} << (unit % 64)) - 1)));
    return n;
}

std::uint64_t UnitUsage::takenIn(std::uint64_t first, std::uint64_t count) const {
    const std::uint64_t inside = first >= unitCount_ ? 0 : std::min(count, unitCount_ - first);
    const std::uint64_t outside = count - inside;
    return outside + (inside == 0 ? 0 : rank(first + inside) - rank(first));
}

Recoverability judgeRuns(const std::vector<UnitRun>& claimed, const UnitUsage& usage) {
    Recoverability r;
    for (const UnitRun& run : claimed) {
        r.units += run.count;
        r.reused += usage.takenIn(run.first, run.count);
    }
    r.state = stateOf(r);
    return r;
}

}  // namespace corvello
