#pragma once
// "History database": where the window keeps its history (the station file
// or a site's PostgreSQL server), and how many records wait in the station's
// spool for the server. The choice is kept in $XDG_CONFIG_HOME/beamdock/
// and used from the next start of the program.
#include <QDialog>

class QLabel;
class QLineEdit;
class THistoryRecorder;

class THistoryDbDialog : public QDialog {
    Q_OBJECT

public:
    // `recorder` may be null (no history kept in this session).
    explicit THistoryDbDialog(const THistoryRecorder* recorder, QWidget* parent = nullptr);

    void accept() override;

private:
    QLineEdit* FUrl = nullptr;
    QLabel* FProblem = nullptr;
};
