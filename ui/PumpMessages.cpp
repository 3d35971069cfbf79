#include "ui/PumpMessages.h"

#include <QCoreApplication>

void PumpMessages() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}
