#include "Session.h"

#include <algorithm>
#include <cctype>

namespace rsim {

namespace {

// Far more than any frame: a stream this long without one is noise.
constexpr std::size_t kRxLimit = 4096;

std::string statusName(std::uint8_t status)
{
    switch (status) {
    case kAckNext: return "NEXT";
    case kAckKo: return "KO";
    case kAckStop: return "STOP";
    case kAckRefused: return "REFUSED";
    default: return "status " + hexByte(status);
    }
}

const char* descModeName(DescMode mode)
{
    switch (mode) {
    case DescMode::Ok: return "ok";
    case DescMode::BadCrc: return "bad CRC";
    case DescMode::Zero: return "byte 0 zero";
    case DescMode::Short: return "short";
    case DescMode::Silent: return "silent";
    }
    return "?";
}

bool sameNameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

std::string number(std::uint64_t value) { return std::to_string(value); }

} // namespace

Session::Session(const Scenario& scenario, SessionHost& host) : scenario_(scenario), host_(host) {}

// ---- stream and time ----

void Session::receive(const std::uint8_t* data, std::size_t length, Micros now)
{
    endSilenceIfOver(now);
    if (silentAt(now)) {
        rx_.clear();
        note("ignored " + number(length) + " bytes: silent after a restart");
        return;
    }
    if (rx_.size() + length > kRxLimit) {
        violation(number(rx_.size() + length) + " bytes without a frame, dropped");
        rx_.clear();
        return;
    }
    if (rx_.empty())
        rxFirstAt_ = now;
    rx_.insert(rx_.end(), data, data + length);
    rxLastAt_ = now;
}

void Session::advance(Micros now)
{
    endSilenceIfOver(now);
    frameReadyAt_.reset();
    while (!rx_.empty() && !silentAt(now)) {
        const FrameCut cut = cutFrame(rx_, downloading_);
        if (cut.kind == FrameKind::Incomplete || cut.kind == FrameKind::Garbage) {
            if (gapElapsed(now))
                handleGap(now);
            return;
        }
        // With pacing a frame exists only once the wire could have carried it.
        const Micros ready = rxFirstAt_ + paceMicros(cut.length);
        if (now < ready) {
            frameReadyAt_ = ready;
            return;
        }
        takeFrame(cut, now);
    }
    // Bytes caught between a restart and its silence would otherwise hold a deadline
    // in the past for the whole silence.
    if (silentAt(now))
        rx_.clear();
}

std::vector<Outgoing> Session::takeDue(Micros now)
{
    const auto end = std::find_if(queue_.begin(), queue_.end(),
                                  [now](const Outgoing& o) { return o.due > now; });
    std::vector<Outgoing> due(std::make_move_iterator(queue_.begin()),
                              std::make_move_iterator(end));
    queue_.erase(queue_.begin(), end);
    // A list without end has its next name ready once the last one went out.
    if (endlessNames_ && queue_.empty() && !due.empty())
        queueNextEndlessName(now);
    return due;
}

bool Session::rxIsWhole() const
{
    const FrameKind kind = cutFrame(rx_, downloading_).kind;
    return kind != FrameKind::Incomplete && kind != FrameKind::Garbage;
}

std::optional<Micros> Session::nextDeadline() const
{
    std::optional<Micros> next;
    const auto consider = [&next](Micros t) { next = next ? std::min(*next, t) : t; };
    if (!queue_.empty())
        consider(queue_.front().due);
    if (frameReadyAt_)
        consider(*frameReadyAt_);
    if (!rx_.empty() && !rxIsWhole())
        consider(rxLastAt_ + kFrameGap + 1);
    if (restarting_ && silentUntil_)
        consider(*silentUntil_);
    return next;
}

void Session::finish() { storePartialIfStarted(); }

void Session::endSilenceIfOver(Micros now)
{
    if (!restarting_ || !silentUntil_ || now < *silentUntil_)
        return;
    restarting_ = false;
    resetConversation();
    note("restart over: answering again");
}

bool Session::silentAt(Micros now) const
{
    return restarting_ && now >= silentFrom_ && (!silentUntil_ || now < *silentUntil_);
}

bool Session::gapElapsed(Micros now) const { return now - rxLastAt_ > kFrameGap; }

void Session::handleGap(Micros now)
{
    // A start command inside a download was read as the head of a block: once the line
    // is quiet, 32 bytes with a good command CRC are that command.
    if (downloading_ && rx_.size() == kCommandSize && isCommandCode(rx_[0]) &&
        crcMatches(rx_.data(), rx_.size(), kCommandCovered)) {
        note("32-byte command where a block was expected: taken as a command");
        const Bytes frame = rx_;
        rx_.clear();
        dispatch(FrameKind::Command, frame, rxFirstAt_, now);
        return;
    }
    const bool garbage = cutFrame(rx_, downloading_).kind == FrameKind::Garbage;
    violation(std::string(garbage ? "unknown frame start" : "incomplete frame") + ": " +
              number(rx_.size()) + " bytes (" + hexBytes(rx_.data(), rx_.size()) +
              ") then silence, dropped");
    rx_.clear();
}

void Session::takeFrame(const FrameCut& cut, Micros now)
{
    const auto end = rx_.begin() + static_cast<std::ptrdiff_t>(cut.length);
    const Bytes frame(rx_.begin(), end);
    rx_.erase(rx_.begin(), end);
    const Micros firstAt = rxFirstAt_;
    if (!rx_.empty())
        rxFirstAt_ = rxLastAt_;
    dispatch(cut.kind, frame, firstAt, now);
}

void Session::dispatch(FrameKind kind, const Bytes& frame, Micros firstAt, Micros now)
{
    switch (kind) {
    case FrameKind::ProbeA: onProbe(true, frame, now); break;
    case FrameKind::ProbeB: onProbe(false, frame, now); break;
    case FrameKind::Command: onCommand(frame, now); break;
    case FrameKind::Block: onBlock(frame, firstAt, now); break;
    case FrameKind::Incomplete:
    case FrameKind::Garbage: break;
    }
}

Micros Session::paceMicros(std::size_t bytes)
{
    if (!scenario_.pace)
        return 0;
    const std::uint32_t baud = host_.lineSettings().baud;
    if (baud == 0)
        return 0;
    return static_cast<Micros>(bytes) * 10 * kMicrosPerSecond / baud;
}

Micros Session::queueReply(Bytes bytes, Micros now, const std::string& what, Micros delay)
{
    Micros start = now + delay;
    if (delay == 0)
        start = std::max(start, lineBusyUntil_);
    const Micros due = start + paceMicros(bytes.size());
    if (delay == 0)
        lineBusyUntil_ = due;
    host_.log("tx " + what + " (" + number(bytes.size()) + " bytes" +
              (delay != 0 ? ", in " + number(static_cast<std::uint64_t>(delay / 1000)) + " ms"
                          : std::string()) +
              ")");
    const auto at = std::upper_bound(queue_.begin(), queue_.end(), due,
                                     [](Micros t, const Outgoing& o) { return t < o.due; });
    queue_.insert(at, Outgoing{std::move(bytes), due});
    return due;
}

void Session::violation(const std::string& text)
{
    stats_.violations.push_back(text);
    host_.log("VIOLATION " + text);
}

void Session::note(const std::string& text) { host_.log(text); }

// ---- probes ----

void Session::onProbe(bool probeA, const Bytes& frame, Micros now)
{
    const std::string name = probeA ? "probe-A" : "probe-B";
    const bool exact = probeA ? std::equal(kProbeA.begin(), kProbeA.end(), frame.begin())
                              : std::equal(kProbeB.begin(), kProbeB.end(), frame.begin());
    if (!exact) {
        violation(name + " with unexpected bytes: " + hexBytes(frame.data(), frame.size()));
        return;
    }
    if (downloading_) {
        note(name + " during a download: download abandoned");
        leaveDownload(false);
    }
    mutedUntilCommand_ = false;
    ++(probeA ? stats_.probesA : stats_.probesB);
    const LineSettings line = host_.lineSettings();
    stats_.probeBauds.push_back(line.baud);
    host_.log("rx " + name + " baud=" + number(line.baud) + " " + number(line.dataBits) +
              line.parity + number(line.stopBits) + (line.raw ? "" : " not-raw"));
    checkLine(line);
    host_.discardUnreadByPeer();
    if (scenario_.baud != 0 && line.baud != scenario_.baud) {
        note(name + " not answered: line at " + number(line.baud) + " baud, loader listens at " +
             number(scenario_.baud));
        return;
    }
    if (scenario_.loader == LoaderMode::Silent) {
        note(name + " not answered: loader silent");
        return;
    }
    const bool present = scenario_.loader == LoaderMode::Present;
    queueReply(buildProbeReply(probeA, scenario_.loader), now,
               name + " reply, loader " + (present ? "present" : "absent"));
}

void Session::checkLine(const LineSettings& line)
{
    if (line.stopBits != 1)
        violation("line set to " + number(static_cast<std::uint64_t>(line.stopBits)) +
                  " stop bits, the loader uses 1");
    if (line.dataBits != 8)
        violation("line set to " + number(static_cast<std::uint64_t>(line.dataBits)) +
                  " data bits, the loader uses 8");
    if (line.parity != 'N')
        violation(std::string("line set to parity ") + line.parity + ", the loader uses none");
    // Wine passes them on; a Windows serial driver refuses equal characters outright.
    if (line.xonChar == line.xoffChar)
        violation("line set with equal XON and XOFF characters (" +
                  number(static_cast<std::uint64_t>(line.xonChar)) +
                  "), which a serial driver refuses");
}

// ---- commands ----

void Session::onCommand(const Bytes& frame, Micros now)
{
    const std::uint8_t code = frame[0];
    if (!crcMatches(frame.data(), frame.size(), kCommandCovered)) {
        violation(std::string("command ") + commandName(code) + ": bad CRC " +
                  hexBytes(&frame[kCommandCovered], 2));
        queueReply(buildReply(kAckKo), now, "KO to a command with a bad CRC");
        return;
    }
    ++stats_.commands[code];
    if (endlessNames_) {
        note("application list without end left after " + number(*endlessNames_) + " names");
        endlessNames_.reset();
        queue_.clear();
    }
    host_.log("rx command " + number(code) + " " + commandName(code));
    mutedUntilCommand_ = false;
    if (downloading_ && code != kCmdStart) {
        note(std::string("download abandoned by command ") + commandName(code));
        leaveDownload(false);
    }
    if (code != kCmdAnnounce)
        for (const std::string& problem : checkPlainCommand(frame.data()))
            violation(problem);

    switch (code) {
    case kCmdList: onListApplications(now); break;
    case kCmdAnnounce: onAnnounce(frame, now); break;
    case kCmdAuthorise: onAuthorise(now); break;
    case kCmdStart: onStart(now); break;
    case kCmdActivate: onActivate(now); break;
    case kCmdRestart: onRestart(now); break;
    case kCmdDescribe: onDescribe(now); break;
    default: violation("unknown command code " + hexByte(code)); break;
    }
}

void Session::onListApplications(Micros now)
{
    if (scenario_.appsEndless) {
        endlessNames_ = 0;
        queueNextEndlessName(now);
        return;
    }
    for (const std::string& name : scenario_.apps)
        queueReply(buildAppFrame(name), now, "application " + name);
    queueReply(buildAppListEnd(), now, "end of application list");
}

void Session::queueNextEndlessName(Micros now)
{
    const std::uint32_t n = ++*endlessNames_;
    const std::string name = "APPLI" + number(n);
    queueReply(buildAppFrame(name), now, "application " + name + " (without end)",
               n == 1 ? 0 : kEndlessNameGap);
}

void Session::onAnnounce(const Bytes& frame, Micros now)
{
    storePartialIfStarted();
    current_.reset();
    const AnnounceFields fields = parseAnnounce(frame.data());
    host_.log("rx announce name=" + fields.name + " size=" + number(fields.size));
    for (const std::string& problem : fields.problems)
        violation("announce: " + problem);
    if (!fields.usable) {
        queueReply(buildReply(kAckKo), now, "KO to an unusable announce");
        return;
    }
    switch (scenario_.announce) {
    case ReplyMode::Ok: {
        FileRecord record;
        record.name = fields.name;
        record.announced = fields.size;
        stats_.files.push_back(std::move(record));
        current_ = stats_.files.size() - 1;
        faults_ = FileFaults{};
        queueReply(buildReply(kAckNext), now, "announce accepted");
        break;
    }
    case ReplyMode::Ko: queueReply(buildReply(kAckKo), now, "announce refused (scenario)"); break;
    case ReplyMode::Silent: note("announce not answered (scenario)"); break;
    }
}

void Session::onAuthorise(Micros now)
{
    switch (scenario_.auth) {
    case AuthMode::Grant: queueReply(buildReply(kAckNext), now, "authorisation granted"); break;
    case AuthMode::Refuse: queueReply(buildReply(kAckRefused), now, "authorisation refused"); break;
    case AuthMode::Silent: note("authorise not answered (scenario)"); break;
    }
}

void Session::onStart(Micros now)
{
    FileRecord* file = currentFile();
    if (file == nullptr || file->complete) {
        violation("download start with no file announced");
        queueReply(buildReply(kAckStop), now, "STOP: nothing announced");
        return;
    }
    if (file->started && !file->data.empty())
        note("download of " + file->name + " restarted after " + number(file->data.size()) +
             " bytes");
    file->started = true;
    file->stored = false;
    file->data.clear();
    file->blocks = 0;
    nextBlock_ = 0;
    previousNumber_.reset();
    lastGoodBlock_.reset();
    downloading_ = true;
    queueReply(buildReply(scenario_.startStatus), now,
               "download start of " + file->name + " [" + statusName(scenario_.startStatus) + "]");
    if (scenario_.startStatus != kAckNext && scenario_.startStatus != kAckKo) {
        // A loader that will not take the file says so once more and leaves the transfer,
        // so the updater's next read is answered instead of timing out.
        queueReply(buildReply(scenario_.startStatus), now, "transfer refused at start");
        downloading_ = false;
        return;
    }
    if (file->announced == 0)
        completeFile(*file, now);
}

void Session::onActivate(Micros now)
{
    ++stats_.activations;
    const ActivateMode& mode = scenario_.activate;
    switch (mode.kind) {
    case ActivateMode::Ok: queueReply(buildReply(kAckNext), now, "activation done"); break;
    case ActivateMode::Ko: queueReply(buildReply(kAckKo), now, "activation failed (scenario)"); break;
    case ActivateMode::KoFirst:
        if (stats_.activations == 1)
            queueReply(buildReply(kAckKo), now, "first activation failed (scenario)");
        else
            queueReply(buildReply(kAckNext), now, "activation done");
        break;
    case ActivateMode::Silent: note("activate not answered (scenario)"); break;
    case ActivateMode::Late:
        queueReply(buildReply(kAckNext), now, "activation done, late",
                   static_cast<Micros>(mode.lateMs) * 1000);
        break;
    }
}

void Session::onRestart(Micros now)
{
    ++stats_.restarts;
    storePartialIfStarted();
    const Micros due = queueReply(buildReply(kAckNext), now, "restart accepted");
    restarting_ = true;
    silentFrom_ = due;
    const bool forEver = !scenario_.restartSilenceMs ||
                         (scenario_.silentFromRestart && stats_.restarts >= *scenario_.silentFromRestart);
    if (!forEver) {
        silentUntil_ = due + static_cast<Micros>(*scenario_.restartSilenceMs) * 1000;
        note("silent for " + number(*scenario_.restartSilenceMs) + " ms while restarting");
    } else {
        silentUntil_.reset();
        note("silent for ever after the restart");
    }
}

void Session::onDescribe(Micros now)
{
    if (scenario_.desc == DescMode::Silent) {
        note("describe not answered (scenario)");
        return;
    }
    DescriptionContent content = scenario_.description;
    const bool changed =
        scenario_.optionsFromRestart && stats_.restarts >= *scenario_.optionsFromRestart;
    if (changed)
        content.options = scenario_.optionsAfterRestart;
    queueReply(buildDescription(content, scenario_.desc), now,
               std::string("description, ") + descModeName(scenario_.desc) +
                   (changed ? ", other options" : ""));
}

// ---- blocks ----

void Session::onBlock(const Bytes& frame, Micros firstAt, Micros now)
{
    FileRecord* file = downloading_ ? currentFile() : nullptr;
    if (file == nullptr) {
        if (mutedUntilCommand_) {
            note("block ignored: silent until the next command");
            return;
        }
        violation("block " + number(parseBlock(frame.data()).number) +
                  " with no download started");
        queueReply(buildReply(kAckStop), now, "STOP: no download started");
        return;
    }
    if (rejectBadBlockCrc(frame, *file, firstAt, now))
        return;
    const BlockFields block = parseBlock(frame.data());
    if (isStartArea(block)) {
        ++stats_.commands[kCmdStart];
        host_.log("rx download-start resent in its 128-byte area");
        if (!crcMatches(frame.data(), frame.size(), kCommandCovered))
            violation("resent download start: bad CRC on its command part");
        onStart(now);
        return;
    }
    if (file->firstBlockAt == kNoTime)
        file->firstBlockAt = firstAt;
    host_.log("rx block " + number(block.number) + " n=" + number(block.count));
    countResend(block.number, *file);
    if (block.count > kBlockDataMax) {
        violation("block " + number(block.number) + ": byte count " + number(block.count) +
                  " over " + number(kBlockDataMax));
        replyToBlock(kAckKo, *file, now, "KO to a block with a bad byte count");
        return;
    }
    if (!checkSequence(block, frame, *file, now) || applyFault(block.number, *file, now))
        return;
    acceptBlock(block, frame, *file, now);
}

bool Session::rejectBadBlockCrc(const Bytes& frame, FileRecord& file, Micros firstAt, Micros now)
{
    if (crcMatches(frame.data(), frame.size(), kBlockCovered))
        return false;
    const BlockFields block = parseBlock(frame.data());
    if (file.firstBlockAt == kNoTime && !isStartArea(block))
        file.firstBlockAt = firstAt;
    countResend(block.number, file);
    file.crcOk = false;
    violation("block " + number(block.number) + ": bad CRC " +
              hexBytes(&frame[kBlockCovered], 2));
    replyToBlock(kAckKo, file, now, "KO to a block with a bad CRC");
    return true;
}

void Session::countResend(std::uint16_t blockNumber, FileRecord& file)
{
    if (previousNumber_ && *previousNumber_ == blockNumber) {
        ++file.resends;
        ++stats_.resends;
    }
    previousNumber_ = blockNumber;
}

bool Session::checkSequence(const BlockFields& block, const Bytes& frame, FileRecord& file,
                            Micros now)
{
    const auto from = frame.begin() + 3;
    const Bytes payload(from, from + 1 + static_cast<std::ptrdiff_t>(block.count));
    if (lastGoodBlock_ && lastGoodBlock_->number == block.number &&
        lastGoodBlock_->payload != payload)
        violation("block " + number(block.number) + " resent with different content");
    lastGoodBlock_ = LastBlock{block.number, payload};

    if (block.number == nextBlock_)
        return true;
    if (nextBlock_ > 0 && block.number == nextBlock_ - 1) {
        note("block " + number(block.number) + " again, already taken");
        replyToBlock(kAckNext, file, now, "block taken before");
        return false;
    }
    violation("block " + number(block.number) + " out of sequence, expected " +
              number(nextBlock_));
    replyToBlock(kAckKo, file, now, "KO to a block out of sequence");
    return false;
}

bool Session::applyFault(std::uint16_t blockNumber, FileRecord& file, Micros now)
{
    if (!faultsApplyTo(file))
        return false;
    const BlockFaults& faults = scenario_.faults;
    const std::string block = "block " + number(blockNumber);
    if (faults.unplugAt == blockNumber) {
        note(block + ": the cable is pulled (scenario)");
        unplugged_ = true;
        leaveDownload(true);
        return true;
    }
    if (faults.silentAt == blockNumber) {
        note(block + " not answered (scenario): silent until the next command");
        leaveDownload(true);
        return true;
    }
    if (faults.stopAt == blockNumber) {
        replyToBlock(kAckStop, file, now, "STOP to " + block + " (scenario)");
        leaveDownload(true);
        return true;
    }
    if (faults.rejectBlock == blockNumber && faults_.rejectsDone < faults.rejectTimes) {
        ++faults_.rejectsDone;
        replyToBlock(kAckKo, file, now,
                     "KO to " + block + " (scenario, " + number(faults_.rejectsDone) + " of " +
                         number(faults.rejectTimes) + ")");
        return true;
    }
    if (faults.statusAtBlock == blockNumber && !faults_.statusAtDone) {
        faults_.statusAtDone = true;
        if (faults.statusAtValue != kAckNext) {
            replyToBlock(faults.statusAtValue, file, now, block + " answered by scenario");
            return true;
        }
    }
    return false;
}

void Session::acceptBlock(const BlockFields& block, const Bytes& frame, FileRecord& file,
                          Micros now)
{
    if (!block.paddingClean)
        violation("block " + number(block.number) + ": bytes after its " + number(block.count) +
                  " data bytes are not zero");
    if (file.data.size() + block.count > file.announced) {
        violation("block " + number(block.number) + " goes past the announced size: " +
                  number(file.data.size()) + " + " + number(block.count) + " > " +
                  number(file.announced));
        replyToBlock(kAckStop, file, now, "STOP: past the announced size");
        leaveDownload(true);
        return;
    }
    const auto from = frame.begin() + static_cast<std::ptrdiff_t>(kBlockDataOffset);
    file.data.insert(file.data.end(), from, from + static_cast<std::ptrdiff_t>(block.count));
    ++file.blocks;
    ++stats_.blocks;
    ++nextBlock_;
    const bool late = faultsApplyTo(file) && scenario_.faults.lateAt == block.number;
    replyToBlock(kAckNext, file, now,
                 "block " + number(block.number) + " taken" + (late ? ", late (scenario)" : ""),
                 late ? static_cast<Micros>(scenario_.faults.lateMs) * 1000 : 0);
    if (file.data.size() == file.announced)
        completeFile(file, now);
}

void Session::replyToBlock(std::uint8_t status, FileRecord& file, Micros now,
                           const std::string& why, Micros delay)
{
    file.lastReplyAt =
        queueReply(buildReply(status), now, why + " [" + statusName(status) + "]", delay);
}

void Session::completeFile(FileRecord& file, Micros now)
{
    file.complete = true;
    file.lastReplyAt = queueReply(buildEndOfFile(), now, "end of file");
    downloading_ = false;
    file.stored = true;
    host_.storeFile(file.name, file.data, true);
    ++stats_.completedFiles;
    note("file " + file.name + " complete: " + number(file.data.size()) + " bytes in " +
         number(file.blocks) + " blocks");
}

// ---- conversation state ----

FileRecord* Session::currentFile()
{
    return current_ && *current_ < stats_.files.size() ? &stats_.files[*current_] : nullptr;
}

bool Session::faultsApplyTo(const FileRecord& file) const
{
    return scenario_.faults.onlyFile.empty() ||
           sameNameIgnoringCase(scenario_.faults.onlyFile, file.name);
}

void Session::leaveDownload(bool muteUntilCommand)
{
    downloading_ = false;
    mutedUntilCommand_ = muteUntilCommand;
    storePartialIfStarted();
}

void Session::storePartialIfStarted()
{
    FileRecord* file = currentFile();
    if (file == nullptr || !file->started || file->complete || file->stored)
        return;
    file->stored = true;
    host_.storeFile(file->name, file->data, false);
    note("file " + file->name + " kept as partial: " + number(file->data.size()) + " of " +
         number(file->announced) + " bytes");
}

void Session::resetConversation()
{
    rx_.clear();
    frameReadyAt_.reset();
    downloading_ = false;
    mutedUntilCommand_ = false;
    current_.reset();
    faults_ = FileFaults{};
    nextBlock_ = 0;
    previousNumber_.reset();
    lastGoodBlock_.reset();
}

} // namespace rsim
