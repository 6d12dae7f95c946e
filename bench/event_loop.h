#pragma once

// Waiting in the benchmarks: the event loop runs until a condition holds.

#include <chrono>
#include <functional>

// Runs the event loop until `condition` holds; false after `timeout`.
bool spinUntil(const std::function<bool()>& condition, std::chrono::steady_clock::duration timeout);
