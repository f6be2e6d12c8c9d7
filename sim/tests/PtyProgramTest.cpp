// The real program over its pty, as the Windows side sees it through the COM symlink.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "Frames.h"
#include "TestSupport.h"

using namespace rsim;

namespace {

// A folder of the test's own under the temporary directory: removed at the end, unless the
// test failed; then it stays and its path is printed.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = ::testing::TempDir() + "readersim_test_XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~ScratchDir()
    {
        if (path_.empty())
            return;
        if (::testing::Test::HasFailure()) {
            std::printf("kept %s\n", path_.c_str());
            return;
        }
        std::error_code error;
        std::filesystem::remove_all(path_, error);
        EXPECT_FALSE(error) << "could not remove " << path_ << ": " << error.message();
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class ProgramRun {
public:
    explicit ProgramRun(const std::vector<std::string>& args)
    {
        int out[2];
        if (::pipe(out) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(READERSIM_PROGRAM));
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(READERSIM_PROGRAM, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        stdout_ = out[0];
    }
    ~ProgramRun()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0)
            ::close(stdout_);
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    std::string readLine(int timeoutMs)
    {
        std::string line;
        char c = 0;
        while (readByte(stdout_, c, timeoutMs) && c != '\n')
            line += c;
        return line;
    }

    // Exit status after SIGTERM, -1 when it did not end cleanly in time.
    int terminate()
    {
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::usleep(50 * 1000);
        }
        return -1;
    }

    static bool readByte(int fd, char& c, int timeoutMs)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) > 0 && ::read(fd, &c, 1) == 1;
    }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
};

Bytes readReply(int fd, std::size_t count, int timeoutMs)
{
    Bytes out;
    char c = 0;
    while (out.size() < count && ProgramRun::readByte(fd, c, timeoutMs))
        out.push_back(static_cast<std::uint8_t>(c));
    return out;
}

void setLine(int fd, speed_t speed, bool twoStopBits)
{
    termios tio{};
    ASSERT_EQ(0, ::tcgetattr(fd, &tio));
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, speed);
    if (twoStopBits)
        tio.c_cflag |= CSTOPB;
    else
        tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    ASSERT_EQ(0, ::tcsetattr(fd, TCSANOW, &tio));
}

bool writeFrame(int fd, const Bytes& frame)
{
    return ::write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(PtyProgram, AnswersOverItsComLinkAndCleansUpOnSigterm)
{
    const ScratchDir scratch;
    ASSERT_FALSE(scratch.path().empty());
    const std::string& dir = scratch.path();
    const std::string com = dir + "/com5";
    const std::string summary = dir + "/summary.json";

    ProgramRun run({"--com", com, "--summary", summary, "--baud", "9600", "--model", "T42",
                    "--lifetime", "30"});
    const std::string ready = run.readLine(5000);
    ASSERT_EQ(0U, ready.rfind("READY /dev/pts/", 0)) << ready;
    char target[256] = {};
    ASSERT_GT(::readlink(com.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(ready.substr(6), target);

    const int port = ::open(com.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(port, 0);
    const Bytes probeA(kProbeA.begin(), kProbeA.end());

    // The loader listens at 9600 only: a probe at another rate goes unanswered.
    setLine(port, B19200, false);
    ASSERT_TRUE(writeFrame(port, probeA));
    EXPECT_TRUE(readReply(port, kProbeAReplySize, 400).empty());

    setLine(port, B9600, false);
    ASSERT_TRUE(writeFrame(port, probeA));
    EXPECT_EQ(buildProbeReply(true, LoaderMode::Present), readReply(port, kProbeAReplySize, 2000));

    setLine(port, B9600, true);
    ASSERT_TRUE(writeFrame(port, Bytes(kProbeB.begin(), kProbeB.end())));
    EXPECT_EQ(buildProbeReply(false, LoaderMode::Present), readReply(port, kProbeBReplySize, 2000));

    ASSERT_TRUE(writeFrame(port, test::command(kCmdDescribe)));
    const Bytes description = readReply(port, kDescriptionSize, 2000);
    ASSERT_EQ(kDescriptionSize, description.size());
    EXPECT_TRUE(crcMatches(description.data(), description.size(), kBlockCovered));
    EXPECT_EQ("T42", std::string(description.begin() + 10, description.begin() + 13));
    ::close(port);

    EXPECT_EQ(0, run.terminate());
    struct stat info {};
    EXPECT_NE(0, ::lstat(com.c_str(), &info)) << "symlink left behind";
    const std::string json = fileText(summary);
    EXPECT_NE(std::string::npos, json.find("\"probes_a\": 2,")) << json;
    EXPECT_NE(std::string::npos, json.find("\"probe_bauds\": [19200, 9600, 9600],")) << json;
    EXPECT_NE(std::string::npos, json.find("\"commands\": {\"7\": 1},")) << json;
    // The two stop bits set before probe B.
    EXPECT_NE(std::string::npos, json.find("\"violations\": 1,")) << json;
}
