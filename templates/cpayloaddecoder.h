#pragma once

#include "dbrecords.h"
#include "sapidevicedata.h"
#include "sdevicetemplate.h"

#include <functional>

// Turns one uplink into register texts by the device's template. Knows nothing about sockets,
// threads or the database object: scaling parameters come through the lookup function.
class CPayloadDecoder
{
public:
    // Looks up a register's scaling (start value, grating period) by device EUI and absolute
    // address.
    using RegisterParamLookup
        = std::function<DB::SDbDevRegParam(const QString& devEui, uint regAddr)>;

    // Decodes one uplink by the device's template into register texts (dataSet gets devEui and
    // startAddr of the device and the rewrites). Returns false when nothing is to be stored
    // (unknown packet type, wrong packet size); every warning goes to the history log.
    static bool decode(const API::SApiDeviceData& data, const DB::SDeviceRegMapDescription& device,
        const REGS::SDeviceTemplate& deviceTemplate, const RegisterParamLookup& lookupParam,
        DB::SDbDeviceRegDataSet& dataSet);
};
