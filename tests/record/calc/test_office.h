#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <thread>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include "record/calc/calc_server.h"
#include "record/calc/calc_uno.h"

extern char** environ;

namespace lyr::test {

// An X server of the test's own for the office windows. Xvfb picks a free display itself
// (-displayfd), so tests running side by side never share or race for one. -noreset: by
// default the server resets whenever its last client leaves, and an office starting at that
// moment (its first probe connection has just closed) has its next connection reset and quits
// with "Can't open display".
class XServer {
  public:
    XServer() {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>("Xvfb"),      const_cast<char*>("-displayfd"),
                        const_cast<char*>("1"),         const_cast<char*>("-screen"),
                        const_cast<char*>("0"),         const_cast<char*>("1280x1024x24"),
                        const_cast<char*>("-nolisten"), const_cast<char*>("tcp"),
                        const_cast<char*>("-noreset"),  nullptr};
        if (posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv, environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        // The server writes its display number once it accepts clients.
        QByteArray number;
        char c = 0;
        while (m_pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number.append(c);
        close(fds[0]);
        if (!number.isEmpty()) {
            display = QStringLiteral(":") + QString::fromLatin1(number);
            qputenv("DISPLAY", display.toLatin1());
            qunsetenv("XAUTHORITY");
        }
    }
    ~XServer() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    QString display;  // empty when no server could be started

  private:
    pid_t m_pid = -1;
};

// A LibreOffice of the test's own: a profile in a temporary folder (made once per test program,
// since a first start on a new profile takes seconds), pipe names of this process, and the
// killing of exactly the office processes that run on that profile.
class TestOffice {
  public:
    TestOffice() {
        const QString tag = QString::number(getpid());
        linkPipe = QStringLiteral("lyrtest_link_") + tag;
        userPipe = QStringLiteral("lyrtest_user_") + tag;
    }
    ~TestOffice() { Kill(); }
    TestOffice(const TestOffice&) = delete;
    TestOffice& operator=(const TestOffice&) = delete;

    // The arguments that put an office on the test profile; no recovery dialog after a kill.
    [[nodiscard]] QStringList ProfileArguments() const {
        return {QStringLiteral("-env:UserInstallation=file://") + Profile(),
                QStringLiteral("--norestore")};
    }

    [[nodiscard]] CalcServerOptions LinkOptions() const {
        CalcServerOptions options;
        options.pipeName = linkPipe;
        options.extraArguments = ProfileArguments();
        options.startTimeoutMs = 120000;
        return options;
    }

    // Starts the office "the user runs": on the test profile, accepting on the test's own pipe
    // only, so the link has to ask it to accept on the link's pipe.
    [[nodiscard]] css::uno::Reference<css::uno::XComponentContext> StartUserOffice() {
        QProcess office;
        office.setProgram(QStringLiteral("/usr/lib/libreoffice/program/soffice"));
        office.setArguments(
            QStringList{QStringLiteral("--accept=pipe,name=%1;urp;StarOffice.ComponentContext")
                            .arg(userPipe),
                        QStringLiteral("--nologo"), QStringLiteral("--nodefault")} +
            ProfileArguments());
        office.setStandardInputFile(QProcess::nullDevice());
        office.setStandardInputFile(QProcess::nullDevice());
        office.setStandardOutputFile(QProcess::nullDevice());
        office.setStandardErrorFile(QProcess::nullDevice());
        if (!office.startDetached()) return {};
        return Connect(userPipe);
    }

    // The office's context on `pipe`, waiting up to two minutes for it to accept.
    [[nodiscard]] static css::uno::Reference<css::uno::XComponentContext> Connect(
        const QString& pipe) {
        auto local = LocalUnoContext(QStringLiteral("/usr/lib/libreoffice"));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto remote = ConnectUnoPipe(local, ToOUString(pipe)); remote.is()) return remote;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return {};
    }

    // Pids of the office processes on the test profile (oosplash and soffice.bin).
    [[nodiscard]] QList<pid_t> OfficePids() const {
        QList<pid_t> pids;
        const QByteArray profile = Profile().toUtf8();
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool ok = false;
            const pid_t pid = entry.toInt(&ok);
            if (!ok || pid == getpid()) continue;
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(profile)) {
                pids.append(pid);
            }
        }
        return pids;
    }

    // Kills the offices on the test profile and waits until they are gone.
    void Kill() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (QList<pid_t> pids = OfficePids(); !pids.isEmpty(); pids = OfficePids()) {
            for (pid_t pid : pids) ::kill(pid, SIGKILL);
            if (std::chrono::steady_clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // A killed office leaves its pipe's socket file behind; the next one replaces it.
    }

    static QString Profile() {
        static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/lyr-calc-test-XXXXXX"));
        return dir.path();
    }

    QString linkPipe;
    QString userPipe;
};

}  // namespace lyr::test
