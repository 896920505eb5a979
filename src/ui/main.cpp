// The Beamdock service tool: one window, one copy at a time.
#include <QApplication>
#include <QMessageBox>

#include "DeviceSettings.h"
#include "StartUp.h"
#include "TVarnoIRMainForm.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(startup::kApplicationTitle);

    TInstanceGuard guard;
    if (!guard.Acquire()) {
        QMessageBox::information(nullptr, startup::kApplicationTitle, startup::kAlreadyRunning);
        return 0;
    }

    const QString port = LoadStartUpSettings(QApplication::arguments());
    TVarnoIRMainForm form(CurrentSettings(), port);
    form.show();
    return app.exec();
}
