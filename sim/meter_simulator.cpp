#include "sim/meter_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <random>
#include <utility>

#include <QDateTime>
#include <QFile>

#include "platform/virtual_ports.h"

namespace lyr::sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    [[nodiscard]] int Get() const { return m_fd; }
    [[nodiscard]] bool Valid() const { return m_fd >= 0; }
    void Reset() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

  private:
    int m_fd = -1;
};

// ---- Model families and their commands -------------------------------------------------------

enum FamilyBit : unsigned { kLyr = 1, kKtv = 2, kOther = 4, kAll = kLyr | kKtv | kOther };

struct ModelRow {
    const char* contains;
    FamilyBit family;
};
// Matched in order against the model text, as the logger identifies the meter.
constexpr std::array kModels{ModelRow{"LYR101", kLyr}, ModelRow{"LYR102", kLyr},
                             ModelRow{"KTV201", kKtv}, ModelRow{"KTV202", kKtv}};

FamilyBit FamilyOf(const QString& model) {
    for (const ModelRow& row : kModels)
        if (model.contains(QLatin1String(row.contains))) return row.family;
    return kOther;
}

enum class Action {
    None,
    Read,
    Fetch,
    TrigSourceImm,
    TrigSourceExt,
    InitContOn,
    InitContOff,
    Abort
};
enum class Reply {
    Nothing,
    Identity,                 // maker,model,serial,firmware
    Value,                    // 1.0012E-03
    ValueCommaJudgement,      // 1.0012E-03,IN
    ValueSemicolonJudgement,  // 1.0012E-03;IN  (compound query: two replies joined by ';')
    Temperature,              // 23.5
    ValueCommaTemperature,    // 1.0012E-03,23.5
    TriggerSource,            // IMM / EXT
    TriggerInput,             // hexadecimal input register, bit 0 = trigger since last poll
};

// Patterns in SCPI notation: the upper-case part of a mnemonic is its short form, the whole
// mnemonic its long form; either is accepted in any letter case.
struct CommandRow {
    const char* pattern;
    unsigned families;
    Action action;
    Reply reply;
};
constexpr std::array kCommands{
    CommandRow{"*IDN?", kAll, Action::None, Reply::Identity},
    CommandRow{"READ?", kAll, Action::Read, Reply::Value},
    CommandRow{"FETCh?", kAll, Action::Fetch, Reply::Value},
    CommandRow{"READ? LIMit", kLyr, Action::Read, Reply::ValueCommaJudgement},
    CommandRow{"FETCh? LIMit", kLyr, Action::Fetch, Reply::ValueCommaJudgement},
    CommandRow{"READ?;:CALCulate:LIMit:RESult?", kKtv, Action::Read,
               Reply::ValueSemicolonJudgement},
    CommandRow{"FETCh?;:CALCulate:LIMit:RESult?", kKtv, Action::Fetch,
               Reply::ValueSemicolonJudgement},
    CommandRow{"FETCh:TEMPerature?", kLyr, Action::None, Reply::Temperature},
    CommandRow{"FETCh? TEMPerature", kKtv, Action::Fetch, Reply::ValueCommaTemperature},
    CommandRow{"TRIGger:SOURce?", kAll, Action::None, Reply::TriggerSource},
    CommandRow{"TRIGger:SOURce IMMediate", kAll, Action::TrigSourceImm, Reply::Nothing},
    CommandRow{"TRIGger:SOURce EXTernal", kAll, Action::TrigSourceExt, Reply::Nothing},
    CommandRow{"INITiate:CONTinuous ON", kAll, Action::InitContOn, Reply::Nothing},
    CommandRow{"INITiate:CONTinuous OFF", kAll, Action::InitContOff, Reply::Nothing},
    CommandRow{"SYSTem:DATA 0", kLyr, Action::None, Reply::Nothing},
    CommandRow{"SYSTem:COMMunicate:DATA 0", kKtv, Action::None, Reply::Nothing},
    CommandRow{"SYSTem:COMMunicate:FORMat FIXed", kKtv, Action::None, Reply::Nothing},
    CommandRow{"IO:INPut?", kAll, Action::None, Reply::TriggerInput},
    CommandRow{"ABORt", kAll, Action::Abort, Reply::Nothing},
};

