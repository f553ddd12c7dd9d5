#include "survey/SurveyCommand.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    return SurveyCommand().run(QCoreApplication::arguments());
}
