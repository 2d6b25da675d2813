#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace vigilor::test {

// A test server in Python on 127.0.0.1 (tests/support/httpserver.py or ftpserver.py), serving a
// folder of its own. It prints the port it listens on and one line per request it receives;
// it ends when the test's process lets go of its standard input, so it is stopped even when a
// test fails or the test program dies.
//
// A test program that cannot start /usr/bin/python3 itself (the Windows build under wine, whose
// CreateProcess starts a Unix program without a handle to wait for or pipes to read) has it
// started by tests/support/serverstarter.py, which the test script runs beside it on 127.0.0.1
// and names in VIGILOR_TEST_SERVER_STARTER (its port). The server's standard input and output
// are then a connection to the starter, and everything else is as with a process of its own.
class PythonServer
{
public:
    enum class Kind
    {
        Http,
        Ftp
    };

    explicit PythonServer(Kind kind, const QStringList& extraArguments = {})
    {
        const QString name =
            kind == Kind::Http ? QStringLiteral("httpserver.py") : QStringLiteral("ftpserver.py");
        const QStringList arguments = QStringList{m_root.path()} + extraArguments;
        if (qEnvironmentVariableIsSet("VIGILOR_TEST_SERVER_STARTER")) {
            startThroughStarter(name, arguments);
            return;
        }
        const QString script = QStringLiteral(VIGILOR_TEST_SUPPORT_DIR) + u'/' + name;
        m_process.setProgram(QStringLiteral("/usr/bin/python3"));
        m_process.setArguments(QStringList{script} + arguments);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return;
        while (m_port == 0 && m_process.waitForReadyRead(10000)) {
            collect();
        }
    }
    ~PythonServer() { stop(); }
    PythonServer(const PythonServer&) = delete;
    PythonServer& operator=(const PythonServer&) = delete;

    bool running() const
    {
        if (m_remote)
            return m_port != 0 && m_starter.state() == QAbstractSocket::ConnectedState;
        return m_port != 0 && m_process.state() == QProcess::Running;
    }
    int port() const { return m_port; }
    QString root() const { return m_root.path(); }
    QString path(const QString& name) const { return m_root.path() + u'/' + name; }
    QString errors()
    {
        if (m_remote) {
            lines();
            return m_errors;
        }
        return QString::fromUtf8(m_process.readAllStandardError());
    }

    void write(const QString& name, const QByteArray& content) const
    {
        const QString file = path(name);
        QDir().mkpath(QFileInfo(file).path());
        QFile out(file);
        if (out.open(QIODevice::WriteOnly))
            out.write(content);
    }
    QByteArray read(const QString& name) const
    {
        QFile in(path(name));
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

    // What the server printed after its port, one entry per line, without the line's tag
    // ("CMD " for FTP commands, "REQ " for HTTP requests).
    QStringList lines()
    {
        if (m_remote) {
            sync();
            return m_lines;
        }
        m_process.waitForReadyRead(0);
        collect();
        return m_lines;
    }
    void clearLines()
    {
        lines();
        m_lines.clear();
    }
    // The HTTP requests: path and headers.
    QList<QJsonObject> requests()
    {
        QList<QJsonObject> result;
        for (const QString& line : lines())
            result.append(QJsonDocument::fromJson(line.toUtf8()).object());
        return result;
    }

    void stop()
    {
        if (m_remote) {
            // The starter closes the server's standard input and says when it has ended.
            if (m_starter.state() != QAbstractSocket::ConnectedState)
                return;
            m_starter.write("STOP\n");
            const QDeadlineTimer deadline(6000);
            while (!m_exited && m_starter.state() == QAbstractSocket::ConnectedState &&
                   m_starter.waitForReadyRead(int(deadline.remainingTime())))
                collect();
            m_starter.abort();
            return;
        }
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    // A port on 127.0.0.1 where nothing listens.
    static int closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

private:
    void startThroughStarter(const QString& script, const QStringList& arguments)
    {
        m_remote = true;
        const auto port = quint16(qEnvironmentVariableIntValue("VIGILOR_TEST_SERVER_STARTER"));
        m_starter.connectToHost(QHostAddress::LocalHost, port);
        if (!m_starter.waitForConnected(5000)) {
            m_errors = QStringLiteral("the test server starter does not answer: ") +
                       m_starter.errorString();
            return;
        }
        const QJsonObject request{
            {QStringLiteral("script"), script},
            {QStringLiteral("arguments"), QJsonArray::fromStringList(arguments)}};
        m_starter.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
        while (m_port == 0 && !m_exited && m_starter.waitForReadyRead(10000))
            collect();
    }

    // Everything the server had printed by now: the starter answers "SYNC" after it.
    void sync()
    {
        if (m_starter.state() != QAbstractSocket::ConnectedState) {
            collect();
            return;
        }
        m_synced = false;
        m_starter.write("SYNC\n");
        const QDeadlineTimer deadline(5000);
        while (!m_synced && !m_exited && m_starter.state() == QAbstractSocket::ConnectedState &&
               m_starter.waitForReadyRead(int(deadline.remainingTime())))
            collect();
        collect();
    }

    void collect()
    {
        if (m_remote)
            m_buffer += m_starter.readAll();
        else
            m_buffer += m_process.readAllStandardOutput();
        qsizetype end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_buffer.first(end));
            m_buffer.remove(0, end + 1);
            if (line.startsWith(u"PORT "))
                m_port = line.sliced(5).toInt();
            else if (m_remote && line == u"SYNC")
                m_synced = true;
            else if (m_remote && line.startsWith(u"EXIT "))
                m_exited = true;
            else if (m_remote && line.startsWith(u"ERR "))
                m_errors += line.sliced(4) + u'\n';
            else
                m_lines.append(line.sliced(std::min<qsizetype>(4, line.size())));
        }
    }

    QTemporaryDir m_root;
    QProcess m_process;
    // Through the starter: the connection that stands for the server's standard streams.
    bool m_remote = false;
    QTcpSocket m_starter;
    QString m_errors;
    bool m_synced = false;
    bool m_exited = false;
    QByteArray m_buffer;
    QStringList m_lines;
    int m_port = 0;
};

} // namespace vigilor::test