bool IsSeparator(char c) { return c == ':' || c == ';' || c == ',' || c == ' '; }

// Splits a command into mnemonics and single separators. White space collapses to one blank,
// disappears next to ';' and ',', and the leading ':' of the root is optional, as in SCPI.
QList<QByteArray> Tokenize(QByteArray text) {
    text = text.simplified();
    if (text.startsWith(':')) text.remove(0, 1);
    QList<QByteArray> tokens;
    QByteArray word;
    for (char c : text) {
        if (!IsSeparator(c)) {
            word.append(c);
            continue;
        }
        if (!word.isEmpty()) tokens.append(std::exchange(word, {}));
        if (c == ' ' && (tokens.isEmpty() || tokens.last() == ";" || tokens.last() == ","))
            continue;
        if ((c == ';' || c == ',') && !tokens.isEmpty() && tokens.last() == " ")
            tokens.removeLast();
        tokens.append(QByteArray(1, c));
    }
    if (!word.isEmpty()) tokens.append(word);
    return tokens;
}

bool MnemonicMatches(const QByteArray& pattern, const QByteArray& input) {
    QByteArray shortForm;
    for (char c : pattern)
        if (!(c >= 'a' && c <= 'z')) shortForm.append(c);
    const QByteArray upper = input.toUpper();
    return upper == shortForm || upper == pattern.toUpper();
}

bool CommandMatches(const char* pattern, const QList<QByteArray>& input) {
    const QList<QByteArray> expected = Tokenize(QByteArray(pattern));
    if (expected.size() != input.size()) return false;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const bool separator = expected[i].size() == 1 && IsSeparator(expected[i][0]);
        if (separator ? expected[i] != input[i] : !MnemonicMatches(expected[i], input[i]))
            return false;
    }
    return true;
}

const CommandRow* FindCommand(const QByteArray& line, FamilyBit family) {
    const QList<QByteArray> tokens = Tokenize(line);
    for (const CommandRow& row : kCommands)
        if ((row.families & family) && CommandMatches(row.pattern, tokens)) return &row;
    return nullptr;
}

// ---- Line speed ------------------------------------------------------------------------------

struct SpeedRow {
    speed_t code;
    quint32 rate;
};
constexpr std::array kSpeeds{
    SpeedRow{B0, 0},           SpeedRow{B50, 50},         SpeedRow{B75, 75},
    SpeedRow{B110, 110},       SpeedRow{B134, 134},       SpeedRow{B150, 150},
    SpeedRow{B200, 200},       SpeedRow{B300, 300},       SpeedRow{B600, 600},
    SpeedRow{B1200, 1200},     SpeedRow{B1800, 1800},     SpeedRow{B2400, 2400},
    SpeedRow{B4800, 4800},     SpeedRow{B9600, 9600},     SpeedRow{B19200, 19200},
    SpeedRow{B38400, 38400},   SpeedRow{B57600, 57600},   SpeedRow{B115200, 115200},
    SpeedRow{B230400, 230400}, SpeedRow{B460800, 460800}, SpeedRow{B500000, 500000},
    SpeedRow{B576000, 576000}, SpeedRow{B921600, 921600}, SpeedRow{B1000000, 1000000},
};

quint32 LineSpeed(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return 0;
    const speed_t code = ::cfgetospeed(&tio);
    for (const SpeedRow& row : kSpeeds)
        if (row.code == code) return row.rate;
    return 0;
}

