#pragma once

#include "apicontroller.h"
#include "dbrecords.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

class CAllDeviceHandler;
class CDataBaseHandler;

// The API scope "app": lists the device templates and the registered devices, registers and
// removes devices, and shows a device's register values, the next free register on a port and
// the service's version. Failures are answered as operator texts in a normal result.
class AppController : public APIController
{
    Q_OBJECT
public:
    AppController(
        CAllDeviceHandler* registry, CDataBaseHandler* database, QObject* parent = nullptr);

private slots:
    void getTemplatesAction();
    void getDevicesAction();
    void addDeviceAction();
    void removeDeviceAction();
    void getRegisterValuesAction();
    void getLastFreeRegisterAction();
    void aboutAction();

private:
    // Fills the answer and returns an error text, empty when the action completed.
    using Step = std::function<QString(QJsonObject& answer)>;
    void answerWithResult(const Step& step);

    QString addDevice(const QJsonObject& body);
    QString openDevice(const DB::SDeviceRegMapDescription& device);
    QString removeDevice(const QJsonObject& body);
    static SJsonText registerValuesAnswer(const QList<DB::SDbDevRegDataInfo>& rows);
    QString findDevice(const QJsonObject& body, uint& id);

    CAllDeviceHandler* registry;
    CDataBaseHandler* database;
    // The last getRegisterValues answer per device id with the rows it was made of: a page polls
    // far more often than uplinks change the rows, and serialising the answer costs more than
    // all else the request does.
    struct SRegisterValuesAnswer
    {
        QList<DB::SDbDevRegDataInfo> rows;
        SJsonText json;
    };
    QHash<uint, SRegisterValuesAnswer> registerValuesAnswers;
};
