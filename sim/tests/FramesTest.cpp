#include <gtest/gtest.h>

#include "Frames.h"
#include "TestSupport.h"

using namespace rsim;
using namespace rsim::test;

namespace {

// The updater's verdict over its 9-byte buffer: reply A, then reply B over its start.
enum class Verdict { Present, Absent, NotFound };
Verdict updaterVerdict(const Bytes& replyA, const Bytes& replyB)
{
    std::uint8_t buffer[9] = {};
    std::copy(replyA.begin(), replyA.end(), buffer);
    std::copy(replyB.begin(), replyB.end(), buffer);
    if (buffer[3] == 0x01 && buffer[4] == 0x81)
        return Verdict::Absent;
    for (std::uint8_t b : buffer) {
        if (b == 0)
            break;
        if (b == 'K')
            return Verdict::Present;
    }
    return Verdict::NotFound;
}

} // namespace

TEST(ProbeReplies, LeadTheUpdaterToTheChosenVerdict)
{
    const Bytes presentA = buildProbeReply(true, LoaderMode::Present);
    const Bytes presentB = buildProbeReply(false, LoaderMode::Present);
    ASSERT_EQ(kProbeAReplySize, presentA.size());
    ASSERT_EQ(kProbeBReplySize, presentB.size());
    EXPECT_EQ(Verdict::Present, updaterVerdict(presentA, presentB));
    EXPECT_EQ(Verdict::Absent, updaterVerdict(buildProbeReply(true, LoaderMode::Absent),
                                              buildProbeReply(false, LoaderMode::Absent)));
}

TEST(CutFrame, SizesEachKindOfFrame)
{
    EXPECT_EQ(FrameKind::Incomplete, cutFrame({0x2F}, false).kind);
    const Bytes probeA(kProbeA.begin(), kProbeA.end());
    EXPECT_EQ(FrameKind::ProbeA, cutFrame(probeA, false).kind);
    EXPECT_EQ(FrameKind::Incomplete, cutFrame(slice(probeA, 0, 8), false).kind);
    EXPECT_EQ(kProbeBSize, cutFrame(Bytes(kProbeB.begin(), kProbeB.end()), true).length);
    EXPECT_EQ(FrameKind::Garbage, cutFrame({0x2F, 0x11}, false).kind);
    EXPECT_EQ(FrameKind::Garbage, cutFrame({0x99}, false).kind);

    const Bytes describe = command(kCmdDescribe);
    EXPECT_EQ(FrameKind::Command, cutFrame(describe, true).kind);
    EXPECT_EQ(FrameKind::Incomplete, cutFrame(slice(describe, 0, 31), false).kind);
}

TEST(CutFrame, TellsAStartCommandFromABlockByTheContext)
{
    const Bytes start = command(kCmdStart);
    EXPECT_EQ(FrameKind::Command, cutFrame(start, false).kind);
    // Inside a download the same 32 bytes are the head of a 128-byte area.
    EXPECT_EQ(FrameKind::Incomplete, cutFrame(start, true).kind);
    EXPECT_EQ(kBlockSize, cutFrame(start, true).length);

    const Bytes stray = block(3, fileContent(40));
    EXPECT_EQ(FrameKind::Incomplete, cutFrame(slice(stray, 0, 32), false).kind);
    EXPECT_EQ(FrameKind::Block, cutFrame(stray, false).kind);
}

TEST(ParseAnnounce, ReadsAWellFormedAnnounce)
{
    const AnnounceFields a = parseAnnounce(announce("APP_MAIN.BIN", 1234).data());
    EXPECT_TRUE(a.usable);
    EXPECT_TRUE(a.problems.empty());
    EXPECT_EQ("APP_MAIN.BIN", a.name);
    EXPECT_EQ(1234U, a.size);

    const AnnounceFields full = parseAnnounce(announce(std::string(22, 'X'), 999999).data());
    EXPECT_TRUE(full.problems.empty());
    EXPECT_EQ(22U, full.name.size());
}

