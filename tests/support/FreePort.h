#pragma once

#include <QtGlobal>

// A TCP port on 127.0.0.1 that nothing listens on now. It lies below the range the kernel hands
// out for listen(0) and outgoing connections (32768 and up), so that no other test's socket takes
// it before the test starts its own server there.
quint16 freePort();
