// The application object with the one-instance guard: a second copy started from an executable
// of the same file name hands its last argument to the running copy over a local socket and
// reports isRunning(); the running copy brings its window to the front.
#pragma once

#include <QApplication>
#include <QString>

class QLocalServer;
class QWidget;

class SingleApplication : public QApplication {
    Q_OBJECT

public:
    SingleApplication(int& argc, char** argv);

    bool isRunning() const { return running; }

    QWidget* mainWindow;

private slots:
    void newLocalConnection();

private:
    bool running;
    QLocalServer* localServer;
    QString serverName;
};
