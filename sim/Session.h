// The loader's state machine: bytes in with the time they arrived, replies out with the
// time they are due. No I/O of its own, so tests drive it directly.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Frames.h"
#include "Scenario.h"
#include "Stats.h"

namespace rsim {

constexpr Micros kMicrosPerSecond = 1000000;
// A frame is written in one piece: bytes left hanging this long are a broken frame.
constexpr Micros kFrameGap = 200 * 1000;
// Between two names of an application list without end.
constexpr Micros kEndlessNameGap = 100 * 1000;

struct LineSettings {
    std::uint32_t baud = 0;
    int dataBits = 8;
    char parity = 'N';
    int stopBits = 1;
    bool raw = true;
    // The flow-control characters the line was given (XON/XOFF itself stays off).
    int xonChar = 0x11;
    int xoffChar = 0x13;
};

// What the state machine needs from outside; the pty program and the tests each bind one.
class SessionHost {
public:
    virtual ~SessionHost() = default;
    virtual LineSettings lineSettings() = 0;
    // A probe starts a conversation over: whatever the updater left unread is stale.
    virtual void discardUnreadByPeer() = 0;
    virtual void log(const std::string& line) = 0;
    virtual void storeFile(const std::string& name, const Bytes& data, bool complete) = 0;
};

struct Outgoing {
    Bytes bytes;
    Micros due = 0;
};

class Session {
public:
    Session(const Scenario& scenario, SessionHost& host);

    void receive(const std::uint8_t* data, std::size_t length, Micros now);
    // Handles every frame whose time has come and every broken frame past its gap.
    void advance(Micros now);
    // Replies due by now, oldest first.
    std::vector<Outgoing> takeDue(Micros now);
    // When advance or takeDue next has something to do.
    std::optional<Micros> nextDeadline() const;
    // End of the run: an unfinished file is kept as partial.
    void finish();

    const Stats& stats() const { return stats_; }
    // The scenario pulled the cable: the host closes the line and goes.
    bool unplugged() const { return unplugged_; }

private:
    struct FileFaults {
        std::uint32_t rejectsDone = 0;
        bool statusAtDone = false;
    };
    struct LastBlock {
        std::uint16_t number = 0;
        Bytes payload;
    };

    void endSilenceIfOver(Micros now);
    bool silentAt(Micros now) const;
    bool gapElapsed(Micros now) const;
    void handleGap(Micros now);
    void takeFrame(const FrameCut& cut, Micros now);
    bool rxIsWhole() const;
    void dispatch(FrameKind kind, const Bytes& frame, Micros firstAt, Micros now);

    void onProbe(bool probeA, const Bytes& frame, Micros now);
    void checkLine(const LineSettings& line);
    void onCommand(const Bytes& frame, Micros now);
    void onListApplications(Micros now);
    void queueNextEndlessName(Micros now);
    void onAnnounce(const Bytes& frame, Micros now);
    void onAuthorise(Micros now);
    void onStart(Micros now);
    void onActivate(Micros now);
    void onRestart(Micros now);
    void onDescribe(Micros now);

    void onBlock(const Bytes& frame, Micros firstAt, Micros now);
    bool rejectBadBlockCrc(const Bytes& frame, FileRecord& file, Micros firstAt, Micros now);
    void countResend(std::uint16_t number, FileRecord& file);
    bool checkSequence(const BlockFields& block, const Bytes& frame, FileRecord& file, Micros now);
    bool applyFault(std::uint16_t number, FileRecord& file, Micros now);
    void acceptBlock(const BlockFields& block, const Bytes& frame, FileRecord& file, Micros now);
    void completeFile(FileRecord& file, Micros now);
    void replyToBlock(std::uint8_t status, FileRecord& file, Micros now, const std::string& why,
                      Micros delay = 0);

    FileRecord* currentFile();
    bool faultsApplyTo(const FileRecord& file) const;
    void leaveDownload(bool muteUntilCommand);
    void storePartialIfStarted();
    void resetConversation();

    Micros queueReply(Bytes bytes, Micros now, const std::string& what, Micros delay = 0);
    Micros paceMicros(std::size_t bytes);
    void violation(const std::string& text);
    void note(const std::string& text);

    const Scenario& scenario_;
    SessionHost& host_;
    Stats stats_;

    Bytes rx_;
    Micros rxFirstAt_ = 0;
    Micros rxLastAt_ = 0;
    std::optional<Micros> frameReadyAt_;

    std::vector<Outgoing> queue_;
    Micros lineBusyUntil_ = 0;

    bool downloading_ = false;
    bool mutedUntilCommand_ = false;
    std::optional<std::size_t> current_;
    FileFaults faults_;
    std::uint32_t nextBlock_ = 0;
    std::optional<std::uint16_t> previousNumber_;
    std::optional<LastBlock> lastGoodBlock_;

    // While the application list runs without end: how many names it has listed.
    std::optional<std::uint32_t> endlessNames_;

    bool unplugged_ = false;
    bool restarting_ = false;
    Micros silentFrom_ = 0;
    std::optional<Micros> silentUntil_; // empty while restarting: for ever
};

} // namespace rsim
