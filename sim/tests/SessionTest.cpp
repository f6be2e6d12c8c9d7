#include <gtest/gtest.h>

#include <memory>

#include "Session.h"
#include "Summary.h"
#include "TestSupport.h"

using namespace rsim;
using namespace rsim::test;

namespace {

constexpr Micros kMs = 1000;

class SessionTest : public ::testing::Test {
protected:
    Session& session()
    {
        if (!session_)
            session_ = std::make_unique<Session>(scenario, host);
        return *session_;
    }

    std::vector<Bytes> send(const Bytes& frame)
    {
        session().receive(frame.data(), frame.size(), clock);
        session().advance(clock);
        return replies();
    }

    std::vector<Bytes> replies()
    {
        std::vector<Bytes> out;
        for (Outgoing& o : session().takeDue(clock))
            out.push_back(std::move(o.bytes));
        return out;
    }

    std::vector<Bytes> at(Micros t)
    {
        clock = t;
        session().advance(clock);
        return replies();
    }

    static std::vector<std::uint8_t> statuses(const std::vector<Bytes>& frames)
    {
        std::vector<std::uint8_t> out;
        for (const Bytes& f : frames)
            out.push_back(f.at(2));
        return out;
    }

    void announceAndStart(const std::string& name, std::size_t size)
    {
        ASSERT_EQ(std::vector<std::uint8_t>{kAckNext},
                  statuses(send(announce(name, static_cast<std::uint32_t>(size)))));
        send(command(kCmdStart));
    }

    std::vector<std::uint8_t> sendBlock(std::uint16_t number, const Bytes& content)
    {
        return statuses(send(block(number, slice(content, number * kBlockDataMax, kBlockDataMax))));
    }

    const Stats& stats() { return session().stats(); }

    Scenario scenario;
    RecordingHost host;
    Micros clock = 0;

private:
    std::unique_ptr<Session> session_;
};

const Bytes kProbeAFrame(kProbeA.begin(), kProbeA.end());
const Bytes kProbeBFrame(kProbeB.begin(), kProbeB.end());
const std::vector<std::uint8_t> kNext{kAckNext};
const std::vector<std::uint8_t> kKo{kAckKo};
const std::vector<std::uint8_t> kStop{kAckStop};
const std::vector<std::uint8_t> kNone{};

} // namespace

// ---- probes and the line ----

TEST_F(SessionTest, PresentLoaderAnswersBothProbesAndRecordsTheBaud)
{
    host.line.baud = 19200;
    EXPECT_EQ(std::vector<Bytes>{buildProbeReply(true, LoaderMode::Present)}, send(kProbeAFrame));
    EXPECT_EQ(std::vector<Bytes>{buildProbeReply(false, LoaderMode::Present)}, send(kProbeBFrame));
    EXPECT_EQ(1U, stats().probesA);
    EXPECT_EQ(1U, stats().probesB);
    EXPECT_EQ((std::vector<std::uint32_t>{19200, 19200}), stats().probeBauds);
    EXPECT_EQ(2, host.discards);
    EXPECT_TRUE(stats().violations.empty());
}

TEST_F(SessionTest, AbsentOrSilentLoaderAnswersAsConfigured)
{
    scenario.loader = LoaderMode::Absent;
    EXPECT_EQ(std::vector<Bytes>{buildProbeReply(false, LoaderMode::Absent)}, send(kProbeBFrame));
    scenario.loader = LoaderMode::Silent;
    EXPECT_TRUE(send(kProbeAFrame).empty());
    EXPECT_EQ(1U, stats().probesA);
}

TEST_F(SessionTest, AnswersProbesOnlyAtTheConfiguredBaud)
{
    scenario.baud = 115200;
    EXPECT_TRUE(send(kProbeAFrame).empty());
    host.line.baud = 115200;
    EXPECT_EQ(1U, send(kProbeAFrame).size());
    EXPECT_EQ((std::vector<std::uint32_t>{9600, 115200}), stats().probeBauds);
}

TEST_F(SessionTest, LineSettingsOtherThanOneStopBitAreViolations)
{
    host.line.stopBits = 2;
    EXPECT_EQ(1U, send(kProbeAFrame).size());
    ASSERT_EQ(1U, stats().violations.size());
    EXPECT_NE(std::string::npos, stats().violations[0].find("2 stop bits"));
}

