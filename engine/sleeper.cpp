#include "engine/sleeper.h"

#include <thread>

namespace velquist {

Sleeper RealSleeper() {
    return [](std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); };
}

}  // namespace velquist
