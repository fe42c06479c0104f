#pragma once

#include "cwebclient.h"

#include <QList>
#include <QObject>
#include <QTimer>

class CReadChecker;

// A browser showing one of its devices' values, as the web page does: logged in, it asks
// getRegisterValues once a second, going round its devices, one request at a time.
class CWebPoller : public QObject
{
    Q_OBJECT
public:
    static constexpr int PERIOD_MS = 1000;

    CWebPoller(quint16 webPort, const QList<int>& devices, CReadChecker& checker);

    bool logIn(const QString& login, const QString& password);
    void start();
    void stop();

private:
    void poll();
    void takeAnswer(const CWebClient::SAnswer& answer, int device);

    CWebClient client;
    QTimer timer;
    QList<int> devices;
    CReadChecker& checker;
    int next = 0;
};