TEST_F(SessionTest, DamagedProbeIsAViolationAndUnanswered)
{
    Bytes probe = kProbeAFrame;
    probe[8] ^= 0x01;
    EXPECT_TRUE(send(probe).empty());
    EXPECT_EQ(1U, stats().violations.size());
    EXPECT_EQ(0U, stats().probesA);
}

// ---- commands ----

TEST_F(SessionTest, DescriptionFollowsItsMode)
{
    scenario.description.model = "M77";
    std::vector<Bytes> r = send(command(kCmdDescribe));
    ASSERT_EQ(1U, r.size());
    EXPECT_EQ(buildDescription(scenario.description, DescMode::Ok), r[0]);
    scenario.desc = DescMode::Short;
    r = send(command(kCmdDescribe));
    ASSERT_EQ(1U, r.size());
    EXPECT_EQ(kDescriptionShortSize, r[0].size());
    scenario.desc = DescMode::Silent;
    EXPECT_TRUE(send(command(kCmdDescribe)).empty());
    EXPECT_EQ(3U, stats().commands.at(kCmdDescribe));
}

TEST_F(SessionTest, ListsApplicationsThenAnEmptyFrame)
{
    scenario.apps = {"PAYMENT", "LOYALTY"};
    const std::vector<Bytes> r = send(command(kCmdList));
    ASSERT_EQ(3U, r.size());
    EXPECT_EQ(buildAppFrame("PAYMENT"), r[0]);
    EXPECT_EQ(buildAppFrame("LOYALTY"), r[1]);
    EXPECT_EQ(0, r[2][1]);
}

TEST_F(SessionTest, CommandWithABadCrcIsRejectedAndNotCounted)
{
    Bytes frame = command(kCmdDescribe);
    frame[31] ^= 0x40;
    EXPECT_EQ(kKo, statuses(send(frame)));
    EXPECT_EQ(1U, stats().violations.size());
    EXPECT_TRUE(stats().commands.empty());
}

TEST_F(SessionTest, ParametersOnAPlainCommandAreAViolationButAnswered)
{
    Bytes frame = command(kCmdDescribe);
    frame[1] = 2;
    frame[5] = 9;
    putCrc(frame, kCommandCovered);
    EXPECT_EQ(1U, send(frame).size());
    EXPECT_EQ(2U, stats().violations.size());
}

TEST_F(SessionTest, AuthoriseAnnounceAndActivateFollowTheScenario)
{
    scenario.auth = AuthMode::Refuse;
    EXPECT_EQ(std::vector<std::uint8_t>{kAckRefused}, statuses(send(command(kCmdAuthorise))));
    scenario.auth = AuthMode::Silent;
    EXPECT_EQ(kNone, statuses(send(command(kCmdAuthorise))));
    scenario.announce = ReplyMode::Ko;
    EXPECT_EQ(kKo, statuses(send(announce("A.BIN", 5))));
    EXPECT_TRUE(stats().files.empty());
    scenario.activate.kind = ActivateMode::Ko;
    EXPECT_EQ(kKo, statuses(send(command(kCmdActivate))));
    EXPECT_EQ(1U, stats().activations);
}

TEST_F(SessionTest, UnusableAnnounceIsRefusedWhateverTheScenario)
{
    Bytes frame = announce("APP.BIN", 10);
    frame[2] = ' ';
    putCrc(frame, kCommandCovered);
    EXPECT_EQ(kKo, statuses(send(frame)));
    EXPECT_EQ(1U, stats().violations.size());
    EXPECT_EQ(kNext, statuses(send(announce("lower.bin", 10))));
    EXPECT_EQ(2U, stats().violations.size());
}

// ---- downloads ----

TEST_F(SessionTest, DeliversAFileAndClosesItWithAnEndOfFileFrame)
{
    const Bytes content = fileContent(300);
    announceAndStart("APP.BIN", content.size());
    EXPECT_EQ(kNext, sendBlock(0, content));
    EXPECT_EQ(kNext, sendBlock(1, content));
    const std::vector<Bytes> last = send(block(2, slice(content, 244, 56)));
    ASSERT_EQ(2U, last.size());
    EXPECT_EQ(kAckNext, last[0][2]);
    EXPECT_EQ(kAckNext, last[1][2]);
    EXPECT_EQ(kReplySize, last[1].size());

    ASSERT_EQ(1U, host.stored.count("APP.BIN"));
    EXPECT_EQ(content, host.stored["APP.BIN"].data);
    ASSERT_EQ(1U, stats().files.size());
    const FileRecord& f = stats().files[0];
    EXPECT_TRUE(f.complete);
    EXPECT_TRUE(f.crcOk);
    EXPECT_EQ(3U, f.blocks);
    EXPECT_EQ(1U, stats().completedFiles);
    EXPECT_TRUE(stats().violations.empty());
    // The download is over: the next command is a command, not a block.
    EXPECT_EQ(kNext, statuses(send(command(kCmdActivate))));
}

