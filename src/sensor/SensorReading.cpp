#include "SensorReading.h"

#include <cstdlib>

int ReadingDecimals(const RZELSensor& reading)
{
    return reading.mHistory & historybit::kDecimals;
}

QString ScaledText(long raw, int decimals)
{
    if (decimals <= 0)
        return QString::number(raw);
    long divisor = 1;
    for (int i = 0; i < decimals; ++i)
        divisor *= 10;
    const long magnitude = std::labs(raw);
    const QString fraction = QString::number(magnitude % divisor).rightJustified(decimals, QLatin1Char('0'));
    return (raw < 0 ? QStringLiteral("-") : QString()) + QString::number(magnitude / divisor) + QLatin1Char('.') +
           fraction;
}

namespace {

double Divisor(int decimals)
{
    double divisor = 1;
    for (int i = 0; i < decimals; ++i)
        divisor *= 10;
    return divisor;
}

}  // namespace

RGasReading DecodeGas(const RZELSensor& reading)
{
    const int decimals = ReadingDecimals(reading);
    RGasReading gas;
    gas.overLimit = reading.mSensor == kOverLimitRaw;
    gas.value = static_cast<double>(reading.mSensor) / Divisor(decimals);
    gas.valueText = gas.overLimit ? kOverLimitText : ScaledText(reading.mSensor, decimals);
    gas.peakText = ScaledText(reading.mPeak, decimals);
    return gas;
}

RSupplyReading DecodeSupply(const RZELSensor& reading)
{
    const int decimals = ReadingDecimals(reading);
    return {ScaledText(static_cast<std::uint16_t>(reading.mSensor), decimals), QString::number(reading.mPeak)};
}
