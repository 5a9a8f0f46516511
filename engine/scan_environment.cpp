#include "engine/scan_environment.h"

#include <thread>

#include "core/process_state.h"

namespace velquist {

int ScanEnvironment::currentPageCount() const {
    return (pageCount ? *pageCount : Process().pageCount).load();
}

bool ScanEnvironment::isRunning() const {
    return (running ? *running : Process().queryRunning).load();
}

void ScanEnvironment::wait(std::chrono::milliseconds duration) const {
    if (sleep)
        sleep(duration);
    else
        std::this_thread::sleep_for(duration);
}

}  // namespace velquist
