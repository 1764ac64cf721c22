#pragma once
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

// Debian's mosquitto on a free loopback port, for the tests alone: TLS with a CA and a server
// certificate made now with openssl, a password file and the access rules of three kinds of
// user for the room "hall" (captioner: writes input; display: reads input, writes lines and
// the growing line, and reads them to follow; audience: reads lines only). The broker keeps
// its sessions on disk, so that a restart loses nothing. No network is needed.
class TestBroker {
  public:
    static constexpr const char* kPassword = "secret-pass";

    TestBroker() {
        if (!m_dir.isValid())
            return;
        m_ok = makeCertificates() && writeConfiguration();
    }
    ~TestBroker() { stop(); }

    bool ok() const { return m_ok; }
    int port() const { return m_port; }
    QString caFile() const { return path("ca.crt"); }
    // A CA that did not sign the broker's certificate.
    QString otherCaFile() const { return path("other-ca.crt"); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString address() const { return QStringLiteral("mqtts://localhost:%1").arg(m_port); }

    bool start() {
        m_process.setProgram(QStringLiteral("mosquitto"));
        m_process.setArguments({QStringLiteral("-c"), path("mosquitto.conf")});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        // Ready once it takes connections.
        for (int i = 0; i < 200; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(m_port));
            if (probe.waitForConnected(100))
                return true;
            if (m_process.state() != QProcess::Running)
                return false;
            QThread::msleep(50);
        }
        return false;
    }
    // Stops as an administrator would (SIGTERM): the broker saves its sessions first.
    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QString output() { return QString::fromLocal8Bit(m_process.readAll()); }

  private:
    bool run(const QString& program, const QStringList& arguments) {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, arguments);
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }

    bool makeCa(const QString& name) {
        return run(QStringLiteral("openssl"),
                   {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    "/CN=SKIRO test " + name, "-keyout", name + ".key", "-out", name + ".crt"});
    }

    bool makeCertificates() {
        QFile ext(path("server.ext"));
        if (!ext.open(QIODevice::WriteOnly))
            return false;
        ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n");
        ext.close();
        return makeCa("ca") && makeCa("other-ca") &&
               run("openssl", {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
                               "-keyout", "server.key", "-out", "server.csr"}) &&
               run("openssl", {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey",
                               "ca.key", "-CAcreateserial", "-days", "2", "-extfile", "server.ext",
                               "-out", "server.crt"});
    }

    bool writeConfiguration() {
        for (const char* user : {"captioner", "display", "audience"}) {
            QStringList args{QStringLiteral("-b")};
            if (!QFile::exists(path("passwd")))
                args << QStringLiteral("-c");
            args << path("passwd") << QString::fromLatin1(user) << QString::fromLatin1(kPassword);
            if (!run(QStringLiteral("mosquitto_passwd"), args))
                return false;
        }
        QFile acl(path("acl"));
        if (!acl.open(QIODevice::WriteOnly))
            return false;
        acl.write("user captioner\n"
                  "topic write skiro/hall/input\n"
                  "\n"
                  "user display\n"
                  "topic read skiro/hall/input\n"
                  "topic readwrite skiro/hall/lines\n"
                  "topic readwrite skiro/hall/growing\n"
                  "\n"
                  "user audience\n"
                  "topic read skiro/hall/lines\n");
        acl.close();
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            m_port = probe.serverPort();
        }
        QDir().mkpath(path("store"));
        QFile conf(path("mosquitto.conf"));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        QString text = QStringLiteral("per_listener_settings false\n"
                                      "allow_anonymous false\n"
                                      "password_file %1\n"
                                      "acl_file %2\n"
                                      "persistence true\n"
                                      "persistence_location %3/\n"
                                      "max_queued_messages 100000\n"
                                      "max_inflight_messages 1000\n"
                                      "log_dest stdout\n"
                                      "listener %4 127.0.0.1\n"
                                      "cafile %5\n"
                                      "certfile %6\n"
                                      "keyfile %7\n")
                           .arg(path("passwd"), path("acl"), path("store"))
                           .arg(m_port)
                           .arg(path("ca.crt"), path("server.crt"), path("server.key"));
        // Run as root, the broker would turn into the mosquitto user, who cannot read here.
        if (::geteuid() == 0)
            text += QStringLiteral("user root\n");
        conf.write(text.toUtf8());
        return true;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    bool m_ok = false;
};
