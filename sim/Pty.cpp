#include "Pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rsim {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int UniqueFd::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

namespace {

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool makeRaw(int fd, std::string& error)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        error = errnoText("tcgetattr");
        return false;
    }
    ::cfmakeraw(&tio);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = errnoText("tcsetattr");
        return false;
    }
    return true;
}

bool readLinkTarget(const std::string& path, std::string& target)
{
    char buffer[4096];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (length < 0)
        return false;
    target.assign(buffer, static_cast<std::size_t>(length));
    return true;
}

struct SpeedEntry {
    speed_t speed;
    std::uint32_t baud;
};

const SpeedEntry kSpeeds[] = {
    {B0, 0},         {B50, 50},         {B75, 75},           {B110, 110},
    {B134, 134},     {B150, 150},       {B200, 200},         {B300, 300},
    {B600, 600},     {B1200, 1200},     {B1800, 1800},       {B2400, 2400},
    {B4800, 4800},   {B9600, 9600},     {B19200, 19200},     {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400},   {B460800, 460800},
    {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
};

} // namespace

bool openPty(PtyPair& pty, std::string& error)
{
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master.valid()) {
        error = errnoText("posix_openpt");
        return false;
    }
    if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
        error = errnoText("grantpt/unlockpt");
        return false;
    }
    char name[256];
    if (::ptsname_r(master.get(), name, sizeof name) != 0) {
        error = errnoText("ptsname_r");
        return false;
    }
    UniqueFd slave(::open(name, O_RDWR | O_NOCTTY));
    if (!slave.valid()) {
        error = errnoText("open slave");
        return false;
    }
    if (!makeRaw(slave.get(), error))
        return false;
    // Replies must never block the loop when nobody reads the other end.
    const int flags = ::fcntl(master.get(), F_GETFL);
    if (flags < 0 || ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        error = errnoText("fcntl");
        return false;
    }
    pty.master = std::move(master);
    pty.slave = std::move(slave);
    pty.slavePath = name;
    return true;
}

bool ComLink::create(const std::string& path, const std::string& target, std::string& error)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        // Only a stale link is ours to replace; a real file there is someone else's.
        if (!S_ISLNK(info.st_mode)) {
            error = path + " exists and is not a symlink";
            return false;
        }
        if (::unlink(path.c_str()) != 0) {
            error = errnoText(("unlink " + path).c_str());
            return false;
        }
    }
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        error = errnoText(("symlink " + path).c_str());
        return false;
    }
    path_ = path;
    target_ = target;
    return true;
}

void ComLink::remove()
{
    if (path_.empty())
        return;
    // Leave the link alone if another simulator has taken the name over since.
    std::string current;
    if (readLinkTarget(path_, current) && current == target_)
        ::unlink(path_.c_str());
    path_.clear();
}

std::uint32_t baudOfSpeed(speed_t speed)
{
    for (const SpeedEntry& entry : kSpeeds)
        if (entry.speed == speed)
            return entry.baud;
    return 0;
}

LineSettings lineSettingsOf(const termios& tio)
{
    LineSettings line;
    line.baud = baudOfSpeed(::cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
    case CS5: line.dataBits = 5; break;
    case CS6: line.dataBits = 6; break;
    case CS7: line.dataBits = 7; break;
    default: line.dataBits = 8; break;
    }
    line.parity = (tio.c_cflag & PARENB) == 0 ? 'N' : ((tio.c_cflag & PARODD) != 0 ? 'O' : 'E');
    line.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    line.raw = (tio.c_lflag & (ICANON | ECHO)) == 0;
    line.xonChar = tio.c_cc[VSTART];
    line.xoffChar = tio.c_cc[VSTOP];
    return line;
}

bool readLineSettings(int fd, LineSettings& line)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    line = lineSettingsOf(tio);
    return true;
}

} // namespace rsim
