#include "CloudPostCommand.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    CloudPostCommand command;
    return command.run(app.arguments());
}
