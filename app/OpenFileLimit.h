#pragma once

class QString;

// Raises this process's soft limit on open files to its hard limit, so that the mail's socket,
// the outbox's files and the display's connection find a descriptor even while many are in use.
// Nothing to do when the soft limit is the hard one already.
bool raiseOpenFileLimit(QString* error);