QByteArray Printable(const QByteArray& line) {
    QByteArray out;
    for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '\\')
            out.append(c);
        else {
            std::array<char, 8> hex{};
            std::snprintf(hex.data(), hex.size(), "\\x%02X", u);
            out.append(hex.data());
        }
    }
    return out;
}

std::atomic<int> g_linkCounter{0};

}  // namespace

// ---- The thread's side -----------------------------------------------------------------------

struct MeterSimulator::Engine {
    explicit Engine(MeterSimulator& owner) : sim(owner) {}

    MeterSimulator& sim;
    UniqueFd master;
    UniqueFd slave;  // kept open so the master never loses its last slave (see header)
    UniqueFd wake;   // eventfd: Trigger() and the stop request
    UniqueFd log;
    QByteArray slaveName;
    QByteArray linkPath;

    // Everything below is touched by the simulator thread only.
    struct OutChunk {
        QByteArray data;
        Clock::time_point notBefore;
    };
    std::deque<OutChunk> output;
    Clock::time_point wireFreeAt{};  // when the byte now on the (paced) wire has left
    bool outputBlocked = false;      // last write found the pty full: wait for POLLOUT
    QByteArray input;
    bool discardingLongLine = false;
    std::mt19937 random{20240517u};
    bool haveReading = false;
    double lastValue = 0.0;
    bool triggerLatched = false;         // io:input? bit 0
    Reply pendingRead = Reply::Nothing;  // read query waiting for the external trigger
    bool endless = false;
    int periodMs = 0;
    Clock::time_point nextPeriodicTrigger{};
    SimConfig config;  // snapshot taken at the top of every pass

    void Run();
    void Snapshot();
    void HandleInput(const char* data, qsizetype size);
    void HandleLine(const QByteArray& line);
    void Execute(const CommandRow& row);
    void OnTrigger();
    double TakeReading();
    QByteArray FormatReply(Reply reply, double value) const;
    void Answer(const QByteArray& text, bool reading = false);
    void Enqueue(const QByteArray& bytes);
    void PumpOutput(Clock::time_point now);
    [[nodiscard]] Clock::time_point NextDeadline(Clock::time_point now) const;
    void SetPending(Reply reply) {
        pendingRead = reply;
        sim.m_readPending = reply != Reply::Nothing;
    }
};

void MeterSimulator::Engine::Snapshot() {
    std::lock_guard lock(sim.m_mutex);
    config = sim.m_config;
}

void MeterSimulator::Engine::Run() {
    const auto period = [this] { return std::chrono::milliseconds(config.triggerEveryMs); };
    for (;;) {
        Snapshot();
        Clock::time_point now = Clock::now();
        if (config.triggerEveryMs != periodMs) {
            periodMs = config.triggerEveryMs;
            nextPeriodicTrigger = now + period();
        }
        std::array<pollfd, 2> fds{};
        fds[0] = {wake.Get(), POLLIN, 0};
        fds[1] = {master.Get(), static_cast<short>(POLLIN | (outputBlocked ? POLLOUT : 0)), 0};
        const auto wait =
            std::clamp(NextDeadline(now) - now, Clock::duration::zero(), Clock::duration(100ms));
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        if (::ppoll(fds.data(), fds.size(), &ts, nullptr) < 0 && errno != EINTR) break;

        // Wake-ups first, so a trigger given before a client's query is seen before that query.
        if (fds[0].revents & POLLIN) {
            eventfd_t ignored = 0;
            (void)::eventfd_read(wake.Get(), &ignored);
        }
        if (sim.m_stop) break;
        for (int n = sim.m_triggerRequests.exchange(0); n > 0; --n) OnTrigger();

        if (fds[1].revents & POLLOUT) outputBlocked = false;
        if (fds[1].revents & POLLIN) {
            std::array<char, 4096> buffer{};
            const ssize_t got = ::read(master.Get(), buffer.data(), buffer.size());
            if (got > 0) HandleInput(buffer.data(), got);
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // Cannot happen while our own slave is open; never spin on it if it does.
            std::this_thread::sleep_for(10ms);
        }

        now = Clock::now();
        if (periodMs > 0 && now >= nextPeriodicTrigger) {
            OnTrigger();
            nextPeriodicTrigger = std::max(nextPeriodicTrigger + period(), now);
        }
        if (endless && output.empty()) {
            // A line that never ends: digits without terminator, in small groups so the pty
            // (and a client that stopped reading) is not flooded.
            output.push_back(
                {QByteArray("1234567890123456789012345678901"), now + (config.pace ? 0ms : 2ms)});
        }
        PumpOutput(now);
    }
}

