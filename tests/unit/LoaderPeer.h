// The reader's loader on the fake port: the simulator's own state machine, driven by the
// frames the updater writes and by the machine's virtual clock. What it received and what
// it counted are there for the test to read.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FakeOs.h"
#include "Scenario.h"
#include "Session.h"

class LoaderPeer : public rsim::SessionHost {
public:
    // Binds itself to `os`'s port (or to `port`, one of its ports) for its lifetime.
    LoaderPeer(FakeOs& os, const rsim::Scenario& scenario);
    LoaderPeer(FakeOs& os, FakePort& port, const rsim::Scenario& scenario);
    ~LoaderPeer() override;
    LoaderPeer(const LoaderPeer&) = delete;
    LoaderPeer& operator=(const LoaderPeer&) = delete;

    // Called with the code of every command frame before the loader takes it.
    std::function<void(int code)> onCommand;
    // The loader hears only what is written after this device path was opened last.
    void ListenOnlyOn(const std::string& path) { m_onlyPath = path; }
    // The port read that follows a frame with this command code fails.
    void FailReadAfter(int code) { m_failing.push_back(code); }
    // From now on the loader describes itself with this model and option bytes (26 hex
    // digits): another reader.
    void Describe(const std::string& model, const std::string& optionsHex);

    const rsim::Stats& Stats() const { return m_session->stats(); }
    // The files stored whole, by announced name, in the order they were completed.
    const std::vector<std::string>& StoredOrder() const { return m_storedOrder; }
    const std::map<std::string, Bytes>& Stored() const { return m_stored; }

    rsim::LineSettings lineSettings() override;
    void discardUnreadByPeer() override;
    void log(const std::string&) override {}
    void storeFile(const std::string& name, const Bytes& data, bool complete) override;

private:
    rsim::Micros Now() const;
    void OnWrite(FakePort& port, const Bytes& frame);
    void Deliver(FakePort& port);

    FakeOs& m_os;
    FakePort& m_port;
    rsim::Scenario m_scenario; // the session reads it for its whole life
    std::unique_ptr<rsim::Session> m_session;
    std::vector<int> m_failing;
    std::string m_onlyPath;
    std::vector<std::string> m_storedOrder;
    std::map<std::string, Bytes> m_stored;
};

// A loader scenario with the given model, option bytes (26 hex digits) and applications.
rsim::Scenario LoaderScenario(const std::string& model, const std::string& optionsHex,
                              const std::vector<std::string>& apps);
