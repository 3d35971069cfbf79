#pragma once

// Delivers every event waiting for this thread, so that a long loop keeps the window painted
// and its enabled controls working. Returns when the queue is empty; never waits.
void PumpMessages();
