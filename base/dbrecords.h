#pragma once

#include "sregisterinfo.h"

#include <QList>
#include <QString>
#include <QtGlobal>

namespace DB {

// One configured device: its identity, Modbus port, start register and register entries.
struct SDeviceRegMapDescription
{
    QString devEui;
    QString appEui;
    QString name;
    int startAddr = 0;
    QList<REGS::SRegisterInfo> registers; // filled for registration only
    int port = 0;
    int id = 0; // 0 until stored
};

// One register text to store, at an offset from the device's start register.
struct SDbDeviceRegDataRewrite
{
    QString value;
    QString fullValue; // the whole value, most significant digits first; may be empty
    int regOffset = 0;
};

// Reserved second list of a data set; nothing fills it yet.
struct SDbDeviceRegDataModif
{
    int regOffset = 0;
    QString value;
};

// The register texts of one uplink of one device.
struct SDbDeviceRegDataSet
{
    QString devEui;
    int startAddr = 0;
    QList<SDbDeviceRegDataRewrite> rewrites;
    QList<SDbDeviceRegDataModif> modifs;

    // Does nothing for an empty value, so a value that decodes to nothing writes nothing.
    void appendRewriteData(const QString& value, int regOffset, const QString& fullValue);
};

// Scaling of one register row: value = startValue + raw * gratingPeriod.
struct SDbDevRegParam
{
    uint regAddr = 0;
    double startValue = 0.0;
    double gratingPeriod = 1.0;
    QString unit;
};

struct SDbDevRegParamInfo
{
    uint id = 0;
    QList<SDbDevRegParam> params;
};

// One register row as the web interface shows it.
struct SDbDevRegDataInfo
{
    int regAddr = 0;
    int startValue = 0;
    double gratingPeriod = 1.0;
    int bitSize = 0;
    QString dataType;
    QString value;
    quint64 time = 0;
    QString name;
    QString unit;
    int source = 0;

    bool operator==(const SDbDevRegDataInfo& other) const
    {
        return regAddr == other.regAddr && startValue == other.startValue
            && gratingPeriod == other.gratingPeriod && bitSize == other.bitSize
            && dataType == other.dataType && value == other.value && time == other.time
            && name == other.name && unit == other.unit && source == other.source;
    }
    bool operator!=(const SDbDevRegDataInfo& other) const { return !(*this == other); }
};

} // namespace DB
