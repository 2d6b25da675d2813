#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace vigilor::test {

// Debian's vsftpd on 127.0.0.1, in the foreground from a configuration of the test's own: a port
// of its own, TLS offered but not forced (or not offered at all), a certificate made with
// `openssl req -x509`, and a local user that this object adds to the system (useradd, chpasswd)
// and removes again. vsftpd logs in local users through PAM, which needs root.
class Vsftpd
{
public:
    static constexpr const char* kProgram = "/usr/sbin/vsftpd";

    // Why vsftpd cannot run here; empty when it can.
    static QString unavailable()
    {
#ifdef Q_OS_WIN
        return QStringLiteral("Windows has no vsftpd, nor the useradd and openssl it needs here");
#else
        if (::geteuid() != 0)
            return QStringLiteral("vsftpd needs root to log in a local user (CI runs as root)");
        for (const char* program : {kProgram, "/usr/sbin/useradd", "/usr/sbin/chpasswd",
                                    "/usr/sbin/userdel", "/usr/bin/openssl"})
            if (!QFile::exists(QString::fromLatin1(program)))
                return QStringLiteral("missing: ") + QString::fromLatin1(program) +
                       QStringLiteral(" (scripts/install-deps.sh installs it)");
        return {};
#endif
    }

    Vsftpd()
        : m_user(QStringLiteral("vgl%1x%2")
                     .arg(QCoreApplication::applicationPid())
                     .arg(QRandomGenerator::global()->bounded(1000))),
          m_password(QStringLiteral("Pw-") +
                     QString::number(QRandomGenerator::global()->generate64(), 36))
    {
        // Every folder on the way to the home must be open to the user vsftpd becomes.
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                QFile::ReadGroup | QFile::ExeGroup |
                                                QFile::ReadOther | QFile::ExeOther);
        QDir(m_dir.path()).mkpath(QStringLiteral("home"));
        QDir(m_dir.path()).mkpath(QStringLiteral("empty"));
        // Another program adding a user at the same moment holds the lock of /etc/passwd.
        for (int attempt = 0; attempt < 5 && !m_ok; ++attempt) {
            if (attempt > 0)
                QThread::msleep(300);
            m_ok = run(QStringLiteral("/usr/sbin/useradd"),
                       {QStringLiteral("-M"), QStringLiteral("-d"), home(), QStringLiteral("-s"),
                        QStringLiteral("/bin/sh"), m_user});
        }
        m_userAdded = m_ok;
        m_ok = m_ok &&
               run(QStringLiteral("/usr/sbin/chpasswd"), {},
                   (m_user + u':' + m_password + u'\n').toUtf8()) &&
               run(QStringLiteral("/usr/bin/chown"), {m_user, home()});
        m_port = freePort();
    }
    ~Vsftpd()
    {
        stop();
        if (m_userAdded)
            run(QStringLiteral("/usr/sbin/userdel"), {m_user});
    }
    Vsftpd(const Vsftpd&) = delete;
    Vsftpd& operator=(const Vsftpd&) = delete;

    // A self-signed certificate with a new key; its path. altName: "IP:127.0.0.1", say.
    QString makeCertificate(const QString& name, const QString& altName = QString())
    {
        const QString path = m_dir.filePath(name + QStringLiteral(".pem"));
        QStringList arguments{QStringLiteral("req"),
                              QStringLiteral("-x509"),
                              QStringLiteral("-newkey"),
                              QStringLiteral("ec"),
                              QStringLiteral("-pkeyopt"),
                              QStringLiteral("ec_paramgen_curve:prime256v1"),
                              QStringLiteral("-nodes"),
                              QStringLiteral("-days"),
                              QStringLiteral("2"),
                              QStringLiteral("-subj"),
                              QStringLiteral("/CN=ftp.") + name + QStringLiteral(".test"),
                              QStringLiteral("-keyout"),
                              path,
                              QStringLiteral("-out"),
                              path};
        if (!altName.isEmpty())
            arguments << QStringLiteral("-addext") << QStringLiteral("subjectAltName=") + altName;
        return run(QStringLiteral("/usr/bin/openssl"), arguments) ? path : QString();
    }

    // Starts vsftpd (again) on its port; with an empty certificate it offers no TLS.
    bool start(const QString& certificate)
    {
        stop();
        if (!m_ok)
            return false;
        const QString config = m_dir.filePath(QStringLiteral("vsftpd.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        QStringList lines{
            QStringLiteral("listen=YES"),
            QStringLiteral("listen_ipv6=NO"),
            QStringLiteral("listen_address=127.0.0.1"),
            QStringLiteral("listen_port=") + QString::number(m_port),
            QStringLiteral("background=NO"),
            QStringLiteral("anonymous_enable=NO"),
            QStringLiteral("local_enable=YES"),
            QStringLiteral("write_enable=YES"),
            QStringLiteral("local_umask=022"),
            QStringLiteral("pam_service_name=vsftpd"),
            QStringLiteral("seccomp_sandbox=NO"),
            QStringLiteral("secure_chroot_dir=") + m_dir.filePath(QStringLiteral("empty")),
            QStringLiteral("pasv_enable=YES"),
            QStringLiteral("pasv_address=127.0.0.1"),
            QStringLiteral("xferlog_enable=YES"),
            QStringLiteral("xferlog_std_format=NO"),
            QStringLiteral("log_ftp_protocol=YES"),
            QStringLiteral("syslog_enable=NO"),
            QStringLiteral("vsftpd_log_file=") + logPath(),
        };
        if (certificate.isEmpty()) {
            lines << QStringLiteral("ssl_enable=NO");
        } else {
            // Offered, not forced: a client may log in without TLS.
            lines << QStringLiteral("ssl_enable=YES")
                  << QStringLiteral("rsa_cert_file=") + certificate
                  << QStringLiteral("rsa_private_key_file=") + certificate
                  << QStringLiteral("force_local_logins_ssl=NO")
                  << QStringLiteral("force_local_data_ssl=NO");
        }
        file.write((lines.join(u'\n') + u'\n').toUtf8());
        file.close();
        QFile::remove(logPath());
        m_process.setProgram(QString::fromLatin1(kProgram));
        m_process.setArguments({config});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        // Listening once a connection is taken.
        const QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
            if (probe.waitForConnected(200))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    bool ready() const { return m_ok; }
    int port() const { return m_port; }
    QString user() const { return m_user; }
    QString password() const { return m_password; }
    QString home() const { return m_dir.filePath(QStringLiteral("home")); }
    QString output() { return QString::fromUtf8(m_process.readAll()); }
    // The commands vsftpd received since it last started, in order ("USER name", ...).
    QStringList commands() const
    {
        QFile log(logPath());
        QStringList result;
        if (!log.open(QIODevice::ReadOnly))
            return result;
        for (const QByteArray& line : log.readAll().split('\n')) {
            static constexpr QByteArrayView prefix = "FTP command: Client \"127.0.0.1\", \"";
            const qsizetype at = line.indexOf(prefix);
            if (at >= 0)
                result.append(QString::fromUtf8(line.mid(at + prefix.size()).chopped(1)));
        }
        return result;
    }
    void write(const QString& name, const QByteArray& content) const
    {
        QFile out(home() + u'/' + name);
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(content);
    }
    QByteArray read(const QString& name) const
    {
        QFile in(home() + u'/' + name);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

private:
    QString logPath() const { return m_dir.filePath(QStringLiteral("vsftpd.log")); }
    static int freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }
    static bool run(const QString& program, const QStringList& arguments,
                    const QByteArray& input = QByteArray())
    {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForStarted(5000))
            return false;
        process.write(input);
        process.closeWriteChannel();
        return process.waitForFinished(20'000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    QTemporaryDir m_dir;
    QString m_user;
    QString m_password;
    int m_port = 0;
    bool m_ok = false;
    bool m_userAdded = false;
    QProcess m_process;
};

} // namespace vigilor::test