Clock::time_point MeterSimulator::Engine::NextDeadline(Clock::time_point now) const {
    Clock::time_point next = now + 100ms;
    if (periodMs > 0) next = std::min(next, nextPeriodicTrigger);
    if (!output.empty() && !outputBlocked) {
        Clock::time_point due = output.front().notBefore;
        if (config.pace && config.baudRate > 0)
            due =
                std::max(due, wireFreeAt) + std::chrono::microseconds(10'000'000 / config.baudRate);
        next = std::min(next, due);
    }
    if (endless && output.empty()) next = now;
    return next;
}

void MeterSimulator::Engine::PumpOutput(Clock::time_point now) {
    while (!output.empty() && !outputBlocked) {
        OutChunk& chunk = output.front();
        if (chunk.notBefore > now) return;
        qsizetype count = chunk.data.size();
        Clock::time_point start{};
        Clock::duration byteTime{};
        if (config.pace && config.baudRate > 0) {
            // Ten bits per byte (start, eight data, stop): a byte may be handed over only once
            // it would have crossed the wire.
            byteTime = std::chrono::duration_cast<Clock::duration>(
                std::chrono::nanoseconds(10'000'000'000LL / config.baudRate));
            start = std::max(chunk.notBefore, wireFreeAt);
            count = std::min<qsizetype>(count, (now - start) / byteTime);
            if (count <= 0) return;
        }
        const ssize_t written = ::write(master.Get(), chunk.data.constData(), count);
        if (written < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                outputBlocked = true;
            else
                output.clear();  // the pty is gone; nothing more can be delivered
            return;
        }
        if (config.pace && config.baudRate > 0) wireFreeAt = start + written * byteTime;
        chunk.data.remove(0, written);
        if (written < count) {
            outputBlocked = true;
            return;
        }
        if (chunk.data.isEmpty())
            output.pop_front();
        else if (config.pace)
            return;  // the rest is not due yet
    }
}

void MeterSimulator::Engine::HandleInput(const char* data, qsizetype size) {
    constexpr qsizetype kMaxLine = 4096;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c != '\n') {
            if (discardingLongLine) continue;
            input.append(c);
            if (input.size() > kMaxLine) {
                // A meter's input buffer is finite; an overlong line is dropped as a whole.
                input.clear();
                discardingLongLine = true;
            }
            continue;
        }
        if (std::exchange(discardingLongLine, false)) continue;
        QByteArray line = std::exchange(input, {});
        while (line.startsWith('\r')) line.remove(0, 1);
        while (line.endsWith('\r')) line.chop(1);
        HandleLine(line);
    }
}

void MeterSimulator::Engine::HandleLine(const QByteArray& line) {
    const ReceivedLine received{line, LineSpeed(slave.Get())};
    std::function<void(const ReceivedLine&)> callback;
    {
        std::lock_guard lock(sim.m_mutex);
        sim.m_received.append(received);
        callback = sim.m_onReceived;
        config = sim.m_config;  // a setter called just before this line applies to it
    }
    sim.m_receivedChanged.notify_all();
    if (log.Valid()) {
        const QByteArray text =
            QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toLatin1() + ' ' +
            QByteArray::number(received.baudRate) + ' ' + Printable(line) + '\n';
        (void)!::write(log.Get(), text.constData(), text.size());
    }
    if (callback) callback(received);

    // At another line speed the meter would only see framing errors: no effect, no answer.
    if (config.silent || received.baudRate != config.baudRate) return;
    if (line.trimmed().isEmpty()) return;  // a bare CR LF only ends a partial command
    endless = false;
    if (const CommandRow* row = FindCommand(line, FamilyOf(config.model))) Execute(*row);
}

