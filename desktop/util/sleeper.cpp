#include "desktop/util/sleeper.h"

#include "platform/clock.h"

namespace mdb::desktop {

void RealSleep(std::chrono::milliseconds duration) {
    if (duration.count() > 0) platform::SleepMilliseconds(static_cast<unsigned>(duration.count()));
}

}  // namespace mdb::desktop
