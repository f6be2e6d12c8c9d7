#include "CommandLine.h"

#include <algorithm>
#include <utility>

#include "terminal/Protocol.h"

namespace {

bool LooksLikeOption(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

std::string Quoted(const std::string& word) { return "\"" + word + "\""; }

// Whether `a` turns into `b` by one letter changed, added or left out, or by two neighbours
// swapped.
bool OneLetterApart(const std::string& a, const std::string& b)
{
    if (a == b)
        return false;
    const std::string& shorter = a.size() <= b.size() ? a : b;
    const std::string& longer = a.size() <= b.size() ? b : a;
    if (longer.size() - shorter.size() > 1)
        return false;
    std::size_t first = 0;
    while (first < shorter.size() && shorter[first] == longer[first])
        ++first;
    if (shorter.size() != longer.size())
        return shorter.compare(first, std::string::npos, longer, first + 1, std::string::npos) == 0;
    if (shorter.compare(first + 1, std::string::npos, longer, first + 1, std::string::npos) == 0)
        return true;
    return first + 1 < shorter.size() && shorter[first] == longer[first + 1] &&
           shorter[first + 1] == longer[first] &&
           shorter.compare(first + 2, std::string::npos, longer, first + 2, std::string::npos) == 0;
}

} // namespace

std::vector<std::string> TakeGlobalOptions(const std::vector<std::string>& words,
                                           GlobalOptions& options)
{
    std::vector<std::string> rest;
    for (auto it = words.begin(); it != words.end(); ++it) {
        const std::string& word = *it;
        if (word == "--package") {
            if (!options.package.empty() && options.refusal.empty())
                options.refusal = "--package given twice";
            if (it + 1 == words.end() || LooksLikeOption(*(it + 1))) {
                if (options.refusal.empty())
                    options.refusal = "--package without its DIR";
                continue;
            }
            options.package = *++it;
        } else if (word == "-v")
            options.verbose = true;
        else if (word == "-h" || word == "--help")
            options.help = true;
        else if (word == "--version")
            options.version = true;
        else
            rest.push_back(word);
    }
    return rest;
}

std::string NearestName(const std::string& word, const std::vector<std::string>& names)
{
    std::string nearest;
    for (const std::string& name : names) {
        if (!OneLetterApart(word, name) || name == nearest)
            continue;
        if (!nearest.empty())
            return std::string();
        nearest = name;
    }
    return nearest;
}

const std::vector<std::string>& GlobalOptionNames()
{
    static const std::vector<std::string> names = {"-v", "-h", "--help", "--version",
                                                   "--package"};
    return names;
}

std::string UnknownOptionReason(const std::string& word, const std::string& where,
                                std::vector<std::string> known)
{
    const std::vector<std::string>& global = GlobalOptionNames();
    known.insert(known.end(), global.begin(), global.end());
    const std::string nearest = NearestName(word, known);
    const std::string reason = Quoted(word) + " is not an option" + where;
    return nearest.empty() ? reason : reason + "; did you mean " + Quoted(nearest) + "?";
}

ArgumentReader::ArgumentReader(std::string command, std::vector<std::string> args)
    : m_command(std::move(command)), m_args(std::move(args))
{
}

bool ArgumentReader::Refuse(const std::string& reason)
{
    if (m_reason.empty())
        m_reason = reason;
    return false;
}

bool ArgumentReader::Flag(const char* name)
{
    m_asked.push_back(name);
    const auto it = std::find(m_args.begin(), m_args.end(), name);
    if (it == m_args.end())
        return false;
    m_args.erase(it);
    return true;
}

bool ArgumentReader::Option(const char* name, const char* what, std::string& value)
{
    m_asked.push_back(name);
    const auto it = std::find(m_args.begin(), m_args.end(), name);
    if (it == m_args.end())
        return true;
    const auto next = it + 1;
    if (next == m_args.end() || LooksLikeOption(*next))
        return Refuse(std::string(name) + " without its " + what);
    value = *next;
    m_args.erase(it, next + 1);
    if (std::find(m_args.begin(), m_args.end(), name) != m_args.end())
        return Refuse(std::string(name) + " given twice");
    return true;
}

bool ArgumentReader::Has(const char* name)
{
    m_asked.push_back(name);
    return std::find(m_args.begin(), m_args.end(), name) != m_args.end();
}

bool ArgumentReader::NoUnknownOption()
{
    const auto option = std::find_if(m_args.begin(), m_args.end(), LooksLikeOption);
    if (option == m_args.end())
        return true;
    return Refuse(UnknownOptionReason(*option, " of " + m_command, m_asked));
}

bool ArgumentReader::Take(const char* what, std::string& value)
{
    if (!NoUnknownOption())
        return false;
    if (m_args.empty())
        return Refuse(std::string("missing ") + what);
    value = m_args.front();
    m_args.erase(m_args.begin());
    return true;
}

bool ArgumentReader::TakeOptional(std::string& value)
{
    if (!NoUnknownOption() || m_args.empty())
        return false;
    value = m_args.front();
    m_args.erase(m_args.begin());
    return true;
}

std::vector<std::string> ArgumentReader::TakeRest()
{
    if (!NoUnknownOption())
        return {};
    std::vector<std::string> rest;
    rest.swap(m_args);
    return rest;
}

bool ArgumentReader::Done()
{
    if (!NoUnknownOption())
        return false;
    if (m_args.empty())
        return !Failed();
    return Refuse("unexpected argument " + Quoted(m_args.front()));
}

bool IsComPortArgument(const std::string& portText)
{
    return proto::IsComPortName(proto::PortNameOfText(portText));
}
