#ifndef RECORDINGSHELLLAUNCHER_H
#define RECORDINGSHELLLAUNCHER_H

#include "ShellLauncher.h"

#include <QList>

// Stands in for the shell: records what it is asked to open, starts nothing and reports the
// outcome a test chose.
class RecordingShellLauncher : public ShellLauncher
{
public:
    struct Call {
        QString verb;
        QString file;
        QString parameters;
        QString workingDirectory;
        int showCommand;
    };

    bool execute(const QString &verb, const QString &file, const QString &parameters,
                 const QString &workingDirectory, int showCommand) override
    {
        calls.append({verb, file, parameters, workingDirectory, showCommand});
        return succeeds;
    }

    QList<Call> calls;
    bool succeeds = true;
};

#endif // RECORDINGSHELLLAUNCHER_H