TEST_F(SessionTest, BlockWithABadCrcIsRejectedAndItsResendTaken)
{
    const Bytes content = fileContent(100);
    announceAndStart("A.BIN", content.size());
    Bytes damaged = block(0, content);
    damaged[50] ^= 0x10;
    EXPECT_EQ(kKo, statuses(send(damaged)));
    EXPECT_EQ(2U, send(block(0, content)).size());
    const FileRecord& f = stats().files[0];
    EXPECT_TRUE(f.complete);
    EXPECT_FALSE(f.crcOk);
    EXPECT_EQ(1U, f.resends);
    EXPECT_EQ(1U, stats().violations.size());
}

TEST_F(SessionTest, RejectBlockAnswersKoTheGivenTimesThenTakesIt)
{
    scenario.faults.rejectBlock = 1;
    scenario.faults.rejectTimes = 2;
    const Bytes content = fileContent(200);
    announceAndStart("A.BIN", content.size());
    EXPECT_EQ(kNext, sendBlock(0, content));
    EXPECT_EQ(kKo, sendBlock(1, content));
    EXPECT_EQ(kKo, sendBlock(1, content));
    EXPECT_EQ((std::vector<std::uint8_t>{kAckNext, kAckNext}), sendBlock(1, content));
    EXPECT_EQ(content, host.stored["A.BIN"].data);
    EXPECT_EQ(2U, stats().resends);
    EXPECT_TRUE(stats().violations.empty());
}

TEST_F(SessionTest, StopAtAnswersStopThenIgnoresBlocksUntilACommand)
{
    scenario.faults.stopAt = 1;
    const Bytes content = fileContent(300);
    announceAndStart("A.BIN", content.size());
    EXPECT_EQ(kNext, sendBlock(0, content));
    EXPECT_EQ(kStop, sendBlock(1, content));
    EXPECT_EQ(kNone, sendBlock(1, content));
    EXPECT_TRUE(stats().violations.empty());
    ASSERT_EQ(1U, host.stored.count("A.BIN.partial"));
    EXPECT_EQ(slice(content, 0, 122), host.stored["A.BIN.partial"].data);
    EXPECT_EQ(1U, send(command(kCmdDescribe)).size());
}

TEST_F(SessionTest, SilentAtLeavesTheBlockUnansweredUntilTheNextCommand)
{
    scenario.faults.silentAt = 0;
    const Bytes content = fileContent(50);
    announceAndStart("A.BIN", content.size());
    EXPECT_EQ(kNone, sendBlock(0, content));
    EXPECT_EQ(kNone, sendBlock(0, content));
    EXPECT_FALSE(stats().files[0].complete);
    EXPECT_EQ(kNext, statuses(send(command(kCmdAuthorise))));
}

TEST_F(SessionTest, StatusAtRepliesItsStatusOnceThenGoesOn)
{
    scenario.faults.statusAtBlock = 0;
    scenario.faults.statusAtValue = 0x99;
    const Bytes content = fileContent(50);
    announceAndStart("A.BIN", content.size());
    EXPECT_EQ(std::vector<std::uint8_t>{0x99}, sendBlock(0, content));
    EXPECT_EQ(2U, sendBlock(0, content).size());
    EXPECT_TRUE(stats().files[0].complete);
}

TEST_F(SessionTest, FaultFileLimitsFaultsToThatFile)
{
    scenario.faults.stopAt = 0;
    scenario.faults.onlyFile = "second.bin";
    const Bytes content = fileContent(10);
    announceAndStart("FIRST.BIN", content.size());
    EXPECT_EQ(2U, sendBlock(0, content).size());
    announceAndStart("SECOND.BIN", content.size());
    EXPECT_EQ(kStop, sendBlock(0, content));
}

