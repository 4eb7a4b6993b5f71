#pragma once

// A TCP port on 127.0.0.1 that nobody listens on right now, for a server of a test that
// must be told its port (another program may take it in the meantime; tests accept that).
int freeLoopbackPort();
