// Sets a test hook of the program for as long as the guard lives, and puts
// the default back when it goes: at the end of the test, the fixture or the
// block that holds it, whichever way that ends.
//   ScopedHook clock(runtime::SetClockForTesting, FixedClock);
//   ScopedHook timeout(engine::SetTransferTimeoutForTesting, 1000);
// Every setter takes its parameter's empty value (nullptr, an empty function,
// 0) as "no hook": that is what the guard sets at the end.
#pragma once

#include <functional>
#include <type_traits>
#include <utility>

class ScopedHook {
public:
    template <typename Hook>
    ScopedHook(void (*set)(Hook), std::type_identity_t<Hook> hook) : restore_([set] { set(Hook{}); }) {
        set(std::move(hook));
    }
    ~ScopedHook() { restore_(); }
    ScopedHook(const ScopedHook&) = delete;
    ScopedHook& operator=(const ScopedHook&) = delete;

private:
    std::function<void()> restore_;
};