double MeterSimulator::Engine::TakeReading() {
    const double low = std::min(config.valueMin, config.valueMax);
    const double high = std::max(config.valueMin, config.valueMax);
    lastValue = low == high ? low : std::uniform_real_distribution<double>(low, high)(random);
    haveReading = true;
    return lastValue;
}

QByteArray MeterSimulator::Engine::FormatReply(Reply reply, double value) const {
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%.4E", value);
    const QByteArray number(buffer.data());
    const QByteArray judgement = value < config.limitLow    ? "LO"
                                 : value > config.limitHigh ? "HI"
                                                            : "IN";
    switch (reply) {
        case Reply::Value:
            return number;
        case Reply::ValueCommaJudgement:
            return number + ',' + judgement;
        case Reply::ValueSemicolonJudgement:
            return number + ';' + judgement;
        case Reply::ValueCommaTemperature:
            return number + ',' + config.temperature.toLatin1();
        default:
            return {};
    }
}

void MeterSimulator::Engine::Execute(const CommandRow& row) {
    const bool external = config.triggerSource.trimmed().toUpper().startsWith(QLatin1String("EXT"));
    switch (row.action) {
        case Action::TrigSourceImm:
        case Action::TrigSourceExt: {
            const QString source = row.action == Action::TrigSourceImm ? "IMM" : "EXT";
            std::lock_guard lock(sim.m_mutex);
            sim.m_config.triggerSource = source;
            config.triggerSource = source;
            return;
        }
        case Action::Abort:
            SetPending(Reply::Nothing);
            return;
        case Action::Read:
            if (external) {
                // The measurement starts at the next external trigger; only then is it answered.
                SetPending(row.reply);
                return;
            }
            Answer(FormatReply(row.reply, TakeReading()), true);
            return;
        case Action::Fetch:
            // Free-running (IMM) the meter always has a fresh reading; waiting for its trigger it
            // hands out the last one.
            Answer(FormatReply(row.reply, external && haveReading ? lastValue : TakeReading()),
                   true);
            return;
        case Action::InitContOn:
        case Action::InitContOff:
        case Action::None:
            break;
    }
    switch (row.reply) {
        case Reply::Identity:
            Answer((config.maker + ',' + config.model + ',' + config.serial + ',' + config.firmware)
                       .toLatin1());
            break;
        case Reply::Temperature:
            Answer(config.temperature.toLatin1());
            break;
        case Reply::TriggerSource:
            Answer(external ? "EXT" : "IMM");
            break;
        case Reply::TriggerInput:
            Answer(std::exchange(triggerLatched, false) ? "1" : "0");
            break;
        default:
            break;
    }
}

void MeterSimulator::Engine::OnTrigger() {
    triggerLatched = true;
    if (pendingRead != Reply::Nothing) {
        const Reply reply = pendingRead;
        SetPending(Reply::Nothing);
        Answer(FormatReply(reply, TakeReading()), true);
    }
}

void MeterSimulator::Engine::Answer(const QByteArray& text, bool reading) {
    {
        std::lock_guard lock(sim.m_mutex);
        sim.m_lastReply = text;
    }
    if (reading && config.endlessLine) {
        endless = true;
        return;
    }
    QByteArray bytes;
    if (config.garbage) bytes.append("\xFF\x00\x80\xFE", 4);
    bytes.append(text);
    bytes.append(config.lfBeforeCr ? "\n\r" : "\r\n");
    Enqueue(bytes);
}

