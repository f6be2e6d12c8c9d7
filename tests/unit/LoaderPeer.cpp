#include "LoaderPeer.h"

#include <algorithm>

LoaderPeer::LoaderPeer(FakeOs& os, const rsim::Scenario& scenario) : LoaderPeer(os, os.port, scenario) {}

LoaderPeer::LoaderPeer(FakeOs& os, FakePort& port, const rsim::Scenario& scenario)
    : m_os(os), m_port(port), m_scenario(scenario),
      m_session(std::make_unique<rsim::Session>(m_scenario, *this))
{
    m_port.onWrite = [this](FakePort& p, const Bytes& frame) { OnWrite(p, frame); };
    m_port.onRead = [this](FakePort& p) { Deliver(p); };
}

LoaderPeer::~LoaderPeer()
{
    m_port.onWrite = nullptr;
    m_port.onRead = nullptr;
}

rsim::Micros LoaderPeer::Now() const
{
    return static_cast<rsim::Micros>(m_os.NowMs()) * 1000;
}

void LoaderPeer::OnWrite(FakePort& port, const Bytes& frame)
{
    if (!m_onlyPath.empty() && (m_os.opened.empty() || m_os.opened.back() != m_onlyPath))
        return;
    // Command frames carry their code at offset 0.
    if (onCommand && !frame.empty() && rsim::isCommandCode(frame[0]))
        onCommand(frame[0]);
    if (!frame.empty() && std::find(m_failing.begin(), m_failing.end(), frame[0]) != m_failing.end()) {
        port.QueueFailure();
        return;
    }
    m_session->receive(frame.data(), frame.size(), Now());
    Deliver(port);
}

void LoaderPeer::Deliver(FakePort& port)
{
    const rsim::Micros now = Now();
    m_session->advance(now);
    for (rsim::Outgoing& out : m_session->takeDue(now))
        port.Queue(out.bytes);
}

rsim::LineSettings LoaderPeer::lineSettings()
{
    const DCB& dcb = m_port.dcb;
    rsim::LineSettings line;
    line.baud = dcb.BaudRate;
    line.dataBits = dcb.ByteSize;
    line.parity = dcb.Parity == NOPARITY ? 'N' : 'P';
    line.stopBits = dcb.StopBits == ONESTOPBIT ? 1 : 2;
    line.xonChar = static_cast<unsigned char>(dcb.XonChar);
    line.xoffChar = static_cast<unsigned char>(dcb.XoffChar);
    return line;
}

void LoaderPeer::discardUnreadByPeer() { m_port.incoming.clear(); }

void LoaderPeer::storeFile(const std::string& name, const Bytes& data, bool complete)
{
    if (!complete)
        return;
    m_storedOrder.push_back(name);
    m_stored[name] = data;
}

void LoaderPeer::Describe(const std::string& model, const std::string& optionsHex)
{
    m_scenario.description = LoaderScenario(model, optionsHex, {}).description;
}

rsim::Scenario LoaderScenario(const std::string& model, const std::string& optionsHex,
                              const std::vector<std::string>& apps)
{
    std::vector<rsim::Setting> settings = {
        {"com", "unused", "test"},
        {"model", model, "test"},
        {"options", optionsHex, "test"},
    };
    std::string list;
    for (const std::string& app : apps)
        list += (list.empty() ? "" : ",") + app;
    if (!list.empty())
        settings.push_back({"apps", list, "test"});
    rsim::Scenario scenario;
    std::string error;
    rsim::applySettings(settings, scenario, error);
    return scenario;
}
