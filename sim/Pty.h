// The pseudo-terminal the simulated reader sits on, and the COM name pointing at it.
#pragma once
#include <cstdint>
#include <string>
#include <termios.h>

#include "Session.h"

namespace rsim {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

struct PtyPair {
    UniqueFd master;
    // Held open all run long: the master then never reads EIO when the Windows side closes
    // the port, and the line settings stay readable.
    UniqueFd slave;
    std::string slavePath;
};

bool openPty(PtyPair& pty, std::string& error);

// A symlink to the slave for as long as the object lives.
class ComLink {
public:
    ComLink() = default;
    ~ComLink() { remove(); }
    ComLink(const ComLink&) = delete;
    ComLink& operator=(const ComLink&) = delete;

    bool create(const std::string& path, const std::string& target, std::string& error);
    void remove();

private:
    std::string path_;
    std::string target_;
};

std::uint32_t baudOfSpeed(speed_t speed);
LineSettings lineSettingsOf(const termios& tio);
bool readLineSettings(int fd, LineSettings& line);

} // namespace rsim
