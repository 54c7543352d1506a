// The console the gateway was started in: whether it closes with the gateway, and a wait for a key before it does.
#pragma once

#include <iosfwd>

// True on Windows when no other program shares the console, as when Explorer started the gateway: the window
// then closes the moment it exits.
bool ConsoleClosesWithUs();

// Asks for a key on `out` and waits for it.
void WaitForKey(std::ostream& out);
