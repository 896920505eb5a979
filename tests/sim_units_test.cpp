// varnolite-sim --units: each unit on its own port with its own serial
// number, units taken away and put in front through the control pipe, and
// the options' bad values.
#include <gtest/gtest.h>

#include <QProcess>

#include "SimProcess.h"
#include "SimUnits.h"

namespace {

QString SerialOf(const simwire::Bytes& identity)
{
    return identity.size() == 18 ? QString::fromLatin1(reinterpret_cast<const char*>(identity.data()) + 8, 10)
                                 : QString();
}

QString SerialAt(const std::string& port)
{
    SimPort line(QString::fromStdString(port));
    if (!line.ok() || simwire::Hex(line.Status(simwire::Cmd(0xB2))) != simwire::Hex(simwire::kAck))
        return QString();
    return SerialOf(line.Identify());
}

TEST(SimUnits, EachUnitAnswersOnItsOwnPortAndCanBeSwapped)
{
    SimUnits sim(3);
    ASSERT_EQ(sim.Ports().size(), 3u);
    for (int unit = 0; unit < 3; ++unit)
        EXPECT_EQ(SerialAt(sim.Ports()[static_cast<std::size_t>(unit)]), QStringLiteral("SH1000012%1").arg(3 + unit));

    struct Step {
        const char* control;
        const char* ack;        // nothing: refused (an ack would show up in the next step)
        const char* serialAt2;  // what unit 2 answers afterwards ("" = nothing)
    };
    const Step steps[] = {
        {"away 2", "unit 2 away", ""},
        {"front 2 sh1", nullptr, ""},  // lower case is no serial number
        {"front 4", nullptr, ""},       // no such unit
        {"front 2", "unit 2 front SH10000124", "SH10000124"},
        {"front 2 SH77", "unit 2 front SH77000000", "SH77000000"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.control);
        EXPECT_EQ(sim.Control(QString::fromLatin1(step.control), step.ack != nullptr), QString::fromLatin1(step.ack));
        EXPECT_EQ(SerialAt(sim.Ports()[1]), QString::fromLatin1(step.serialAt2));
        EXPECT_EQ(SerialAt(sim.Ports()[0]), QStringLiteral("SH10000123")) << "the others go on";
    }
    EXPECT_EQ(sim.Image(2).mUnit.mSerial[2], '7') << "the new unit's state replaces the old";
}

TEST(SimUnits, BadValuesEndWithStatusTwo)
{
    for (const QStringList& args : {QStringList{"--units", "0"}, QStringList{"--units", "65"},
                                    QStringList{"--refuse-writes", "0"}, QStringList{"--control"}}) {
        QProcess sim;
        sim.start(QStringLiteral(BEAMDOCK_SIM_PATH), args);
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(sim.exitCode(), 2) << args.join(' ').toStdString();
    }
}

}  // namespace
