#pragma once
// What a bump test must show to pass, and the test gas a technician last
// used. A site changes the rule in LUMBRA.INI, section [BumpTest]:
//   ResponsePercent=50   the reading reaches this share of the applied gas
//   TimeLimit=60         seconds from "Apply gas now" to the verdict
//   ClearLimit=120       seconds to wait for the alarms to clear after it
//   RequireHigh=1        the HIGH alarm too when the gas is at or above the
//                        high set point (0: the LOW alarm alone)
// The rule in force is stored with every result, so an old record still
// says what it was judged by. The same section remembers the last gas per
// sensor type (Gas<code>=VALUE, and LastGas=VALUE of any) and the last
// cylinder (Lot=, Expiry=).
#include <QDate>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

struct RBumpRule {
    int responsePercent = 50;
    int timeLimit = 60;
    int clearLimit = 120;
    bool requireHigh = true;
    bool operator==(const RBumpRule&) const = default;
};

// The rule as LUMBRA.INI of `programDir` sets it; each key out of its
// bounds keeps its default.
RBumpRule LoadBumpRule(const std::string& programDir);
QJsonObject BumpRuleToJson(const RBumpRule& rule);
// One line for a certificate or a console.
QString BumpRuleText(const RBumpRule& rule, bool oxygen);

struct RTestGas {
    double concentration = 0;  // in the sensor's gas unit
    QString lot;
    QDate expiry;              // invalid when not given
    QString technician;
};

// The remembered gas for `sensorType` and the last cylinder; nothing kept
// leaves the fields empty.
RTestGas RememberedGas(const std::string& programDir, std::uint8_t sensorType);
void RememberGas(const std::string& programDir, std::uint8_t sensorType, const RTestGas& gas);

// The operating-system user's full name (the passwd comment), else the
// login name.
QString DefaultTechnician();

// Why a cylinder cannot be used on `today`; nothing when it can. A cylinder
// without an expiry date is refused: its gas cannot be trusted.
std::optional<QString> CylinderRefusal(const RTestGas& gas, const QDate& today);
