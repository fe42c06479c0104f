#include "app/globalvarinit.h"

#include "server/eserverstatus.h"
#include "server/sapidevicedata.h"
#include "server/sserverdeviceinfo.h"

#include <QList>
#include <QMetaType>

void globalVarInit()
{
    qRegisterMetaType<COMM::EServerStatus>("COMM::EServerStatus");
    qRegisterMetaType<QList<API::SServerDeviceInfo>>("QList<API::SServerDeviceInfo>");
    qRegisterMetaType<API::SApiDeviceData>("API::SApiDeviceData");
}
