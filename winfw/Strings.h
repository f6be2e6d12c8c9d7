// 8-bit ANSI text and the ordered string list the system passes around.
#pragma once
#include <cstddef>
#include <list>
#include <string>

using CString = std::string;

class CStringList {
public:
    using const_iterator = std::list<CString>::const_iterator;

    void AddHead(const CString& s) { m_items.push_front(s); }
    void AddTail(const CString& s) { m_items.push_back(s); }
    // The caller checks IsEmpty first; an empty list gives an empty string.
    CString RemoveHead()
    {
        if (m_items.empty())
            return CString();
        CString head = m_items.front();
        m_items.pop_front();
        return head;
    }
    void RemoveAll() { m_items.clear(); }
    bool IsEmpty() const { return m_items.empty(); }
    std::size_t GetCount() const { return m_items.size(); }
    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }

private:
    std::list<CString> m_items;
};
