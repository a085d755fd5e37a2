#include "single_application.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>
#include <QWidget>

namespace {
const int kConnectTimeoutMs = 500;
const int kWriteTimeoutMs = 30000;
const int kReadTimeoutMs = 1000;
}  // namespace

SingleApplication::SingleApplication(int& argc, char** argv)
    : QApplication(argc, argv), mainWindow(nullptr), running(false), localServer(nullptr) {
    serverName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();

    QLocalSocket socket;
    socket.connectToServer(serverName, QIODevice::ReadWrite);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        running = true;
        QTextStream stream(&socket);
        const QStringList args = QCoreApplication::arguments();
        stream << (args.size() <= 1 ? QString() : args.last());
        stream.flush();
        socket.waitForBytesWritten(kWriteTimeoutMs);
        return;
    }

    localServer = new QLocalServer(this);
    connect(localServer, &QLocalServer::newConnection, this, &SingleApplication::newLocalConnection);
    if (!localServer->listen(serverName) &&
        localServer->serverError() == QAbstractSocket::AddressInUseError) {
        // A copy that did not exit cleanly left its name behind.
        QLocalServer::removeServer(serverName);
        localServer->listen(serverName);
    }
}

void SingleApplication::newLocalConnection() {
    QLocalSocket* socket = localServer->nextPendingConnection();
    if (!socket) return;
    // What the second copy sent has no effect; the wait only lets it finish writing.
    socket->waitForReadyRead(kReadTimeoutMs);
    delete socket;
    if (mainWindow) {
        mainWindow->raise();
        mainWindow->activateWindow();
        mainWindow->setWindowState((mainWindow->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        mainWindow->show();
    }
}
