// The machines tests compose: a fake of each concern binds its own calls over the table it
// finds, and the first stacks on StrictCalls(), where every call no fake binds fails the test,
// so that nothing a test did not fake reaches the real system.
#pragma once
#include <mutex>
#include <optional>
#include <type_traits>

#include "winfw/OsSeam.h"

// Every entry failing the test with its name, but GetLastError: the thread's last error is
// where the fakes leave their refusals, as Windows does.
const OsCalls& StrictCalls();
// How many layers are in force.
inline int& OsLayerDepth()
{
    static int depth = 0;
    return depth;
}

// A call that fails as Windows fails it, the thread's last error set.
inline BOOL Refuse(DWORD error)
{
    ::SetLastError(error);
    return FALSE;
}

// A fake of one concern, in force for its lifetime; a test composes the ones it uses (one
// struct deriving from them, in the order they stack).
template <typename Self>
class OsLayer {
public:
    OsLayer(const OsLayer&) = delete;
    OsLayer& operator=(const OsLayer&) = delete;
    // The innermost of its kind, since machines nest.
    static Self& Current() { return *s_current; }
    // What this layer's entries hand on for objects not their own.
    const OsCalls& Below() const { return m_below; }
    // Held by every entry of the layer: runs on several threads share it.
    std::recursive_mutex lock;

    // `call(Current(), arguments...)` as an entry of the table, run with the layer's lock
    // held; the last error it leaves outlives the lock, whose first contention may touch it.
    template <typename Call>
    static auto Entry(Call call)
    {
        s_call<Call>.emplace(call);
        return LambdaEntry<Call>(&Call::operator());
    }
    // The same for a function of (Self&, the call's arguments...).
    template <auto Function>
    static auto Entry() { return FunctionEntry<Function>(Function); }

protected:
    OsLayer() : m_saved(Os()), m_below(OsLayerDepth()++ == 0 ? StrictCalls() : Os()), m_previous(s_current)
    {
        s_current = static_cast<Self*>(this);
        Os() = m_below;
    }
    // Layers end in the reverse order of their making, each giving back the table it found.
    ~OsLayer()
    {
        s_current = m_previous;
        --OsLayerDepth();
        Os() = m_saved;
    }

private:
    template <typename R, typename Body>
    static R Run(Body body)
    {
        std::unique_lock<std::recursive_mutex> hold(Current().lock);
        if constexpr (std::is_void_v<R>) {
            body(Current());
        } else {
            const R result = body(Current());
            const DWORD error = ::GetLastError();
            hold.unlock();
            ::SetLastError(error);
            return result;
        }
    }
    template <typename Call, typename R, typename... A>
    static auto LambdaEntry(R (Call::*)(Self&, A...) const) -> R (*)(A...)
    {
        return [](A... a) { return Run<R>([&](Self& self) { return (*s_call<Call>)(self, a...); }); };
    }
    template <auto Function, typename R, typename... A>
    static auto FunctionEntry(R (*)(Self&, A...)) -> R (*)(A...)
    {
        return [](A... a) { return Run<R>([&](Self& self) { return Function(self, a...); }); };
    }

    template <typename Call>
    static inline std::optional<Call> s_call;
    static inline Self* s_current = nullptr;
    OsCalls m_saved;
    OsCalls m_below;
    Self* m_previous;
};

// A machine of the fakes a test names, stacked in that order.
template <typename... Layers>
struct Machine : Layers... {
};
