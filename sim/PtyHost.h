// The session's outside world in the real program: the slave's line settings, the log
// file and the output folder.
#pragma once
#include <fstream>
#include <string>

#include "Scenario.h"
#include "Session.h"

namespace rsim {

Micros monotonicMicros();

class PtyHost : public SessionHost {
public:
    PtyHost(int slaveFd, const Scenario& scenario, Micros startedAt);

    bool openLog(std::string& error);

    LineSettings lineSettings() override;
    void discardUnreadByPeer() override;
    void log(const std::string& line) override;
    void storeFile(const std::string& name, const Bytes& data, bool complete) override;

private:
    int slaveFd_;
    const Scenario& scenario_;
    Micros startedAt_;
    std::ofstream log_;
};

// Written beside the target then renamed, so a reader never sees half a summary.
bool writeFileAtomically(const std::string& path, const std::string& text);

} // namespace rsim
