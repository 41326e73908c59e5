#include "guard/reset_rules.h"

#include <algorithm>
#include <map>

std::vector<std::uint32_t> processes_to_end(const std::vector<ProcessSeen>& seen, const SessionScope& scope,
                                            const std::string& current_boot) {
    std::vector<std::uint32_t> chosen;
    if (scope.account.empty() || scope.boot != current_boot) {
        return chosen;
    }
    for (const ProcessSeen& p : seen) {
        if (p.account == scope.account && p.started >= scope.opened && p.pid != scope.station && p.pid != 0) {
            chosen.push_back(p.pid);
        }
    }
    return chosen;
}

namespace {

// `path` is `top` or lies under it.
bool within(const std::string& path, const std::string& top) {
    return path.compare(0, top.size(), top) == 0 && (path.size() == top.size() || path[top.size()] == '/');
}

bool kept_path(const std::string& path, const std::vector<std::string>& kept) {
    return std::any_of(kept.begin(), kept.end(), [&](const std::string& k) { return within(path, k); });
}

bool same_entry(const HomeEntry& live, const HomeEntry& reference, std::int64_t since) {
    if (live.kind != reference.kind || live.owner != reference.owner ||
        (live.kind != EntryKind::Link && live.mode != reference.mode)) {
        return false;
    }
    switch (live.kind) {
    case EntryKind::Directory:
        return true; // what it holds is judged entry by entry
    case EntryKind::Link:
        return live.target == reference.target && live.changed < since;
    default:
        return live.size == reference.size && live.modified == reference.modified && live.changed < since;
    }
}

// Path order with '/' before every other character: everything under a folder comes right after it,
// before a sibling such as "a b", "a-copy" or "a.txt".
struct TreeOrder {
    bool operator()(const std::string& a, const std::string& b) const {
        const auto rank = [](unsigned char c) { return c == '/' ? 0 : c + 1; };
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [&](char x, char y) { return rank(x) < rank(y); });
    }
};

} // namespace

std::vector<HomeAction> plan_home_reset(const std::vector<HomeEntry>& live,
                                        const std::vector<HomeEntry>& reference, std::int64_t since,
                                        const std::vector<std::string>& kept) {
    std::map<std::string, const HomeEntry*, TreeOrder> wanted;
    for (const HomeEntry& r : reference) {
        if (!kept_path(r.path, kept)) {
            wanted.emplace(r.path, &r);
        }
    }
    std::map<std::string, const HomeEntry*, TreeOrder> present;
    for (const HomeEntry& l : live) {
        if (!kept_path(l.path, kept)) {
            present.emplace(l.path, &l);
        }
    }

    std::vector<HomeAction> removals;
    std::vector<HomeAction> rest;
    // In tree order a directory comes right before everything under it; what lies under a removed one
    // goes with it, and what lies under a restored one is restored with it.
    std::string removed_top;
    for (const auto& [path, entry] : present) {
        if (!removed_top.empty() && within(path, removed_top)) {
            continue;
        }
        const auto reference_entry = wanted.find(path);
        if (reference_entry == wanted.end() || reference_entry->second->kind != entry->kind) {
            removals.push_back({HomeStep::Remove, path});
            removed_top = path;
        }
    }
    std::string restored_top;
    for (const auto& [path, entry] : wanted) {
        if (!restored_top.empty() && within(path, restored_top)) {
            continue;
        }
        const auto live_entry = present.find(path);
        if (live_entry == present.end() || live_entry->second->kind != entry->kind) {
            rest.push_back({HomeStep::Restore, path});
            restored_top = path;
        } else if (!same_entry(*live_entry->second, *entry, since)) {
            rest.push_back({entry->kind == EntryKind::Directory ? HomeStep::Fix : HomeStep::Restore, path});
        }
    }
    removals.insert(removals.end(), rest.begin(), rest.end());
    return removals;
}

std::vector<std::string> shared_entries_to_remove(const std::vector<SharedEntry>& entries,
                                                  const std::string& account, std::int64_t since) {
    std::vector<std::string> chosen;
    for (const SharedEntry& e : entries) {
        if (!account.empty() && e.account == account && e.changed >= since) {
            chosen.push_back(e.name);
        }
    }
    return chosen;
}
