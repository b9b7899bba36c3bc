#pragma once

#include <memory>

namespace platform {

// A port is a process-wide service of the operating system behind one interface.
// The program uses the Linux implementation that `makeDefault()` creates; a test
// can put another implementation in its place for its own lifetime (ScopedPort).
template <typename Interface> class Port {
public:
    static Interface& instance() {
        if (Interface* replacement = replacementSlot())
            return *replacement;
        static std::unique_ptr<Interface> standard = Interface::makeDefault();
        return *standard;
    }

    // Not owning: the caller keeps `replacement` alive until it puts nullptr back.
    static void replace(Interface* replacement) { replacementSlot() = replacement; }

private:
    static Interface*& replacementSlot() {
        static Interface* slot = nullptr;
        return slot;
    }
};

// Puts `replacement` in place of a port's standard implementation while it lives.
template <typename Interface> class ScopedPort {
public:
    explicit ScopedPort(Interface& replacement) { Port<Interface>::replace(&replacement); }
    ~ScopedPort() { Port<Interface>::replace(nullptr); }
    ScopedPort(const ScopedPort&) = delete;
    ScopedPort& operator=(const ScopedPort&) = delete;
};

} // namespace platform
