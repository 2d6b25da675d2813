#pragma once

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace vigilor::test {

// A test server in Python on 127.0.0.1 (tests/support/httpserver.py or ftpserver.py), serving a
// folder of its own. It prints the port it listens on and one line per request it receives;
// it ends when the test's process lets go of its standard input, so it is stopped even when a
// test fails or the test program dies.
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
        const QString script = QStringLiteral(VIGILOR_TEST_SUPPORT_DIR) +
                               (kind == Kind::Http ? QStringLiteral("/httpserver.py")
                                                   : QStringLiteral("/ftpserver.py"));
        m_process.setProgram(QStringLiteral("/usr/bin/python3"));
        m_process.setArguments(QStringList{script, m_root.path()} + extraArguments);
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

    bool running() const { return m_port != 0 && m_process.state() == QProcess::Running; }
    int port() const { return m_port; }
    QString root() const { return m_root.path(); }
    QString path(const QString& name) const { return m_root.path() + u'/' + name; }
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

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
    void collect()
    {
        m_buffer += m_process.readAllStandardOutput();
        qsizetype end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_buffer.first(end));
            m_buffer.remove(0, end + 1);
            if (line.startsWith(u"PORT "))
                m_port = line.sliced(5).toInt();
            else
                m_lines.append(line.sliced(std::min<qsizetype>(4, line.size())));
        }
    }

    QTemporaryDir m_root;
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
    int m_port = 0;
};

} // namespace vigilor::test