TEST_F(SessionTest, StartAreaResentAfterAKoIsAnsweredAsAStart)
{
    scenario.startStatus = kAckKo;
    ASSERT_EQ(kNext, statuses(send(announce("A.BIN", 10))));
    EXPECT_EQ(kKo, statuses(send(command(kCmdStart))));
    EXPECT_EQ(kKo, statuses(send(startArea())));
    scenario.startStatus = kAckNext;
    EXPECT_EQ(kNext, statuses(send(startArea())));
    EXPECT_EQ(3U, stats().commands.at(kCmdStart));
    EXPECT_EQ(2U, send(block(0, fileContent(10))).size());
    EXPECT_TRUE(stats().files[0].complete);
    EXPECT_TRUE(stats().violations.empty());
}

TEST_F(SessionTest, SequenceSizeAndPlacementOfBlocksAreChecked)
{
    EXPECT_EQ(kStop, sendBlock(0, fileContent(10)));
    announceAndStart("A.BIN", 100);
    EXPECT_EQ(kKo, statuses(send(block(1, fileContent(10)))));
    EXPECT_EQ(kStop, statuses(send(block(0, fileContent(122)))));
    ASSERT_EQ(3U, stats().violations.size());
    EXPECT_NE(std::string::npos, stats().violations[0].find("no download"));
    EXPECT_NE(std::string::npos, stats().violations[1].find("out of sequence"));
    EXPECT_NE(std::string::npos, stats().violations[2].find("past the announced size"));
}

TEST_F(SessionTest, DirtyPaddingIsAViolationButTheDataIsKept)
{
    announceAndStart("A.BIN", 10);
    Bytes frame = block(0, fileContent(10));
    frame[100] = 0xEE;
    putCrc(frame, kBlockCovered);
    EXPECT_EQ(2U, send(frame).size());
    EXPECT_EQ(1U, stats().violations.size());
    EXPECT_EQ(fileContent(10), host.stored["A.BIN"].data);
}

TEST_F(SessionTest, ResendMustRepeatTheBlockAndIsNotTakenTwice)
{
    scenario.faults.rejectBlock = 0;
    scenario.faults.rejectTimes = 1;
    const Bytes content = fileContent(200);
    announceAndStart("A.BIN", content.size());
    EXPECT_EQ(kKo, sendBlock(0, content));
    const Bytes other(122, 0xAB);
    EXPECT_EQ(kNext, statuses(send(block(0, other))));
    EXPECT_EQ(1U, stats().violations.size());
    // A block repeated after its NEXT is acknowledged again, not appended again.
    EXPECT_EQ(kNext, statuses(send(block(0, other))));
    EXPECT_EQ(122U, stats().files[0].data.size());
    EXPECT_EQ(2U, stats().resends);
}

TEST_F(SessionTest, AbandonedFileIsKeptAsPartialOnce)
{
    announceAndStart("A.BIN", 500);
    sendBlock(0, fileContent(500));
    send(announce("B.BIN", 5));
    session().finish();
    ASSERT_EQ(1U, host.stored.count("A.BIN.partial"));
    EXPECT_EQ(122U, host.stored["A.BIN.partial"].data.size());
    EXPECT_EQ(1, host.storeCalls);
    // B was announced but never started: nothing to keep.
    EXPECT_EQ(0U, host.stored.count("B.BIN.partial"));
}

// ---- time ----

TEST_F(SessionTest, IncompleteFrameIsDroppedAfterTheGap)
{
    const Bytes frame = command(kCmdDescribe);
    session().receive(frame.data(), 20, 0);
    EXPECT_TRUE(at(150 * kMs).empty());
    EXPECT_EQ(kFrameGap + 1, session().nextDeadline().value_or(0));
    EXPECT_TRUE(stats().violations.empty());
    EXPECT_TRUE(at(250 * kMs).empty());
    EXPECT_EQ(1U, stats().violations.size());
    EXPECT_EQ(1U, send(frame).size());
}

TEST_F(SessionTest, LoneStartCommandInsideADownloadIsTakenOnceTheLineIsQuiet)
{
    scenario.startStatus = kAckKo;
    ASSERT_EQ(kNext, statuses(send(announce("A.BIN", 10))));
    EXPECT_EQ(kKo, statuses(send(command(kCmdStart))));
    EXPECT_TRUE(send(command(kCmdStart)).empty());
    EXPECT_EQ(kKo, statuses(at(300 * kMs)));
    EXPECT_TRUE(stats().violations.empty());
}

