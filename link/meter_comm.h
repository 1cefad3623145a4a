#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "link/serial_port.h"
#include "platform/port_enumerator.h"
#include "platform/serial_device.h"

namespace lyr {

// Command family of the identified meter; the values are fixed and stored in `int ModelFamily`.
enum ModelFamilyValue : int {
    FamilyLyr = 0,   // LYR101, LYR102
    FamilyKtv = 1,   // KTV201, KTV202
    FamilyNone = 2,  // nothing supported identified
};

// Rates the meters run at; dialogs index this table and the all-ports search tries it in order.
inline constexpr std::array<quint32, 4> BaudRateTable{9600, 19200, 38400, 115200};

// Commands of one family, without line end. An empty command is not sent.
struct FamilyCommands {
    std::string_view ReadQuery;         // trigger a measurement, answer value and judgement
    std::string_view FetchQuery;        // answer the latest value and judgement
    std::string_view TemperatureQuery;  // answer the temperature
    std::string_view DataOutputOff;     // stop the meter's own data output (start of a run)
    std::string_view FormatCommand;     // sent right after identification
};

// Indexed by family; any value other than FamilyLyr and FamilyKtv selects the FamilyNone row.
[[nodiscard]] const FamilyCommands& CommandsOfFamily(int family);

// A model is supported when its name occurs anywhere in the model field of "*idn?".
struct SupportedModel {
    std::string_view Name;
    int Family;
};
// In match order; the first row found wins.
extern const std::array<SupportedModel, 4> SupportedModelTable;

// Largest reply text kept. A device that streams without ending its line cannot grow a reply
// without bound: characters past the cap are dropped until the line ends.
inline constexpr qsizetype MaxReplyLength = 4096;

// The instrument link: every exchange with the meter, from either thread and from the dialogs,
// goes through the one global object (TheMeterComm()).
class CMeterComm : public CSerialPort {
  public:
    CMeterComm(std::unique_ptr<ISerialDevice> device, std::unique_ptr<IPortEnumerator> enumerator);
    ~CMeterComm();

    // --- serial channel ---
    // Returns the new value of Connected. ModelFamily returns to FamilyNone at every open.
    [[nodiscard]] bool OpenPort(const QString& portName, quint32 baudRate);
    // OpenPort with SelectedPort and SelectedBaudRate; fails without touching any device when no
    // port was found by EnumeratePorts.
    [[nodiscard]] bool OpenConfigured();
    // Sends text + CR LF after purging the line; resets the reply state of PollReply. Commands
    // are 8-bit ASCII.
    bool SendCommand(std::string_view text);
    // A bare CR LF that ends any partial command in the meter's input; reply state left alone.
    bool SendLineEnd();
    // Non-blocking: takes the bytes waiting; true when this call found bytes and a complete
    // reply (CR and LF seen) is in ReplyBuffer.
    bool PollReply();
    // Blocking (holds PortLock while it waits): the reply line with ';' turned into ',', or an
    // empty text on time-out.
    [[nodiscard]] QString ReceiveReply(quint32 timeoutMs);

    // --- port discovery ---
    // Rebuilds the five port lists; SelectedPort becomes `preferred` when present, else the
    // first port found, and is kept when no port is present. `preferred` is taken by value:
    // callers pass SelectedPort itself, which the first accepted port overwrites before the
    // comparison.
    void EnumeratePorts(QString preferred);

    // --- identification ---
    // Sends "*idn?"; true when a reply came whose maker field is "ZORVA". Sets ModelFamily and
    // SerialNumber then; otherwise nothing changes.
    bool Identify(QString& maker, QString& model, QString& serial);
    // Tries every rate of BaudRateTable; the port is always left closed.
    bool ProbePort(const QString& portName, QString& model, QString& serial, quint32& baudRate);
    // Probes every listed port; results in FoundDescriptors, FoundSerials, PortBaudRates.
    void SearchAllPorts();

    // --- measurement queries ---
    void SendReadQuery();
    void SendFetchQuery();
    // The temperature text, empty on time-out or for FamilyNone (nothing is sent then).
    [[nodiscard]] QString QueryTemperature();
    // FamilyKtv replies: value ';' judgement becomes value ',' judgement; a reply without its
    // judgement gets the no-value marker in front.
    static void FixUpReply(QString& reply);

    // The device path a port name opens: "/dev/" + name, or the name itself when it holds a '/'
    // and lies in /dev or the virtual port directory. Empty (the open fails) for any other name,
    // and for any name holding "..".
    [[nodiscard]] static QString DevicePathFor(const QString& portName);

    // Read by the measurement thread without PortLock; every send and receive does nothing
    // unless it is true.
    std::atomic<bool> Connected{false};
    // Reply state of PollReply, reset by SendCommand.
    bool CrSeen = false;
    bool LfSeen = false;
    QString ReplyBuffer;

    // Port lists: entry i of each describes the i-th port found; always the same length.
    QStringList FriendlyNames;
    QStringList PortNames;
    QStringList FoundSerials;
    QStringList FoundDescriptors;
    QList<quint32> PortBaudRates;

    QString SelectedPort;
    quint32 SelectedBaudRate = 0;
    QString SerialNumber;
    int ModelFamily = FamilyNone;

    // Protects the device's input and output: held by SendCommand and SendLineEnd during purge
    // and write, by PollReply for one chunk, by ReceiveReply for its whole wait. Re-entrant.
    std::recursive_mutex PortLock;

  private:
    // Takes the bytes waiting (all or none of them) and feeds them through the line assembly.
    // `onComplete(lineEnded)` runs after every byte while both CR and LF are set; lineEnded is
    // true only for the byte that completed the line.
    template <typename OnComplete>
    void ReceiveChunk(bool& crSeen, bool& lfSeen, QString& text, OnComplete&& onComplete);

    std::unique_ptr<IPortEnumerator> Enumerator;
};

// The one global link, constructed during static initialisation (before main) with the termios
// device and the udev enumerator, and destroyed at process exit, closing the port if still open.
[[nodiscard]] CMeterComm& TheMeterComm();

}  // namespace lyr
