#pragma once

class QProcess;

// Makes a test peer die with the test: a crashed or killed test leaves no stray peer behind.
void dieWithParent(QProcess& process);

// Asks the process to end, and kills it if it has not within a few seconds.
void stopProcess(QProcess& process);
