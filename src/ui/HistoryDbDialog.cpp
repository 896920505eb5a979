#include "HistoryDbDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "HistoryLocation.h"
#include "HistoryRecorder.h"

THistoryDbDialog::THistoryDbDialog(const THistoryRecorder* recorder, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("History database"));
    auto* layout = new QVBoxLayout(this);
    auto* explain = new QLabel(QStringLiteral("Where every operation is kept: a file (a path or sqlite:PATH), or a "
                                              "site's server (postgresql://user@host:port/dbname). Empty: this "
                                              "station's file %1.")
                                   .arg(DefaultHistoryPath()),
                               this);
    explain->setWordWrap(true);
    layout->addWidget(explain);
    FUrl = new QLineEdit(ReadConfiguredHistoryUrl(), this);
    FUrl->setPlaceholderText(DefaultHistoryPath());
    explain->setBuddy(FUrl);
    layout->addWidget(FUrl);
    QString envError;
    if (qEnvironmentVariableIsSet("BEAMDOCK_DB")) {
        const std::optional<RHistoryLocation> chosen = ParseHistoryUrl(qEnvironmentVariable("BEAMDOCK_DB"), envError);
        layout->addWidget(new QLabel(QStringLiteral("BEAMDOCK_DB is set and takes precedence: %1")
                                         .arg(chosen ? chosen->Display() : envError),
                                     this));
    }
    const int waiting = recorder ? recorder->Waiting() : 0;
    layout->addWidget(new QLabel(waiting == 0 ? QStringLiteral("No records wait for the site server.")
                                              : QStringLiteral("%1 records wait on this station for the site server.")
                                                    .arg(waiting),
                                 this));
    layout->addWidget(new QLabel(QStringLiteral("A new choice is used from the next start of the program."), this));
    FProblem = new QLabel(this);
    FProblem->setWordWrap(true);
    FProblem->hide();
    layout->addWidget(FProblem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &THistoryDbDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &THistoryDbDialog::reject);
    layout->addWidget(buttons);
}

void THistoryDbDialog::accept()
{
    const QString url = FUrl->text().trimmed();
    QString error;
    if (!ParseHistoryUrl(url, error)) {
        FProblem->setText(error);
        FProblem->show();
        return;
    }
    if (!WriteConfiguredHistoryUrl(url)) {
        FProblem->setText(QStringLiteral("Failed to write the choice to %1").arg(HistoryConfigPath()));
        FProblem->show();
        return;
    }
    QDialog::accept();
}
