// readersim: offers a pty slave as a COM port and plays the reader's loader on it.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <poll.h>
#include <unistd.h>

#include "Pty.h"
#include "PtyHost.h"
#include "Scenario.h"
#include "Session.h"
#include "Summary.h"

using namespace rsim;

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void onStopSignal(int signal) { g_stopSignal = signal; }

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The stop signals stay blocked except inside ppoll, so none slips in between a check
// of the flag and the wait.
bool installStopSignals(sigset_t& waitMask)
{
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int s : kStopSignals)
        sigaddset(&blocked, s);
    if (sigprocmask(SIG_BLOCK, &blocked, &waitMask) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int s : kStopSignals) {
        sigdelset(&waitMask, s);
        if (sigaction(s, &action, nullptr) != 0)
            return false;
    }
    return true;
}

timespec timeoutUntil(Micros wake, Micros now)
{
    const Micros wait = std::max<Micros>(0, wake - now);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(wait / kMicrosPerSecond);
    ts.tv_nsec = static_cast<long>((wait % kMicrosPerSecond) * 1000);
    return ts;
}

bool waitWritable(int fd)
{
    pollfd p{fd, POLLOUT, 0};
    return ::poll(&p, 1, 1000) > 0 && (p.revents & POLLOUT) != 0;
}

// The updater may have stopped reading; a reply that cannot go out in a second is dropped.
void writeReply(int fd, const Bytes& bytes, SessionHost& host)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN && waitWritable(fd)) {
            continue;
        } else {
            host.log("write failed (" + std::string(std::strerror(errno)) + "): " +
                     std::to_string(bytes.size() - sent) + " bytes dropped");
            return;
        }
    }
}

// False on a read error the loop cannot go on from.
bool drainInput(int fd, Session& session, SessionHost& host)
{
    std::uint8_t buffer[1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            session.receive(buffer, static_cast<std::size_t>(n), monotonicMicros());
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return true;
        host.log("read failed: " + std::string(n == 0 ? "end of file" : std::strerror(errno)));
        return false;
    }
}

void writeSummary(const Scenario& scenario, const Session& session, SessionHost& host)
{
    if (!scenario.summary.empty() && !writeFileAtomically(scenario.summary, summaryJson(session.stats())))
        host.log("cannot write summary " + scenario.summary);
}

void serve(const Scenario& scenario, int master, Session& session, PtyHost& host,
           const sigset_t& waitMask, Micros endAt)
{
    std::uint32_t summarizedFiles = 0;
    while (g_stopSignal == 0) {
        Micros now = monotonicMicros();
        if (now >= endAt) {
            host.log("lifetime over");
            return;
        }
        const Micros wake = std::min(endAt, session.nextDeadline().value_or(endAt));
        const timespec timeout = timeoutUntil(wake, now);
        pollfd p{master, POLLIN, 0};
        const int ready = ::ppoll(&p, 1, &timeout, &waitMask);
        if (ready < 0 && errno != EINTR) {
            host.log("poll failed: " + std::string(std::strerror(errno)));
            return;
        }
        if (ready > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
            !drainInput(master, session, host))
            return;
        session.advance(monotonicMicros());
        if (session.unplugged()) {
            host.log("cable pulled: the line closes and the COM link goes");
            return;
        }
        if (session.stats().completedFiles != summarizedFiles) {
            summarizedFiles = session.stats().completedFiles;
            writeSummary(scenario, session, host);
        }
        for (const Outgoing& reply : session.takeDue(monotonicMicros()))
            writeReply(master, reply.bytes, host);
    }
    host.log("stopped by signal " + std::to_string(g_stopSignal));
}

int run(const Scenario& scenario)
{
    sigset_t waitMask;
    if (!installStopSignals(waitMask)) {
        std::fprintf(stderr, "readersim: cannot install signal handlers\n");
        return 1;
    }
    const Micros startedAt = monotonicMicros();
    std::string error;
    PtyPair pty;
    ComLink link;
    if (!openPty(pty, error) || !link.create(scenario.com, pty.slavePath, error)) {
        std::fprintf(stderr, "readersim: %s\n", error.c_str());
        return 1;
    }
    PtyHost host(pty.slave.get(), scenario, startedAt);
    if (!host.openLog(error)) {
        std::fprintf(stderr, "readersim: %s\n", error.c_str());
        return 1;
    }
    Session session(scenario, host);
    host.log("slave " + pty.slavePath + " linked as " + scenario.com);
    writeSummary(scenario, session, host);
    std::printf("READY %s\n", pty.slavePath.c_str());
    std::fflush(stdout);

    serve(scenario, pty.master.get(), session, host, waitMask,
          startedAt + static_cast<Micros>(scenario.lifetimeS) * kMicrosPerSecond);
    if (session.unplugged()) {
        // As a USB serial port whose device was removed: the line is gone and the COM
        // name with it.
        link.remove();
        pty.master.reset();
        pty.slave.reset();
    }

    session.finish();
    writeSummary(scenario, session, host);
    host.log("exit: " + std::to_string(session.stats().violations.size()) + " violations");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        Scenario scenario;
        std::string error;
        switch (loadScenario(argc, argv, scenario, error)) {
        case ParseOutcome::Help:
            std::fputs(usageText(argv[0]).c_str(), stdout);
            return 0;
        case ParseOutcome::Error:
            std::fprintf(stderr, "readersim: %s\n%s", error.c_str(), usageText(argv[0]).c_str());
            return 2;
        case ParseOutcome::Run:
            break;
        }
        return run(scenario);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "readersim: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "readersim: unexpected failure\n");
    }
    return 1;
}
