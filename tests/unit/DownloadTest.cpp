#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FakeOs.h"
#include "terminal/Terminal.h"
#include "winfw/Sha256.h"

using namespace proto;

namespace {

constexpr int kModuleNote = -1;
const char kKoLine[] = "Acquittement KO, reemission de la trame";

// What the callbacks saw: the percentage at each progress notification, kModuleNote for the
// module one; and the context each was given.
const CTerminal* g_terminal = nullptr;
std::vector<int> g_notes;
std::vector<std::uint32_t> g_contexts;

int OnPercent(std::uint32_t context)
{
    g_notes.push_back(g_terminal->GetPercent());
    g_contexts.push_back(context);
    return 0;
}

int OnModule(std::uint32_t context)
{
    g_notes.push_back(kModuleNote);
    g_contexts.push_back(context);
    return 0;
}

// A simulated machine, the port open, a file of `size` bytes announced, the callbacks
// hooked after a previous file left 42 %.
struct Rig {
    FakeOsOnRealFiles os;
    CTerminal t;
    TempFile file;
    Bytes announce; // the announce frame
    Rig(const std::string& name, std::size_t size) : file(name, size)
    {
        EXPECT_TRUE(t.OpenPort("COM5"));
        Announce(size);
        t.SetPercent(42);
        g_terminal = &t;
        g_notes.clear();
        g_contexts.clear();
        t.SetPercentCallback(OnPercent, 7);
        t.SetModuleCallback(OnModule, 9);
    }
    int Run() { return t.DownloadFile(file.Path()); }

