#pragma once

#include "platform/Port.h"

#include <QObject>

namespace platform {

// The computer's suspend and resume notices. An implementation emits `suspending()` just
// before the computer goes to sleep and `resumed()` after it has woken up; where the
// system gives no such notices, nothing is emitted.
class PowerEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~PowerEvents() override = default;

    static std::unique_ptr<PowerEvents> makeDefault();

Q_SIGNALS:
    void suspending();
    void resumed();
};

inline PowerEvents& powerEvents() {
    return Port<PowerEvents>::instance();
}

} // namespace platform
