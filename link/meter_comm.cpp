#include "link/meter_comm.h"

#include <string>
#include <vector>

#include "platform/tick.h"
#include "platform/virtual_ports.h"

namespace lyr {

namespace {

constexpr std::array<FamilyCommands, 3> FamilyCommandTable{{
    // FamilyLyr
    {":READ? LIMit", ":FETC? LIMit", ":FETC:TEMP?", "SYST:DATA 0", ""},
    // FamilyKtv: value and judgement come as two answers of one combined query, joined by ';'.
    {":READ?;:CALC:LIM:RES?", ":FETC?;:CALC:LIM:RES?", ":FETC? TEMP", "SYST:COMM:DATA 0",
     ":SYST:COMM:FORM FIX"},
    // FamilyNone: the plain queries every SCPI meter knows; nothing else is sent.
    {":READ?", ":FETC?", "", "", ""},
}};

constexpr quint32 IdentifyTimeoutMs = 300;
constexpr quint32 TemperatureTimeoutMs = 500;
const QString UnknownSerial = QStringLiteral("--------");
const QString NoValueMarker = QStringLiteral("-----------");

QString FromAscii(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

const std::array<SupportedModel, 4> SupportedModelTable{{
    {"LYR101", FamilyLyr},
    {"LYR102", FamilyLyr},
    {"KTV201", FamilyKtv},
    {"KTV202", FamilyKtv},
}};

const FamilyCommands& CommandsOfFamily(int family) {
    if (family == FamilyLyr || family == FamilyKtv)
        return FamilyCommandTable[static_cast<std::size_t>(family)];
    return FamilyCommandTable[FamilyNone];
}

CMeterComm::CMeterComm(std::unique_ptr<ISerialDevice> device,
                       std::unique_ptr<IPortEnumerator> enumerator)
    : CSerialPort(std::move(device)), Enumerator(std::move(enumerator)) {}

// The base class closes the port after the lists and strings are gone.
CMeterComm::~CMeterComm() = default;

QString CMeterComm::DevicePathFor(const QString& portName) {
    if (portName.isEmpty() || portName.contains(QLatin1String(".."))) return {};
    if (!portName.contains(u'/')) return QStringLiteral("/dev/") + portName;
    // A full path is taken only where ports live: /dev, or the links simulators publish.
    const QString virtualDir = VirtualPortDirectory() + u'/';
    if (portName.startsWith(QLatin1String("/dev/")) || portName.startsWith(virtualDir))
        return portName;
    return {};
}

bool CMeterComm::OpenPort(const QString& portName, quint32 baudRate) {
    Connected = false;
    const QString path = DevicePathFor(portName);
    if (!path.isEmpty() && Open(path, baudRate)) {
        Connected = true;
        DrainInput();
    }
    ModelFamily = FamilyNone;
    return Connected;
}

bool CMeterComm::OpenConfigured() {
    if (PortNames.isEmpty()) {
        Connected = false;
        ModelFamily = FamilyNone;
        return false;
    }
    return OpenPort(SelectedPort, SelectedBaudRate);
}

bool CMeterComm::SendCommand(std::string_view text) {
    if (!Connected) return false;
    CrSeen = false;
    LfSeen = false;
    ReplyBuffer.clear();

    std::string line;
    line.reserve(text.size() + 4);
    line.append(text);
    line.append("\r\n");

    std::lock_guard lock(PortLock);
    if (!HandleValid()) return false;
    // Whatever is still waiting is a stale or late reply; it must never mix with the next one.
    (void)Handle->purge();
    return Handle->write(std::span<const char>(line.data(), line.size()));
}

bool CMeterComm::SendLineEnd() {
    if (!Connected) return false;
    static constexpr char lineEnd[] = {'\r', '\n'};
    std::lock_guard lock(PortLock);
    if (!HandleValid()) return false;
    (void)Handle->purge();
    return Handle->write(lineEnd);
}

template <typename OnComplete>
void CMeterComm::ReceiveChunk(bool& crSeen, bool& lfSeen, QString& text, OnComplete&& onComplete) {
    const quint32 waiting = QueryBytesWaiting();
    if (waiting == 0) return;
    std::vector<char> chunk(static_cast<std::size_t>(waiting) + 4);
    // A failed or short read loses the whole chunk rather than half a line.
    if (Handle->read(std::span<char>(chunk.data(), waiting)) != static_cast<std::int64_t>(waiting))
        return;
    for (quint32 i = 0; i < waiting; ++i) {
        const auto byte = static_cast<unsigned char>(chunk[i]);
        const bool wasComplete = crSeen && lfSeen;
        // The meters end a line with CR and LF, but not always in that order.
        if (byte == '\r') {
            crSeen = true;
        } else if (byte == '\n') {
            lfSeen = true;
        } else if (byte != 0 && text.size() < MaxReplyLength) {
            text.append(QChar(byte));  // Latin-1: each byte is the character of the same code
        }
        if (crSeen && lfSeen) onComplete(!wasComplete);
    }
}

bool CMeterComm::PollReply() {
    if (!Connected) return false;
    bool complete = false;
    std::lock_guard lock(PortLock);
    ReceiveChunk(CrSeen, LfSeen, ReplyBuffer, [&](bool lineEnded) {
        complete = true;
        // Fixed up once, when the line ends: bytes that trail the line end are appended as they
        // come, and fixing the text up again would stack a no-value marker onto it per byte.
        if (lineEnded && ModelFamily == FamilyKtv) FixUpReply(ReplyBuffer);
    });
    return complete;
}

QString CMeterComm::ReceiveReply(quint32 timeoutMs) {
    if (!Connected) return {};
    QString reply;
    bool crSeen = false;
    bool lfSeen = false;
    bool done = false;
    const quint32 start = GetTickCount();

    std::lock_guard lock(PortLock);
    for (;;) {
        ReceiveChunk(crSeen, lfSeen, reply, [&](bool) {
            if (!reply.isEmpty() && reply.contains(u';')) reply.replace(u';', u',');
            done = true;
        });
        if (done) break;
        if (static_cast<quint32>(GetTickCount() - start) > timeoutMs) {
            reply.clear();  // half a line is no reply
            break;
        }
        Sleep(1);
    }
    return reply;
}

void CMeterComm::EnumeratePorts(QString preferred) {
    FriendlyNames.clear();
    PortNames.clear();
    PortBaudRates.clear();
    FoundSerials.clear();
    FoundDescriptors.clear();

    bool first = true;
    for (const PortInfo& port : Enumerator->enumerate()) {
        // The enumerator lists serial ports only; an entry without a name cannot be opened.
        if (port.portName.isEmpty()) continue;
        if (first) {
            SelectedPort = port.portName;
            first = false;
        }
        FriendlyNames.append(port.description);
        PortNames.append(port.portName);
        FoundSerials.append(QStringLiteral(" "));
        FoundDescriptors.append(QStringLiteral(" "));
        PortBaudRates.append(9600);
        if (port.portName == preferred) SelectedPort = port.portName;
    }
}

bool CMeterComm::Identify(QString& maker, QString& model, QString& serial) {
    // A bare line end first, so that a partial command left in the meter's input is ended and
    // cannot swallow the query.
    (void)SendLineEnd();
    (void)SendCommand("*idn?");
    QString rest = ReceiveReply(IdentifyTimeoutMs);
    if (rest.isEmpty()) return false;

    std::array<QString, 4> field;
    for (std::size_t i = 0; i < 3; ++i) {
        const qsizetype comma = rest.indexOf(u',');
        if (rest.isEmpty() || comma < 0) break;
        field[i] = rest.left(comma);
        rest.remove(0, comma + 1);
        if (i == 2) field[3] = rest;  // firmware version, not used
    }
    if (field[0] != QLatin1String("ZORVA")) return false;

    int family = FamilyNone;
    for (const SupportedModel& supported : SupportedModelTable) {
        if (field[1].contains(FromAscii(supported.Name))) {
            family = supported.Family;
            break;
        }
    }
    ModelFamily = family;
    // No reply is read: the purge before the next command discards whatever it answers.
    if (const std::string_view format = CommandsOfFamily(family).FormatCommand; !format.empty())
        (void)SendCommand(format);

    maker = field[0];
    model = field[1];
    serial = family != FamilyNone ? field[2] : UnknownSerial;
    SerialNumber = serial;
    return true;
}

bool CMeterComm::ProbePort(const QString& portName, QString& model, QString& serial,
                           quint32& baudRate) {
    for (const quint32 rate : BaudRateTable) {
        if (OpenPort(portName, rate)) {
            QString maker;
            if (Identify(maker, model, serial)) {
                baudRate = rate;
                Close();
                Connected = false;
                return true;
            }
            Close();
            Connected = false;
        }
        Sleep(1);
    }
    return false;
}

void CMeterComm::SearchAllPorts() {
    for (qsizetype i = 0; i < FriendlyNames.size(); ++i) {
        QString model;
        QString serial;
        quint32 rate = 0;
        if (ProbePort(PortNames[i], model, serial, rate)) {
            FoundDescriptors[i] = QStringLiteral("ZORVA-") + model + u'-' + serial;
            FoundSerials[i] = serial;
            PortBaudRates[i] = rate;
        } else {
            FoundDescriptors[i] = QStringLiteral("?");
        }
    }
}

void CMeterComm::SendReadQuery() { (void)SendCommand(CommandsOfFamily(ModelFamily).ReadQuery); }

void CMeterComm::SendFetchQuery() { (void)SendCommand(CommandsOfFamily(ModelFamily).FetchQuery); }

QString CMeterComm::QueryTemperature() {
    const int family = ModelFamily;
    if (family != FamilyLyr && family != FamilyKtv) return {};
    (void)SendCommand(CommandsOfFamily(family).TemperatureQuery);
    QString result = ReceiveReply(TemperatureTimeoutMs);
    // The KTV meters answer ":FETC? TEMP" with the reading first: value ',' temperature.
    if (family == FamilyKtv && !result.isEmpty()) {
        const qsizetype comma = result.indexOf(u',');
        if (comma >= 0) result.remove(0, comma + 1);
    }
    return result;
}

void CMeterComm::FixUpReply(QString& reply) {
    // A KTV meter that has no judgement to give answers the value alone; the rest of the
    // program always expects value ',' judgement, so the value moves behind a no-value marker.
    if (reply.isEmpty() || !reply.contains(u';')) reply.prepend(NoValueMarker + u';');
    reply.replace(u';', u',');
}

CMeterComm& TheMeterComm() {
    static CMeterComm link(MakeTermiosSerialDevice(), MakeUdevPortEnumerator());
    return link;
}

namespace {
// Builds the global link during static initialisation, before the application object runs.
[[maybe_unused]] CMeterComm& ConstructedAtStart = TheMeterComm();
}  // namespace

}  // namespace lyr
