// The connections one worker serves, for its look at their deadlines.
#pragma once

#include <list>

class GConnection;

// Each connection enters on creation and leaves on destruction; the worker
// only walks the list, so a connection needs nothing of the worker.
class GConnectionList
{
public:
    using GPlace = std::list<GConnection*>::iterator;

    GPlace Add(GConnection* pConnection) { return m_list.insert(m_list.end(), pConnection); }
    void Remove(GPlace place) { m_list.erase(place); }

    // Closing a connection only cancels its I/O; it goes away later, from its
    // handlers, so fn may close connections.
    template <class F>
    void ForEach(F fn) const
    {
        for (GConnection* p : m_list)
            fn(*p);
    }

private:
    std::list<GConnection*> m_list;
};
