#include "cwebpoller.h"

#include "creadchecker.h"
#include "soaklayout.h"

#include <QJsonArray>
#include <QJsonDocument>

CWebPoller::CWebPoller(quint16 webPort, const QList<int>& devices, CReadChecker& checker)
    : client(webPort), devices(devices), checker(checker)
{
    connect(&timer, &QTimer::timeout, this, &CWebPoller::poll);
}

bool CWebPoller::logIn(const QString& login, const QString& password)
{
    return client.logIn(login, password);
}

void CWebPoller::start()
{
    timer.start(PERIOD_MS);
}

void CWebPoller::stop()
{
    timer.stop();
}

void CWebPoller::poll()
{
    if (client.busy())
        return; // the answer is late; the client's time-out ends it
    const int device = devices[next];
    next = (next + 1) % devices.size();
    const QJsonObject body {{"devEui", SoakLayout::devEui(device)}};
    client.post("app/getRegisterValues", QJsonDocument(body).toJson(QJsonDocument::Compact),
        "application/json",
        [this, device](const CWebClient::SAnswer& answer) { takeAnswer(answer, device); });
}

void CWebPoller::takeAnswer(const CWebClient::SAnswer& answer, int device)
{
    if (answer.timedOut) {
        checker.timeout();
        return;
    }
    const QJsonObject values = QJsonDocument::fromJson(answer.body).object();
    if (!answer.ok || !values.value("result").toBool()) {
        checker.error();
        return;
    }
    const QJsonArray registers = values.value("registers").toArray();
    checker.answer(device, SoakLayout::shownValue(registers, device, 0),
        SoakLayout::shownValue(registers, device, 2), answer.latencyUs);
}
