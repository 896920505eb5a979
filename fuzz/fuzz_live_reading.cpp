// Live-reading records of arbitrary bytes to the dialog's texts and the data
// log's CSV record: numbers use "." whatever the locale, a record has its
// fifteen fields (fourteen commas) and ends in CR LF, over limit shows "OL".
#include <QLocale>

#include <cstdint>
#include <cstring>

#include "DataLogCsv.h"
#include "SensorReading.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3 * sizeof(RZELSensor) + sizeof(RZELUnitCFG))
        return 0;
    // A locale with a decimal comma must not leak into the file.
    static const bool localeSet = (QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)), true);
    (void)localeSet;
    RZELSensor gas{}, battery{}, temperature{};
    std::memcpy(&gas, data, sizeof gas);
    std::memcpy(&battery, data + 6, sizeof battery);
    std::memcpy(&temperature, data + 12, sizeof temperature);
    RZELUnitCFG unit{};
    std::memcpy(&unit, data + 18, sizeof unit);

    const RGasReading decoded = DecodeGas(gas);
    if ((gas.mSensor == kOverLimitRaw) != (decoded.valueText == kOverLimitText) || decoded.valueText.contains(','))
        __builtin_trap();
    const RSupplyReading supply = DecodeSupply(battery);
    const RSupplyReading heat = DecodeSupply(temperature);
    RReadingDisplay shown;
    shown.time = QDateTime::fromMSecsSinceEpoch(1700000000000LL);
    shown.sensorValue = decoded.valueText;
    shown.sensorPeak = decoded.peakText;
    shown.batteryValue = supply.valueText;
    shown.batteryAdc = supply.adcText;
    shown.temperatureValue = heat.valueText;
    shown.temperatureAdc = heat.adcText;
    shown.history = gas.mHistory;
    shown.alarm = gas.mAlarm;
    const QByteArray record = DataLogRecord(shown);
    if (record.count(',') != 14 || !record.endsWith("\r\n"))
        __builtin_trap();
    const QByteArray header = DataLogHeader(unit);
    if (!header.startsWith("Product Name,Corvath Varnolite\r\n"))
        __builtin_trap();
    return 0;
}
