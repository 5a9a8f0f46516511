#pragma once

#include <chrono>
#include <functional>

namespace velquist {

// Every pause of the engine (between keywords, pages, failed attempts) goes through one of
// these, so tests can run the same code without waiting.
using Sleeper = std::function<void(std::chrono::milliseconds)>;

// Sleeps for real.
Sleeper RealSleeper();

}  // namespace velquist
