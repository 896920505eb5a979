#pragma once
// A pause in a workflow that keeps its thread's events flowing: the window
// stays responsive when called on it, and on the link thread queued calls
// still arrive. It sleeps in the event dispatcher, never spins.
void WaitSeconds(float seconds);
