// `update --watch`'s decisions, apart from any port, thread or clock: fed each poll of the
// port list and the time, it says which runs start. A reader is known by a key (its USB
// position, or what stands for it when that is unknown); its own restarts may bring it back
// on another COM number, at the same key.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct WatchEntry {
    std::string portText;  // as the port list shows it
    std::string key;       // where the reader sits
};

struct WatchStart {
    std::string portText;
    std::string key;
    int retry = 0;  // 0 for a reader's first run, then 1 to kRetries
};

class Watcher {
public:
    static constexpr int kPollsBeforeStart = 2;           // seen in two polls in a row
    static constexpr std::uint64_t kEmptyBeforeAgainMs = 3000;
    static constexpr std::uint64_t kRetryAfterMs = 10000;
    static constexpr int kRetries = 5;

    // One poll's reader entries at `nowMs`: the runs to start now, each then running.
    std::vector<WatchStart> Poll(const std::vector<WatchEntry>& entries, std::uint64_t nowMs);
    // The run at `key` ended with `result`; true when it will be tried again.
    bool Ended(const std::string& key, int result, std::uint64_t nowMs);
    // Whether a run is going on.
    bool AnyRunning() const;

private:
    enum class State { Seen, Running, Retrying, Done };
    struct Slot {
        State state = State::Seen;
        int polls = 0;                  // Seen: polls in a row it was in
        std::string portText;           // where its run started
        int retries = 0;                // the retries started so far
        std::uint64_t dueMs = 0;        // Retrying: when it may start again
        bool empty = false;             // Retrying, Done: the key is absent since emptyMs
        std::uint64_t emptyMs = 0;
    };

    // Whether an entry belongs to a running run: same key, or the port that run started on.
    bool OwnedByRun(const WatchEntry& entry) const;
    // An ended or waiting key absent from this poll: forgotten once empty long enough.
    bool ForgetWhenEmpty(Slot& slot, std::uint64_t nowMs);

    std::map<std::string, Slot> m_slots;
};

// What a watch did, told as it ends: each reader's last run, in the order they ended.
class WatchTally {
public:
    void Ended(const std::string& port, int result) { m_outcomes.emplace_back(port, result); }
    // 0 when every run succeeded, 1 when no reader was seen, else the first failure's result.
    int Result() const;
    // "3 readers updated, 1 failed (COM7: 23)".
    std::string Summary() const;

private:
    std::vector<std::pair<std::string, int>> m_outcomes;
};