void MeterSimulator::Engine::Enqueue(const QByteArray& bytes) {
    Clock::time_point at = Clock::now() + std::chrono::milliseconds(config.replyDelayMs);
    if (!output.empty()) at = std::max(at, output.back().notBefore);
    if (config.chunkSize <= 0) {
        output.push_back({bytes, at});
        return;
    }
    for (qsizetype pos = 0; pos < bytes.size(); pos += config.chunkSize) {
        output.push_back({bytes.mid(pos, config.chunkSize), at});
        at += std::chrono::milliseconds(std::max(config.chunkGapMs, 1));
    }
}

// ---- The owner's side ------------------------------------------------------------------------

MeterSimulator::MeterSimulator(SimConfig config) : m_config(std::move(config)) {
    if (m_config.linkName.isEmpty())
        m_config.linkName =
            QStringLiteral("zorva-%1-%2").arg(::getpid()).arg(g_linkCounter.fetch_add(1) + 1);
    m_portName = VirtualPortDirectory() + '/' + m_config.linkName;
}

MeterSimulator::~MeterSimulator() { HangUp(); }

bool MeterSimulator::Start() {
    if (m_engine || m_config.linkName.contains('/')) return false;
    auto engine = std::make_unique<Engine>(*this);
    engine->master = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!engine->master.Valid() || ::grantpt(engine->master.Get()) != 0 ||
        ::unlockpt(engine->master.Get()) != 0)
        return false;
    std::array<char, 128> name{};
    if (::ptsname_r(engine->master.Get(), name.data(), name.size()) != 0) return false;
    engine->slaveName = name.data();
    // Our slave is opened before anyone else can know the path, so a client's TIOCEXCL never
    // locks the simulator out.
    engine->slave = UniqueFd(::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!engine->slave.Valid()) return false;
    termios tio{};
    if (::tcgetattr(engine->slave.Get(), &tio) != 0) return false;
    ::cfmakeraw(&tio);  // no echo, no line editing, no CR/LF translation until a client sets up
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(engine->slave.Get(), TCSANOW, &tio) != 0) return false;
    if (::fcntl(engine->master.Get(), F_SETFL, O_NONBLOCK) != 0) return false;
    engine->wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!engine->wake.Valid()) return false;
    if (!m_config.logPath.isEmpty()) {
        engine->log = UniqueFd(::open(QFile::encodeName(m_config.logPath).constData(),
                                      O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        if (!engine->log.Valid()) return false;
    }

    if (!EnsureVirtualPortDirectory()) return false;
    engine->linkPath = QFile::encodeName(m_portName);
    struct stat st {};
    if (::lstat(engine->linkPath.constData(), &st) == 0) {
        // A link left by a simulator that died is replaced; a live one belongs to someone else.
        if (!S_ISLNK(st.st_mode) || ::stat(engine->linkPath.constData(), &st) == 0) return false;
        ::unlink(engine->linkPath.constData());
    }
    if (::symlink(engine->slaveName.constData(), engine->linkPath.constData()) != 0) return false;

    m_stop = false;
    m_engine = std::move(engine);
    m_thread = std::thread([this] { m_engine->Run(); });
    return true;
}

QString MeterSimulator::PortName() const { return m_portName; }

QString MeterSimulator::SlaveName() const {
    return m_engine ? QString::fromLatin1(m_engine->slaveName) : QString();
}

void MeterSimulator::Trigger() {
    ++m_triggerRequests;
    if (m_engine) (void)::eventfd_write(m_engine->wake.Get(), 1);
}

void MeterSimulator::StopThread() {
    if (!m_thread.joinable()) return;
    m_stop = true;
    (void)::eventfd_write(m_engine->wake.Get(), 1);
    m_thread.join();
}

void MeterSimulator::HangUp() {
    if (!m_engine) return;
    StopThread();
    // Closing the master while a client holds the slave is what the client sees as hang-up;
    // our own slave goes too, or the pty would outlive its master.
    m_engine->master.Reset();
    m_engine->slave.Reset();
    // Remove the link only while it still points at our pty (a later simulator may own it).
    std::array<char, 128> target{};
    const ssize_t n = ::readlink(m_engine->linkPath.constData(), target.data(), target.size() - 1);
    if (n > 0 && QByteArray(target.data(), n) == m_engine->slaveName)
        ::unlink(m_engine->linkPath.constData());
    m_engine->log.Reset();
    m_readPending = false;
    // m_engine stays, so Start() cannot reuse a half-torn simulator.
}

void MeterSimulator::SetSilent(bool on) {
    std::lock_guard lock(m_mutex);
    m_config.silent = on;
}

void MeterSimulator::SetConfig(const SimConfig& config) {
    std::lock_guard lock(m_mutex);
    const QString linkName = m_config.linkName;
    const QString logPath = m_config.logPath;
    m_config = config;
    m_config.linkName = linkName;
    m_config.logPath = logPath;
}

SimConfig MeterSimulator::Config() const {
    std::lock_guard lock(m_mutex);
    return m_config;
}

void MeterSimulator::SetModel(const QString& model) {
    std::lock_guard lock(m_mutex);
    m_config.model = model;
}

void MeterSimulator::SetBaudRate(quint32 rate) {
    std::lock_guard lock(m_mutex);
    m_config.baudRate = rate;
}

void MeterSimulator::SetValueRange(double valueMin, double valueMax) {
    std::lock_guard lock(m_mutex);
    m_config.valueMin = valueMin;
    m_config.valueMax = valueMax;
}

void MeterSimulator::SetLimits(double limitLow, double limitHigh) {
    std::lock_guard lock(m_mutex);
    m_config.limitLow = limitLow;
    m_config.limitHigh = limitHigh;
}

void MeterSimulator::SetTemperature(const QString& temperature) {
    std::lock_guard lock(m_mutex);
    m_config.temperature = temperature;
}

void MeterSimulator::SetTriggerSource(const QString& source) {
    std::lock_guard lock(m_mutex);
    m_config.triggerSource = source;
}

void MeterSimulator::SetTriggerEveryMs(int ms) {
    {
        std::lock_guard lock(m_mutex);
        m_config.triggerEveryMs = ms;
    }
    if (m_engine && m_thread.joinable()) (void)::eventfd_write(m_engine->wake.Get(), 1);
}

void MeterSimulator::SetPace(bool on) {
    std::lock_guard lock(m_mutex);
    m_config.pace = on;
}

void MeterSimulator::SetChunkSize(int bytes) {
    std::lock_guard lock(m_mutex);
    m_config.chunkSize = bytes;
}

void MeterSimulator::SetLfBeforeCr(bool on) {
    std::lock_guard lock(m_mutex);
    m_config.lfBeforeCr = on;
}

void MeterSimulator::SetGarbage(bool on) {
    std::lock_guard lock(m_mutex);
    m_config.garbage = on;
}

void MeterSimulator::SetEndlessLine(bool on) {
    std::lock_guard lock(m_mutex);
    m_config.endlessLine = on;
}

QList<ReceivedLine> MeterSimulator::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

void MeterSimulator::ClearReceived() {
    std::lock_guard lock(m_mutex);
    m_received.clear();
}

bool MeterSimulator::WaitForReceived(const QByteArray& line, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_receivedChanged.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [&] {
        return std::any_of(m_received.cbegin(), m_received.cend(),
                           [&](const ReceivedLine& r) { return r.line == line; });
    });
}

QByteArray MeterSimulator::LastReply() const {
    std::lock_guard lock(m_mutex);
    return m_lastReply;
}

bool MeterSimulator::ReadPending() const { return m_readPending; }

void MeterSimulator::SetReceivedCallback(std::function<void(const ReceivedLine&)> callback) {
    std::lock_guard lock(m_mutex);
    m_onReceived = std::move(callback);
}

}  // namespace lyr::sim
