#include "cconsolecatcher.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex catcherMutex;
QStringList caught;
QtMessageHandler previousHandler = nullptr;
} // namespace

CConsoleCatcher::CConsoleCatcher()
{
    {
        QMutexLocker locker(&catcherMutex);
        caught.clear();
    }
    previousHandler = qInstallMessageHandler(&CConsoleCatcher::handle);
}

CConsoleCatcher::~CConsoleCatcher()
{
    qInstallMessageHandler(previousHandler);
}

QStringList CConsoleCatcher::messages() const
{
    QMutexLocker locker(&catcherMutex);
    return caught;
}

void CConsoleCatcher::handle(
    QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        QMutexLocker locker(&catcherMutex);
        caught.append(message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}
