#include "support/ChildProcess.h"

#include <QProcess>
#include <csignal>
#include <sys/prctl.h>

void dieWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}
