// zorva-sim: one simulated ZORVA meter on a pseudo-terminal, published as a virtual port.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include "sim/meter_simulator.h"

namespace {

struct Options {
    lyr::sim::SimConfig config;
    int hangUpAfterMs = 0;
    bool verbose = false;
};

bool ParseOptions(const QStringList& arguments, Options& out, QString& error) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Simulates one ZORVA meter on a pseudo-terminal and publishes it as a virtual port.\n"
        "Prints the port path on stdout. ENTER or SIGUSR1 gives an external trigger.");
    parser.addHelpOption();
    const lyr::sim::SimConfig d;
    const auto opt = [&](const char* name, const char* help, const QString& def = {}) {
        QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(help),
                             def.isNull() ? QString() : QStringLiteral("value"), def);
        parser.addOption(o);
        return o;
    };
    const auto model = opt("model", "Model text (LYR101, LYR102, KTV201, KTV202, any).", d.model);
    const auto maker = opt("maker", "Maker text of the identification reply.", d.maker);
    const auto serial = opt("serial", "Serial number.", d.serial);
    const auto firmware = opt("firmware", "Firmware version.", d.firmware);
    const auto baud = opt("baud", "Baud rate the meter answers at.", QString::number(d.baudRate));
    const auto vmin = opt("min", "Lowest reading.", QString::number(d.valueMin));
    const auto vmax = opt("max", "Highest reading.", QString::number(d.valueMax));
    const auto low = opt("low", "Comparator low limit (below: LO).", QString::number(d.limitLow));
    const auto high =
        opt("high", "Comparator high limit (above: HI).", QString::number(d.limitHigh));
    const auto temperature = opt("temperature", "Temperature text.", d.temperature);
    const auto source = opt("trigger-source", "IMM or EXT.", d.triggerSource);
    const auto every = opt("trigger-every", "External trigger every N ms (0: off).", "0");
    const auto delay = opt("reply-delay", "Think time before each reply, ms.", "0");
    const auto pace = opt("pace", "Pace replies at the wire speed (10 bits per byte).");
    const auto silent = opt("silent", "Fault: never answer.");
    const auto chunk = opt("chunk", "Fault: write replies in chunks of N bytes.", "0");
    const auto chunkGap =
        opt("chunk-gap", "Gap between chunks, ms.", QString::number(d.chunkGapMs));
    const auto lfcr = opt("lf-before-cr", "Fault: end replies with LF CR.");
    const auto garbage = opt("garbage", "Fault: garbage bytes before each reply.");
    const auto endless = opt("endless-line", "Fault: read/fetch answered by an endless line.");
    const auto hangUp = opt("hang-up-after", "Fault: hang up after N ms.", "0");
    const auto name = opt("name", "Link name in the virtual port directory.", "");
    const auto log = opt("log", "Append every received line to this file.", "");
    const auto verbose = opt("verbose", "Print every received line on stderr.");
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet("help")) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = "Unexpected argument: " + parser.positionalArguments().first();
        return false;
    }
    bool ok = true;
    const auto number = [&](const QCommandLineOption& o) {
        bool good = false;
        const double v = parser.value(o).toDouble(&good);
        if (!good) {
            error = "Not a number for --" + o.names().first() + ": " + parser.value(o);
            ok = false;
        }
        return v;
    };
    const auto integer = [&](const QCommandLineOption& o) {
        bool good = false;
        const int v = parser.value(o).toInt(&good);
        if (!good || v < 0) {
            error = "Not a count for --" + o.names().first() + ": " + parser.value(o);
            ok = false;
        }
        return v;
    };
    lyr::sim::SimConfig& c = out.config;
    c.model = parser.value(model);
    c.maker = parser.value(maker);
    c.serial = parser.value(serial);
    c.firmware = parser.value(firmware);
    c.baudRate = static_cast<quint32>(integer(baud));
    c.valueMin = number(vmin);
    c.valueMax = number(vmax);
    c.limitLow = number(low);
    c.limitHigh = number(high);
    c.temperature = parser.value(temperature);
    c.triggerSource = parser.value(source).toUpper();
    c.triggerEveryMs = integer(every);
    c.replyDelayMs = integer(delay);
    c.pace = parser.isSet(pace);
    c.silent = parser.isSet(silent);
    c.chunkSize = integer(chunk);
    c.chunkGapMs = integer(chunkGap);
    c.lfBeforeCr = parser.isSet(lfcr);
    c.garbage = parser.isSet(garbage);
    c.endlessLine = parser.isSet(endless);
    c.linkName = parser.value(name);
    c.logPath = parser.value(log);
    out.hangUpAfterMs = integer(hangUp);
    out.verbose = parser.isSet(verbose);
    if (ok && c.triggerSource != "IMM" && c.triggerSource != "EXT") {
        error = "--trigger-source must be IMM or EXT";
        ok = false;
    }
    return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("zorva-sim");
    Options options;
    QString error;
    if (!ParseOptions(QCoreApplication::arguments(), options, error)) {
        std::fprintf(stderr, "zorva-sim: %s\n", qPrintable(error));
        return 2;
    }

    // Blocked before the simulator's thread exists, so every one of them reaches the signalfd.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&blocked, s);
    if (pthread_sigmask(SIG_BLOCK, &blocked, nullptr) != 0) return 1;
    const int signalFd = ::signalfd(-1, &blocked, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("zorva-sim: signalfd");
        return 1;
    }

    lyr::sim::MeterSimulator simulator(options.config);
    if (options.verbose) {
        simulator.SetReceivedCallback([](const lyr::sim::ReceivedLine& r) {
            std::fprintf(stderr, "rx %u \"%s\"\n", r.baudRate, r.line.constData());
        });
    }
    if (!simulator.Start()) {
        std::fprintf(stderr, "zorva-sim: cannot publish %s\n", qPrintable(simulator.PortName()));
        return 1;
    }
    std::printf("%s\n", qPrintable(simulator.PortName()));
    std::fflush(stdout);

    const auto started = std::chrono::steady_clock::now();
    bool stdinOpen = true;
    for (;;) {
        std::array<pollfd, 2> fds{{{signalFd, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}}};
        int timeout = -1;
        if (options.hangUpAfterMs > 0) {
            const auto left =
                options.hangUpAfterMs - std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - started)
                                            .count();
            if (left <= 0) {
                std::fprintf(stderr, "zorva-sim: hanging up\n");
                simulator.HangUp();
                options.hangUpAfterMs = 0;
                continue;
            }
            timeout = static_cast<int>(left);
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0) continue;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signalFd, &info, sizeof info) == sizeof info) {
                if (info.ssi_signo == SIGUSR1)
                    simulator.Trigger();
                else
                    break;
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            std::array<char, 256> buffer{};
            const ssize_t n = ::read(0, buffer.data(), buffer.size());
            if (n <= 0) {
                stdinOpen = false;  // detached (</dev/null): only signals remain
            } else {
                for (ssize_t i = 0; i < n; ++i)
                    if (buffer[i] == '\n') simulator.Trigger();
            }
        }
    }
    ::close(signalFd);
    return 0;  // the simulator's destructor removes the link
}