TEST(ParseAnnounce, ReportsEachMalformedField)
{
    Bytes frame = announce("APP.BIN", 10);
    frame[4] = 'x';
    AnnounceFields a = parseAnnounce(frame.data());
    EXPECT_FALSE(a.usable);
    ASSERT_EQ(1U, a.problems.size());
    EXPECT_NE(std::string::npos, a.problems[0].find("six decimal digits"));

    frame = announce("APP.BIN", 10);
    frame[1] = 20;
    a = parseAnnounce(frame.data());
    EXPECT_TRUE(a.usable);
    ASSERT_EQ(1U, a.problems.size());
    EXPECT_NE(std::string::npos, a.problems[0].find("length byte 20"));

    a = parseAnnounce(announce("app.bin", 10).data());
    EXPECT_TRUE(a.usable);
    ASSERT_EQ(1U, a.problems.size());
    EXPECT_NE(std::string::npos, a.problems[0].find("upper-case"));

    frame = announce("APP.BIN", 10);
    frame[20] = 'Z';
    EXPECT_EQ(1U, parseAnnounce(frame.data()).problems.size());

    EXPECT_FALSE(parseAnnounce(announce("A/B", 10).data()).usable);
    EXPECT_FALSE(parseAnnounce(announce("", 10).data()).usable);
    EXPECT_FALSE(parseAnnounce(announce("A\x01", 10).data()).usable);
}

TEST(BuildFrames, DescriptionCarriesModelAndOptionsWhereTheUpdaterReadsThem)
{
    DescriptionContent content;
    content.model = "Q77";
    for (std::size_t i = 0; i < content.options.size(); ++i)
        content.options[i] = static_cast<std::uint8_t>(0xA0 + i);
    const Bytes ok = buildDescription(content, DescMode::Ok);
    ASSERT_EQ(kDescriptionSize, ok.size());
    EXPECT_NE(0, ok[0]);
    EXPECT_EQ(97, ok[1]);
    EXPECT_EQ("Q77", std::string(ok.begin() + 10, ok.begin() + 13));
    EXPECT_EQ(Bytes(content.options.begin(), content.options.end()), slice(ok, 29, 13));
    EXPECT_TRUE(crcMatches(ok.data(), ok.size(), kBlockCovered));

    EXPECT_FALSE(crcMatches(buildDescription(content, DescMode::BadCrc).data(), kDescriptionSize,
                            kBlockCovered));
    const Bytes zero = buildDescription(content, DescMode::Zero);
    EXPECT_EQ(0, zero[0]);
    EXPECT_TRUE(crcMatches(zero.data(), zero.size(), kBlockCovered));
    EXPECT_EQ(kDescriptionShortSize, buildDescription(content, DescMode::Short).size());
}

TEST(BuildFrames, ApplicationNamesKeepTheirCrcUnlessTheNameNeedsThoseBytes)
{
    const Bytes shortName = buildAppFrame("PAYMENT");
    EXPECT_EQ(7, shortName[1]);
    EXPECT_EQ("PAYMENT", std::string(shortName.begin() + 2, shortName.begin() + 9));
    EXPECT_EQ(0, shortName[9]);
    EXPECT_TRUE(crcMatches(shortName.data(), shortName.size(), kCommandCovered));

    const std::string longest(30, 'N');
    const Bytes longName = buildAppFrame(longest);
    EXPECT_EQ(30, longName[1]);
    EXPECT_EQ(longest, std::string(longName.begin() + 2, longName.end()));

    EXPECT_EQ(0, buildAppListEnd()[1]);
}

TEST(ParseBlock, ReadsNumberBigEndianAndChecksPadding)
{
    Bytes frame = block(0x0102, fileContent(5));
    BlockFields b = parseBlock(frame.data());
    EXPECT_EQ(0x0102, b.number);
    EXPECT_EQ(5U, b.count);
    EXPECT_TRUE(b.paddingClean);
    frame[125] = 1;
    EXPECT_FALSE(parseBlock(frame.data()).paddingClean);
    EXPECT_TRUE(isStartArea(parseBlock(startArea().data())));
}
