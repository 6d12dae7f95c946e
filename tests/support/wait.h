#pragma once

#include <chrono>
#include <functional>

// Runs the event loop until `condition` holds or `timeout` passes; returns
// whether it holds. Tests wait for sockets this way instead of sleeping.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Runs the event loop for `duration`, for tests that check that nothing happens.
void SpinEventLoop(std::chrono::milliseconds duration);
