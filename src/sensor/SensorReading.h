#pragma once
// A live reading of the detector (RZELSensor) as the logging dialog shows and
// logs it: the scaled value and peak texts, over limit, and the flag bits.
// Texts always use "." as decimal point, whatever the system's locale: they
// go into a comma-separated file, where a decimal comma would split a
// number into two columns.
#include <QDateTime>
#include <QString>

#include <cstdint>

#include "ZelRecords.h"

// RequireSensor modes.
namespace sensormode {
constexpr std::uint8_t kGas = 0;
constexpr std::uint8_t kTemperature = 1;
constexpr std::uint8_t kBattery = 2;
}  // namespace sensormode

// mHistory: bits 0..1 give the number of decimals, bits 2..7 are flags.
namespace historybit {
constexpr std::uint8_t kDecimals = 0x03;
constexpr std::uint8_t kSelfTestFail = 0x04;
constexpr std::uint8_t kCalibrationFail = 0x08;
constexpr std::uint8_t kBumpTestFail = 0x10;
constexpr std::uint8_t kCalibrationDue = 0x20;
constexpr std::uint8_t kBumpDue = 0x40;
constexpr std::uint8_t kCalibrationProgress = 0x80;
}  // namespace historybit

// mAlarm.
namespace alarmbit {
constexpr std::uint8_t kTWA = 0x01;
constexpr std::uint8_t kSTEL = 0x02;
constexpr std::uint8_t kLow = 0x04;
constexpr std::uint8_t kHigh = 0x08;
constexpr std::uint8_t kMulti = 0x10;
}  // namespace alarmbit

// The gas value the detector sends when the reading is above the sensor's range.
constexpr std::int16_t kOverLimitRaw = 0x7FFF;
inline const QString kOverLimitText = QStringLiteral("OL");

int ReadingDecimals(const RZELSensor& reading);
// `raw` / 10^decimals with exactly `decimals` digits after the point
// ("#0", "#0.0", "#0.00", "#0.000"); computed in integers, so no value is
// ever off by a rounding of its binary form.
QString ScaledText(long raw, int decimals);

struct RGasReading {
    bool overLimit = false;
    double value = 0;     // for the chart; 32767 / 10^d when over limit
    QString valueText;    // "OL" when over limit
    QString peakText;
};
// mSensor is signed (a zero drifts below 0); mPeak is unsigned.
RGasReading DecodeGas(const RZELSensor& reading);

struct RSupplyReading {
    QString valueText;  // mSensor, unsigned, with the record's own decimals
    QString adcText;    // mPeak: the raw converter count
};
// Battery and temperature records.
RSupplyReading DecodeSupply(const RZELSensor& reading);

// One reading as the dialog shows it and the data log records it: the gas
// record's texts and flags, and the battery and temperature texts. Those
// two keep the last reading taken when their box is unchecked, and are empty
// while the quantity has not been read at all in this run.
struct RReadingDisplay {
    QDateTime time;        // local time of the reading
    double elapsed = 0;    // seconds since the run started
    QString sensorValue;
    QString sensorPeak;
    QString batteryValue;
    QString batteryAdc;
    QString temperatureValue;
    QString temperatureAdc;
    std::uint8_t history = 0;
    std::uint8_t alarm = 0;
    bool operator==(const RReadingDisplay&) const = default;
};
