#include "PtyHost.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <termios.h>

#include "Pty.h"

namespace rsim {

Micros monotonicMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

PtyHost::PtyHost(int slaveFd, const Scenario& scenario, Micros startedAt)
    : slaveFd_(slaveFd), scenario_(scenario), startedAt_(startedAt)
{
}

bool PtyHost::openLog(std::string& error)
{
    if (scenario_.log.empty())
        return true;
    log_.open(scenario_.log, std::ios::out | std::ios::trunc);
    if (!log_) {
        error = "cannot write log file " + scenario_.log;
        return false;
    }
    return true;
}

LineSettings PtyHost::lineSettings()
{
    LineSettings line;
    if (!readLineSettings(slaveFd_, line))
        log("cannot read the slave's line settings");
    return line;
}

void PtyHost::discardUnreadByPeer()
{
    ::tcflush(slaveFd_, TCIFLUSH);
}

void PtyHost::log(const std::string& line)
{
    if (!log_.is_open())
        return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%10.3f] ",
                  static_cast<double>(monotonicMicros() - startedAt_) / 1e6);
    // Flushed per line: tests read the log while the simulator runs.
    log_ << stamp << line << std::endl;
}

void PtyHost::storeFile(const std::string& name, const Bytes& data, bool complete)
{
    if (scenario_.outdir.empty())
        return;
    std::error_code ignored;
    std::filesystem::create_directories(scenario_.outdir, ignored);
    const std::string path = scenario_.outdir + "/" + name + (complete ? "" : ".partial");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    log(out ? "stored " + path : "cannot write " + path);
}

bool writeFileAtomically(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out)
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace rsim