    void Announce(std::size_t size)
    {
        os.port.Queue(Reply(ACK_NEXT));
        EXPECT_TRUE(t.AnnounceFile(file.Path(), "M"));
        EXPECT_EQ(t.GetFileSize(), static_cast<std::int32_t>(size));
        announce = os.port.writes.at(0);
        os.port.writes.clear();
        os.port.readSizes.clear();
        os.lines.clear();
    }
    void Rewrite(const Bytes& content) const
    {
        std::ofstream out(file.Path(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
    }
    std::size_t Logged(const char* line) const
    {
        return static_cast<std::size_t>(std::count(os.lines.begin(), os.lines.end(), line));
    }

    // The reader answers each frame written with the next status, then falls silent.
    void Answer(const std::vector<std::pair<std::uint8_t, int>>& runs)
    {
        auto left = std::make_shared<std::deque<std::uint8_t>>();
        for (const auto& run : runs)
            left->insert(left->end(), static_cast<std::size_t>(run.second), run.first);
        os.port.onWrite = [left](FakePort& port, const Bytes&) {
            if (!left->empty()) {
                port.Queue(Reply(left->front()));
                left->pop_front();
            }
        };
    }

    std::vector<Bytes> Blocks() const
    {
        std::vector<Bytes> blocks;
        std::copy_if(os.port.writes.begin(), os.port.writes.end(), std::back_inserter(blocks),
                     [](const Bytes& w) { return w.size() == 128; });
        return blocks;
    }
};

// Checks each block's layout, numbered from 0 in order, and returns the data they carried.
Bytes CheckBlocks(const std::vector<Bytes>& blocks)
{
    Bytes data;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE("block " + std::to_string(i));
        const Bytes& b = blocks[i];
        EXPECT_EQ(b[0], CMD_DOWNLOAD);
        EXPECT_EQ(b[1] * 256 + b[2], static_cast<int>(i));
        if (b[3] > 122) {
            ADD_FAILURE() << "count " << int(b[3]);
            continue;
        }
        const auto end = b.begin() + 4 + b[3];
        EXPECT_TRUE(std::all_of(end, b.begin() + 126, [](std::uint8_t x) { return x == 0; }));
        EXPECT_TRUE(HasValidCrc(b.data(), 126));
        data.insert(data.end(), b.begin() + 4, end);
    }
    return data;
}

} // namespace

TEST(Download, FileGoesOutInNumberedBlocksWithProgress)
{
    Rig r("dl_1000.bin", 1000);
    r.Answer({{ACK_NEXT, 10}});
    EXPECT_EQ(r.Run(), DL_OK);
    ASSERT_EQ(r.os.port.writes.size(), 10u);
    const Bytes& start = r.os.port.writes[0];
    ASSERT_EQ(start.size(), 32u);
    EXPECT_EQ(start[0], CMD_DOWNLOAD);
    EXPECT_EQ(Bytes(start.begin() + 1, start.begin() + 30), Bytes(29, 0));
    EXPECT_TRUE(HasValidCrc(start.data(), 30));
    const std::vector<Bytes> blocks = r.Blocks();
    ASSERT_EQ(blocks.size(), 9u);
    EXPECT_EQ(CheckBlocks(blocks), r.file.Content());
    EXPECT_EQ(blocks[8][3], 24);
    EXPECT_EQ(g_notes, (std::vector<int>{kModuleNote, 42, 12, 24, 36, 48, 61, 73, 85, 97, 100}));
    EXPECT_EQ(g_contexts, (std::vector<std::uint32_t>{9, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}));
    EXPECT_EQ(r.os.sleeps, std::vector<DWORD>(9, 1));
    // Start reply, nine block replies, and the final read that empties the line.
    EXPECT_EQ(r.os.port.readSizes, std::vector<DWORD>(11, 32));
}

TEST(Download, LargestAnnounceableFileKeepsExactPercentages)
{
    const std::int64_t size = 999999;
    Rig r("dl_max.bin", static_cast<std::size_t>(size));
    r.Answer({{ACK_NEXT, 8198}});
    EXPECT_EQ(r.Run(), DL_OK);
    const std::vector<Bytes> blocks = r.Blocks();
    ASSERT_EQ(blocks.size(), 8197u);
    EXPECT_EQ(CheckBlocks(blocks), r.file.Content());
    std::vector<int> expected{kModuleNote, 42};
    for (std::int64_t sent = 122; sent < size + 122; sent += 122)
        expected.push_back(static_cast<int>(std::min(sent, size) * 100 / size));
    EXPECT_EQ(g_notes, expected);
}

TEST(Download, EmptyFileOnlyExchangesTheStart)
{
    Rig r("dl_empty.bin", 0);
    r.Answer({{ACK_NEXT, 1}});
    EXPECT_EQ(r.Run(), DL_OK);
    EXPECT_EQ(r.os.port.writes.size(), 1u);
    EXPECT_EQ(g_notes, (std::vector<int>{kModuleNote, 42}));
    EXPECT_EQ(r.os.port.readSizes, (std::vector<DWORD>{32, 32}));
}

TEST(Download, RejectedBlockIsResentUnchangedUpToTheLimit)
{
    // The reader's replies in runs, the start frame's first.
    const struct {
        const char* name;
        std::size_t size;
        std::vector<std::pair<std::uint8_t, int>> answers;
        int code;
        std::size_t blocks;     // on the line, resends included
        std::size_t rejections; // logged
    } cases[] = {
        {"a block twice", 200, {{ACK_NEXT, 1}, {ACK_KO, 2}, {ACK_NEXT, 2}}, DL_OK, 4, 2},
        // The reply to the last block is acted on too.
        {"the last block", 200, {{ACK_NEXT, 2}, {ACK_KO, 1}, {ACK_NEXT, 1}}, DL_OK, 3, 1},
        // The block and its 50 resends; the 51st rejection gets no answer.
        {"beyond the limit", 200, {{ACK_NEXT, 1}, {ACK_KO, 51}, {ACK_NEXT, 5}}, DL_TOO_MANY_RESENDS, 51, 50},
        // Three blocks: the limit counts rejections in a row.
        {"in a row", 300, {{ACK_NEXT, 1}, {ACK_KO, 50}, {ACK_NEXT, 1}, {ACK_KO, 50}, {ACK_NEXT, 2}}, DL_OK, 103, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r("dl_ko.bin", c.size);
        r.Answer(c.answers);
        EXPECT_EQ(r.Run(), c.code);
        const std::vector<Bytes> blocks = r.Blocks();
        ASSERT_EQ(blocks.size(), c.blocks);
        EXPECT_EQ(r.os.port.writes.size(), c.blocks + 1);
        EXPECT_EQ(r.Logged(kKoLine), c.rejections);
        // Each block after a rejection is the rejected one again; the others carry the file
        // from its start.
        std::vector<std::uint8_t> replies;
        for (const auto& run : c.answers)
            replies.insert(replies.end(), static_cast<std::size_t>(run.second), run.first);
        std::vector<Bytes> fresh;
        for (std::size_t j = 0; j < blocks.size(); ++j) {
            if (j > 0 && replies[j] == ACK_KO)
                EXPECT_EQ(blocks[j], blocks[j - 1]) << "block " << j;
            else
                fresh.push_back(blocks[j]);
        }
        const Bytes content = r.file.Content();
        const std::size_t carried = std::min(content.size(), fresh.size() * 122);
        EXPECT_EQ(CheckBlocks(fresh), Bytes(content.begin(), content.begin() + carried));
        // Every reply read, and one more read that empties the line.
        EXPECT_EQ(r.os.port.readSizes, std::vector<DWORD>(c.blocks + 2, 32));
    }
}

TEST(Download, RejectedStartResendsTheWholeFrameArea)
{
    Rig r("dl_kostart.bin", 10);
    r.Answer({{ACK_KO, 1}, {ACK_NEXT, 2}});
    EXPECT_EQ(r.Run(), DL_OK);
    ASSERT_EQ(r.os.port.writes.size(), 3u);
    const Bytes& resent = r.os.port.writes[1];
    ASSERT_EQ(resent.size(), 128u);
    EXPECT_EQ(Bytes(resent.begin(), resent.begin() + 32), r.os.port.writes[0]);
    EXPECT_EQ(Bytes(resent.begin() + 32, resent.begin() + 126), Bytes(94, 0));
    EXPECT_TRUE(HasValidCrc(resent.data(), 126));
    EXPECT_EQ(CheckBlocks({r.os.port.writes[2]}), r.file.Content());
}

TEST(Download, FailuresEndTheTransferWithTheirCode)
{
    const int kFail = -1; // a read that fails
    const char* const kCannotWrite = "Impossible d'ecrire sur le port";
    const char* const kCannotRead = "Impossible de lire sur le port";
    const char* const kNoData = "Aucune donnee lue sur la liaison";
    const char* const kStopLine = "Acquittement STOP, erreur critique, arret du chargement du module...";
    // Replies waiting on the line, the write that fails, then what comes of it.
    const struct {
        std::vector<int> replies;
        int failWrite;
        int code;
        const char* line;
        std::size_t writes, reads;
    } cases[] = {
        {{}, 0, DL_START_WRITE_FAILED, kCannotWrite, 1, 1},
        {{kFail}, -1, DL_START_READ_FAILED, kCannotRead, 1, 2},
        {{}, -1, DL_START_NO_REPLY, kNoData, 1, 2},
        {{0x41, ACK_NEXT}, -1, DL_UNKNOWN_STATUS, nullptr, 1, 3},
        {{ACK_NEXT, ACK_NEXT}, 1, DL_BLOCK_WRITE_FAILED, kCannotWrite, 2, 3},
        {{ACK_NEXT, ACK_KO, ACK_NEXT}, 2, DL_RESEND_WRITE_FAILED, kCannotWrite, 3, 4},
        {{ACK_NEXT, ACK_STOP, ACK_NEXT}, -1, DL_READER_STOP, kStopLine, 2, 4},
        // A stop on the last block is followed by one more frame, not by a missing reply.
        {{ACK_NEXT, ACK_NEXT, ACK_STOP, ACK_NEXT}, -1, DL_READER_STOP, kStopLine, 3, 5},
        {{ACK_NEXT, ACK_STOP}, -1, DL_NO_REPLY, kNoData, 2, 4}, // the silence decides the code
        {{ACK_NEXT, kFail}, -1, DL_REPLY_READ_FAILED, kCannotRead, 2, 3},
        {{ACK_NEXT}, -1, DL_NO_REPLY, kNoData, 2, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        Rig r("dl_fail.bin", 200);
        for (int reply : c.replies) {
            if (reply == kFail)
                r.os.port.QueueFailure();
            else
                r.os.port.Queue(Reply(static_cast<std::uint8_t>(reply)));
        }
        r.os.port.failWriteNumber = c.failWrite;
        EXPECT_EQ(r.Run(), c.code);
        EXPECT_TRUE(c.line == nullptr || r.Logged(c.line) == 1u);
        EXPECT_EQ(r.os.port.writes.size(), c.writes);
        // Every path ends with one read that empties the line.
        EXPECT_EQ(r.os.port.readSizes, std::vector<DWORD>(c.reads, 32));
    }
}

TEST(Download, FileDeletedAfterItsAnnounceIsNotStarted)
{
    Rig r("dl_gone.bin", 300);
    r.os.port.Queue(Reply(ACK_NEXT));
    ASSERT_TRUE(r.t.AnnounceFile(r.file.Path(), "M"));
    ASSERT_TRUE(::DeleteFileA(r.file.Path().c_str()));
    r.os.port.writes.clear();
    r.os.port.readSizes.clear();
    EXPECT_EQ(r.Run(), DL_FILE_NOT_FOUND);
    EXPECT_TRUE(r.os.Logged("Fichier non trouve : " + r.file.Path()));
    EXPECT_TRUE(r.os.port.writes.empty());
    EXPECT_EQ(r.os.port.readSizes, std::vector<DWORD>{32});
}

TEST(Download, WhatIsSentIsWhatTheAnnounceRead)
{
    // A 2000-byte file (17 blocks) on a share that others write to, changed after its
    // announce: before its download starts, or once its tenth block is on the line.
    const struct {
        const char* name;
        bool afterTenthBlock;
        std::size_t sizeNow;
    } cases[] = {
        {"rewritten after its tenth block", true, 2000},
        {"cut after its tenth block", true, 500},
        {"grown before its download", false, 3000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r("dl_share.bin", 2000);
        const Bytes announced = r.file.Content();
        std::string hash;
        ASSERT_TRUE(Sha256Hex(announced.data(), announced.size(), &hash));
        EXPECT_EQ(r.t.GetFileSha256(), hash);
        const Bytes now(c.sizeNow, 0x5A);
        if (!c.afterTenthBlock)
            r.Rewrite(now);
        r.os.port.onWrite = [&r, &c, now](FakePort& port, const Bytes&) {
            if (c.afterTenthBlock && port.writes.size() == 11) // the start frame, ten blocks
                r.Rewrite(now);
            port.Queue(Reply(ACK_NEXT));
        };
        EXPECT_EQ(r.Run(), DL_OK);
        EXPECT_EQ(CheckBlocks(r.Blocks()), announced);
        // The activation names the file last sent: announced again as it was sent.
        r.os.port.writes.clear();
        EXPECT_TRUE(r.t.AnnounceAgain(r.file.Path(), "M"));
        EXPECT_EQ(r.os.port.writes.at(0), r.announce);
    }
}

TEST(Download, ShortReplyIsCompletedByOneMoreRead)
{
    Rig r("dl_split.bin", 200);
    int written = 0;
    r.os.port.onWrite = [&written](FakePort& port, const Bytes&) {
        const Bytes next = Reply(ACK_NEXT);
        if (++written == 2) { // the first block's reply comes in two pieces, status in the second
            port.Queue(Bytes(next.begin(), next.begin() + 2));
            port.Queue(Bytes(next.begin() + 2, next.end()));
        } else {
            port.Queue(next);
        }
    };
    EXPECT_EQ(r.Run(), DL_OK);
    EXPECT_EQ(r.os.port.readSizes, (std::vector<DWORD>{32, 32, 30, 32, 32}));
    EXPECT_EQ(CheckBlocks(r.Blocks()), r.file.Content());
}

TEST(Download, LineErrorCostsOneResendNotTheTransfer)
{
    constexpr std::size_t kBlocks = 200;
    // Around the 100th block: its reply garbled on the line, or an error left on the line
    // just before it is written.
    const struct {
        const char* name;
        bool replyGarbled;
        const char* failedLine;
        const char* errorLine;
        std::size_t blocksOnLine;
    } cases[] = {
        {"reply garbled", true, "Impossible de lire sur le port", "Erreur de ligne 0x8", kBlocks + 1},
        {"write refused", false, "Impossible d'ecrire sur le port", "Erreur de ligne 0x2", kBlocks},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r("dl_line.bin", kBlocks * 122);
        r.os.port.dcb.fAbortOnError = TRUE;
        const bool garbled = c.replyGarbled;
        r.os.port.onWrite = [garbled](FakePort& port, const Bytes&) {
            if (garbled && port.writes.size() == 101)
                port.QueueLineError(CE_FRAME);
            else
                port.Queue(Reply(ACK_NEXT));
        };
        r.os.port.onRead = [garbled](FakePort& port) {
            if (!garbled && port.readSizes.size() == 100)
                port.lineErrors = CE_OVERRUN; // once this reply is in
        };
        EXPECT_EQ(r.Run(), DL_OK);
        std::vector<Bytes> blocks = r.Blocks();
        ASSERT_EQ(blocks.size(), c.blocksOnLine);
        if (garbled) {
            EXPECT_EQ(blocks[100], blocks[99]);
            blocks.erase(blocks.begin() + 100);
        }
        EXPECT_EQ(CheckBlocks(blocks), r.file.Content());
        EXPECT_EQ(r.os.port.clearCalls, 1);
        EXPECT_TRUE(r.os.LoggedThen(c.failedLine, "Erreur systeme 995"));
        EXPECT_TRUE(r.os.LoggedThen("Erreur systeme 995", c.errorLine));
    }

    // A line that errs on every reply still ends within the bounded resends.
    Rig r("dl_noisy.bin", 300);
    r.os.port.dcb.fAbortOnError = TRUE;
    r.os.port.onWrite = [](FakePort& port, const Bytes&) {
        if (port.writes.size() == 1)
            port.Queue(Reply(ACK_NEXT));
        else
            port.QueueLineError(CE_FRAME);
    };
    EXPECT_EQ(r.Run(), DL_TOO_MANY_RESENDS);
    EXPECT_EQ(r.Blocks().size(), 1u + CTerminal::kMaxResendsPerBlock);
}
