#include "Watcher.h"

#include <algorithm>

#include "engine/RunResult.h"
#include "terminal/Protocol.h"

namespace {

bool Present(const std::vector<WatchEntry>& entries, const std::string& key)
{
    return std::any_of(entries.begin(), entries.end(),
                       [&key](const WatchEntry& entry) { return entry.key == key; });
}

// The reader still starting, or the port busy a moment: worth another try.
bool WorthRetrying(int result) { return result == RUN_READER_UNREACHABLE || result == RUN_PORT_BUSY; }

} // namespace

bool Watcher::OwnedByRun(const WatchEntry& entry) const
{
    const std::string port = proto::PortNameOfText(entry.portText);
    return std::any_of(m_slots.begin(), m_slots.end(), [&](const auto& item) {
        const Slot& slot = item.second;
        return slot.state == State::Running &&
               (item.first == entry.key || proto::PortNameOfText(slot.portText) == port);
    });
}

bool Watcher::ForgetWhenEmpty(Slot& slot, std::uint64_t nowMs)
{
    if (!slot.empty) {
        slot.empty = true;
        slot.emptyMs = nowMs;
    }
    return nowMs - slot.emptyMs >= kEmptyBeforeAgainMs;
}

std::vector<WatchStart> Watcher::Poll(const std::vector<WatchEntry>& entries, std::uint64_t nowMs)
{
    // Keys gone from the list: a reader seen once is forgotten at once, an ended one after
    // its position has stayed empty.
    for (auto it = m_slots.begin(); it != m_slots.end();) {
        Slot& slot = it->second;
        const bool present = Present(entries, it->first);
        if (present && (slot.state == State::Retrying || slot.state == State::Done))
            slot.empty = false;
        const bool forget = !present && (slot.state == State::Seen ||
                                         (slot.state != State::Running && ForgetWhenEmpty(slot, nowMs)));
        it = forget ? m_slots.erase(it) : std::next(it);
    }
    std::vector<WatchStart> starts;
    for (const WatchEntry& entry : entries) {
        if (OwnedByRun(entry))
            continue;
        Slot& slot = m_slots[entry.key];
        if (slot.state == State::Seen && ++slot.polls >= kPollsBeforeStart) {
            slot = Slot();
            slot.state = State::Running;
            slot.portText = entry.portText;
            starts.push_back({entry.portText, entry.key, 0});
        } else if (slot.state == State::Retrying && nowMs >= slot.dueMs) {
            slot.state = State::Running;
            slot.portText = entry.portText;
            ++slot.retries;
            starts.push_back({entry.portText, entry.key, slot.retries});
        }
    }
    return starts;
}

bool Watcher::Ended(const std::string& key, int result, std::uint64_t nowMs)
{
    const auto it = m_slots.find(key);
    if (it == m_slots.end() || it->second.state != State::Running)
        return false;
    Slot& slot = it->second;
    slot.empty = false;
    if (WorthRetrying(result) && slot.retries < kRetries) {
        slot.state = State::Retrying;
        slot.dueMs = nowMs + kRetryAfterMs;
        return true;
    }
    slot.state = State::Done;
    return false;
}

bool Watcher::AnyRunning() const
{
    return std::any_of(m_slots.begin(), m_slots.end(),
                       [](const auto& item) { return item.second.state == State::Running; });
}

int WatchTally::Result() const
{
    // As `--all` with no reader's entry.
    if (m_outcomes.empty())
        return RUN_NO_PORT;
    for (const auto& outcome : m_outcomes)
        if (outcome.second != RUN_SUCCEEDED)
            return outcome.second;
    return RUN_SUCCEEDED;
}

std::string WatchTally::Summary() const
{
    if (m_outcomes.empty())
        return "no reader was seen";
    std::size_t updated = 0;
    std::string failed;
    for (const auto& [port, result] : m_outcomes) {
        if (result == RUN_SUCCEEDED)
            ++updated;
        else
            failed += (failed.empty() ? "" : ", ") + port + ": " + std::to_string(result);
    }
    return std::to_string(updated) + (updated == 1 ? " reader" : " readers") + " updated, " +
           std::to_string(m_outcomes.size() - updated) + " failed" +
           (failed.empty() ? "" : " (" + failed + ")");
}