TEST_F(SessionTest, StartRefusedWithAnOddStatusIsSaidTwiceAndEndsTheTransfer)
{
    scenario.startStatus = 0x41;
    ASSERT_EQ(kNext, statuses(send(announce("A.BIN", 10))));
    EXPECT_EQ((std::vector<std::uint8_t>{0x41, 0x41}), statuses(send(command(kCmdStart))));
    EXPECT_EQ(kStop, statuses(send(block(0, Bytes(10, 1)))));
}

TEST_F(SessionTest, PacingHoldsFramesAndRepliesForTheirWireTime)
{
    scenario.pace = true;
    host.line.baud = 9600; // 10 bits a byte: 9 bytes take 9375 us
    session().receive(kProbeAFrame.data(), kProbeAFrame.size(), 0);
    EXPECT_TRUE(at(9374).empty());
    EXPECT_EQ(0U, stats().probesA);
    EXPECT_EQ(9375, session().nextDeadline().value_or(0));
    EXPECT_TRUE(at(9375).empty());
    EXPECT_EQ(1U, stats().probesA);
    EXPECT_EQ(18750, session().nextDeadline().value_or(0));
    EXPECT_TRUE(at(18749).empty());
    EXPECT_EQ(1U, at(18750).size());
}

TEST_F(SessionTest, LateActivationAnswersAfterItsDelay)
{
    scenario.activate.kind = ActivateMode::Late;
    scenario.activate.lateMs = 3000;
    EXPECT_TRUE(send(command(kCmdActivate)).empty());
    EXPECT_TRUE(at(2999 * kMs).empty());
    EXPECT_EQ(kNext, statuses(at(3000 * kMs)));
}

TEST_F(SessionTest, RestartGoesSilentForItsTimeThenStartsOver)
{
    scenario.restartSilenceMs = 2000;
    announceAndStart("A.BIN", 500);
    EXPECT_EQ(kNext, statuses(send(command(kCmdRestart))));
    clock = 1000 * kMs;
    EXPECT_TRUE(send(kProbeAFrame).empty());
    EXPECT_EQ(0U, stats().probesA);
    clock = 2000 * kMs;
    EXPECT_EQ(1U, send(kProbeAFrame).size());
    // A new conversation: the old download is gone.
    EXPECT_EQ(kStop, sendBlock(0, fileContent(500)));
    EXPECT_EQ(1U, stats().restarts);
    EXPECT_EQ(1U, host.stored.count("A.BIN.partial"));
}

TEST_F(SessionTest, BytesCaughtBeforeTheRestartSilenceDoNotHoldADeadline)
{
    scenario.pace = true;
    host.line.baud = 9600; // 32 bytes take 33333 us each way
    const Bytes restart = command(kCmdRestart);
    session().receive(restart.data(), restart.size(), 0);
    at(33333);
    const Bytes stray = command(kCmdDescribe);
    session().receive(stray.data(), 5, 40000);
    EXPECT_EQ(kNext, statuses(at(66666)));
    EXPECT_EQ(66666 + 2000 * kMs, session().nextDeadline().value_or(0));
}

TEST_F(SessionTest, RestartWithoutEndNeverAnswersAgain)
{
    scenario.restartSilenceMs.reset();
    send(command(kCmdRestart));
    clock = 3600LL * 1000 * kMs;
    EXPECT_TRUE(send(kProbeAFrame).empty());
    EXPECT_FALSE(session().nextDeadline().has_value());
}

TEST_F(SessionTest, AFaultFromTheNthRestartLeavesTheRestartsBeforeItAlone)
{
    scenario.optionsFromRestart = 2;
    scenario.optionsAfterRestart[12] = 0x01;
    scenario.silentFromRestart = 3;
    DescriptionContent other = scenario.description;
    other.options[12] = 0x01;
    for (const DescriptionContent& described : {scenario.description, other}) {
        send(command(kCmdRestart));
        clock += 2000 * kMs;
        EXPECT_EQ(buildDescription(described, DescMode::Ok), send(command(kCmdDescribe)).at(0));
    }
    send(command(kCmdRestart));
    EXPECT_FALSE(session().nextDeadline().has_value());
}

TEST_F(SessionTest, DownloadTimeRunsFromFirstBlockToLastReply)
{
    const Bytes content = fileContent(200);
    announceAndStart("A.BIN", content.size());
    clock = 1000 * kMs;
    sendBlock(0, content);
    clock = 1500 * kMs;
    sendBlock(1, content);
    EXPECT_DOUBLE_EQ(0.5, downloadSeconds(stats()));
    EXPECT_EQ(200U, downloadBytes(stats()));
}
